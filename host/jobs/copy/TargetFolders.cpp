#include "host/jobs/copy/TargetFolders.h"

#include <utility>

#include "host/jobs/Transfer.h"
#include "host/session/LocalFile.h"
#include "host/session/Text.h"

namespace host {

TargetFolders::TargetFolders(IBackupDataWrite& target, const HostLog& log, const std::wstring& to, bool dryRun,
                             Fail fail)
    : target_(target), log_(log), to_(to), dryRun_(dryRun), fail_(std::move(fail)) {}

void TargetFolders::Enter(const std::wstring& relative) {
  const std::wstring unlisted = Unlisted();
  folders_.push_back(unlisted.empty() ? List(relative) : Folder{{}, unlisted, {}});
}

const std::wstring& TargetFolders::Unlisted() const {
  static const std::wstring listed;
  return folders_.empty() ? listed : folders_.back().unlisted;
}

const TargetFolders::Listing::value_type* TargetFolders::Namesake(const std::wstring& relative) const {
  const Listing& listing = folders_.back().entries;
  const auto found = listing.find(LeafName(relative));
  return found == listing.end() ? nullptr : &*found;
}

TargetFolders::Folder TargetFolders::List(const std::wstring& relative) {
  Folder folder;
  if (!relative.empty() && Namesake(relative) == nullptr) return folder;
  const std::wstring path = ChildPath(to_, relative);
  // A dry run does not create DST.
  FileInfo info;
  if (dryRun_ && relative.empty() && target_.QueryFileInfo(path, info) == StatusNotFound) return folder;
  std::vector<FolderEntry> entries;
  std::wstring problem;
  if (!ListSorted(target_, log_, path, entries, problem)) {
    folder.unlisted = L"DST folder " + Quoted(path) + L" cannot be listed (" + problem +
                      L"); what it holds is unknown, so nothing is written into it";
    return folder;
  }
  for (FolderEntry& entry : entries) {
    if (IsTemporaryName(entry.name) && !IsFolder(entry.info)) {
      if (!dryRun_) ClearTemporary(relative, entry.name, folder);
      continue;
    }
    folder.entries.emplace(std::move(entry.name), entry.info);
  }
  return folder;
}

// Only a file that is what its name says is removed: a link planted under a
// temporary name is left alone, and so is what the plug-in refuses to
// remove. Either way the name stays taken, and the file whose copy would be
// written under it is not replaced.
void TargetFolders::ClearTemporary(const std::wstring& relative, const std::wstring& name, Folder& folder) {
  const std::wstring path = ChildPath(ChildPath(to_, relative), name);
  std::wstring problem = LinkAt(path);
  if (problem.empty()) {
    const uint64_t mark = log_.MessageCount();
    const uint32_t status = target_.RemoveFile(path);
    if (status == StatusSuccess) return;
    problem = PluginFailure(log_, mark, L"cannot remove " + Quoted(path), status).message();
  }
  fail_(ChildPath(relative, name), L"named as a partial copy of a run that did not finish, but not removed: " + problem);
  folder.kept.insert(name);
}

} // namespace host
