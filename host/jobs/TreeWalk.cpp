#include "host/jobs/TreeWalk.h"

#include <algorithm>
#include <map>
#include <utility>

#include "host/session/Text.h"
#include "vmlib/WindowsApi.h"

namespace host {

namespace {

int CompareNames(const std::wstring& a, const std::wstring& b) {
  return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                /*ignoreCase=*/TRUE);
}

// The root of an empty volume has no entry at all, not even "." and "..",
// so the search the plug-in lists it with fails with ERROR_FILE_NOT_FOUND;
// it reports that as a failed listing ("Can't get folder listing (...)") and
// answers success with no entries. A freshly formatted drive is such a root.
bool IsEmptyDriveAnswer(const std::wstring& path, const std::vector<FolderEntry>& entries,
                        const std::wstring& problem) {
  const std::wstring start = L"Can't get folder listing (";
  const std::wstring end = L"(0x00000002)";
  return path.size() == 2 && entries.empty() && problem.compare(0, start.size(), start) == 0 &&
         problem.size() >= end.size() && problem.compare(problem.size() - end.size(), end.size(), end) == 0;
}

class Counter final : public TreeVisitor {
public:
  explicit Counter(const std::function<void(const std::wstring&)>& onFolder) : onFolder_(onFolder) {}

  bool EnterFolder(const std::wstring& relative, const FileInfo&) override {
    if (!relative.empty()) ++totals.folders;
    if (onFolder_) onFolder_(relative);
    return true;
  }
  void VisitFile(const std::wstring&, const FileInfo& info) override {
    ++totals.files;
    totals.bytes += info.size;
  }
  void LeaveFolder(const std::wstring&, const FileInfo&) override {}
  void ListingFailed(const std::wstring&, const std::wstring&) override {}
  void VisitLink(const std::wstring&, const FileInfo&) override {}
  void VisitNameClash(const std::wstring& relative, const FileInfo& info, const std::wstring&, NameClash) override {
    if (IsFolder(info)) {
      ++totals.folders;
    } else {
      VisitFile(relative, info);
    }
  }

  TreeTotals totals;

private:
  const std::function<void(const std::wstring&)>& onFolder_;
};

} // namespace

bool IsFolder(const FileInfo& info) {
  return (info.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsLinkedFolder(const FileInfo& info) {
  return IsFolder(info) && (info.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool SameName(const std::wstring& a, const std::wstring& b) {
  return CompareNames(a, b) == CSTR_EQUAL;
}

bool NameLess::operator()(const std::wstring& a, const std::wstring& b) const {
  return CompareNames(a, b) == CSTR_LESS_THAN;
}

std::wstring UnusableName(const std::wstring& name) {
  if (name.empty() || (name.back() != L'.' && name.back() != L' ')) return L"";
  return L"its name ends in " + std::wstring(name.back() == L'.' ? L"a period" : L"a blank") +
         L", which Windows can hold but the plug-in does not open or create; rename it to copy it";
}

std::wstring ChildPath(const std::wstring& root, const std::wstring& relative) {
  if (relative.empty()) return root;
  return root.empty() ? relative : root + L"\\" + relative;
}

std::wstring LeafName(const std::wstring& path) {
  const size_t separator = path.rfind(L'\\');
  return separator == std::wstring::npos ? path : path.substr(separator + 1);
}

std::wstring WithLeaf(const std::wstring& path, const std::wstring& leaf) {
  return path.substr(0, path.size() - LeafName(path).size()) + leaf;
}

std::wstring TrimmedPath(std::wstring path) {
  while (path.size() > 2 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
  return path;
}

bool IsDriveOrRoot(const std::wstring& path) {
  return path.size() <= 2;
}

bool ListSorted(IBackupDataRead& data, const HostLog& log, const std::wstring& path,
                std::vector<FolderEntry>& entries, std::wstring& problem) {
  const uint64_t mark = log.MessageCount();
  FolderList list;
  const uint32_t status = data.ListFolder(path, list);
  entries.assign(std::make_move_iterator(list.begin()), std::make_move_iterator(list.end()));
  std::sort(entries.begin(), entries.end(), [](const FolderEntry& a, const FolderEntry& b) {
    if (IsFolder(a.info) != IsFolder(b.info)) return IsFolder(a.info);
    const int order = CompareNames(a.name, b.name);
    return order != CSTR_EQUAL ? order == CSTR_LESS_THAN : a.name < b.name;
  });
  // The plug-in answers success with an empty list when Windows refuses the
  // listing, and says why only in its log.
  if (status != StatusSuccess) {
    problem = PluginFailure(log, mark, L"cannot list " + Quoted(path), status).message();
  } else {
    problem = log.LastProblemSince(mark, Error);
  }
  if (IsEmptyDriveAnswer(path, entries, problem)) {
    log.Note(Quoted(path) + L" is an empty drive, taken as an empty folder: the listing of a drive's root that "
                            L"holds nothing at all fails as above",
             /*onConsole=*/true);
    problem.clear();
  }
  return problem.empty();
}

FileInfo RequireFolder(IBackupDataRead& data, const HostLog& log, const std::wstring& path, const wchar_t* role) {
  const uint64_t mark = log.MessageCount();
  FileInfo info;
  const uint32_t status = data.QueryFileInfo(path, info);
  if (status == StatusNotFound) throw HostError(std::wstring(role) + L" " + Quoted(path) + L" does not exist");
  if (status != StatusSuccess) {
    throw PluginFailure(log, mark, std::wstring(L"cannot query ") + role + L" " + Quoted(path), status);
  }
  if (!IsFolder(info)) throw HostError(std::wstring(role) + L" " + Quoted(path) + L" is not a folder");
  return info;
}

void WalkTree(IBackupDataRead& data, const HostLog& log, const std::wstring& root, const FileInfo& rootInfo,
              TreeVisitor& visitor) {
  struct Frame {
    std::wstring relative;
    FileInfo info;
    std::vector<FolderEntry> entries;
    // Per entry: why its name is not its own (empty when it is), and how.
    std::vector<std::pair<std::wstring, NameClash>> clashes;
    size_t next = 0;
  };
  std::vector<Frame> stack;
  const auto enter = [&](const std::wstring& relative, const FileInfo& info) {
    if (!visitor.EnterFolder(relative, info)) return;
    Frame frame{relative, info, {}, {}, 0};
    std::wstring problem;
    if (!ListSorted(data, log, ChildPath(root, relative), frame.entries, problem)) {
      visitor.ListingFailed(relative, problem);
    }
    frame.clashes.resize(frame.entries.size(), {L"", NameClash::Case});
    std::map<std::wstring, std::wstring, NameLess> firsts;
    std::map<std::wstring, size_t> exact;
    for (const FolderEntry& entry : frame.entries) ++exact[entry.name];
    for (size_t i = 0; i < frame.entries.size(); ++i) {
      const std::wstring& name = frame.entries[i].name;
      const size_t separator = name.find_first_of(L"\\/");
      if (separator != std::wstring::npos) {
        frame.clashes[i] = {L"its name holds '" + name.substr(separator, 1) +
                                L"', which Windows takes for a separator between folders, so no path names it; "
                                L"rename it to copy it",
                            NameClash::Separator};
      } else if (exact[name] > 1) {
        frame.clashes[i] = {L"the name could not be read exactly: SRC gave " + std::to_wstring(exact[name]) +
                                L" items this one name (a name that is not valid text there, such as one not in "
                                L"UTF-8 on a Linux share), so none of them can be told apart; rename them to copy them",
                            NameClash::Inexact};
      } else if (const auto [first, isNew] = firsts.emplace(name, name); !isNew) {
        frame.clashes[i] = {L"its name differs only in case from " + first->second + L"; DST cannot hold both",
                            NameClash::Case};
      }
    }
    stack.push_back(std::move(frame));
  };

  enter(L"", rootInfo);
  while (!stack.empty()) {
    Frame& frame = stack.back();
    if (frame.next < frame.entries.size() && !visitor.Stopped()) {
      // A copy: entering a folder grows the stack and moves the frames.
      const std::pair<std::wstring, NameClash> clash = frame.clashes[frame.next];
      const FolderEntry entry = frame.entries[frame.next++];
      const std::wstring relative = ChildPath(frame.relative, entry.name);
      if (!clash.first.empty()) {
        visitor.VisitNameClash(relative, entry.info, clash.first, clash.second);
      } else if (IsLinkedFolder(entry.info)) {
        visitor.VisitLink(relative, entry.info);
      } else if (IsFolder(entry.info)) {
        enter(relative, entry.info);
      } else {
        visitor.VisitFile(relative, entry.info);
      }
      continue;
    }
    const Frame done = std::move(frame);
    stack.pop_back();
    visitor.LeaveFolder(done.relative, done.info);
  }
}

TreeTotals CountTree(IBackupDataRead& data, const HostLog& log, const std::wstring& root, const FileInfo& rootInfo,
                     const std::function<void(const std::wstring& relative)>& onFolder) {
  Counter counter(onFolder);
  WalkTree(data, log, root, rootInfo, counter);
  return counter.totals;
}

} // namespace host
