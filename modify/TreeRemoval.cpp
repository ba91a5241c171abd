#include "modify/TreeRemoval.h"

#include <utility>
#include <vector>

#include "vmlib/WindowsApi.h"

namespace {

const wchar_t kFolderFailure[] = L"Computer: cannot delete directory '%s'";
const wchar_t kFileFailure[] = L"Computer: cannot delete file '%s'";

// Removing needs DELETE; clearing read-only, hidden and system first needs
// FILE_WRITE_ATTRIBUTES.
constexpr ACCESS_MASK kRemovalAccess = DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;

} // namespace

// One folder level of the walk, held open until what is in it is gone. Its
// entries are read whole before any is removed.
struct TreeRemoval::Frame {
  items::HeldFolder folder;
  items::ItemFacts facts;
  std::vector<items::FolderItem> entries;
  size_t next = 0;
  bool childFailed = false;
};

void TreeRemoval::ReportFailure(const wchar_t* format, const std::wstring& realPath, uint32_t code) {
  log_.LogSystemError(Error, code, format, realPath.c_str());
}

bool TreeRemoval::ReportUnreached(DWORD status, const items::Refusal& refusal, const wchar_t* format,
                                  const std::wstring& realPath) {
  if (refusal) {
    log_.LogRefused(L"delete", refusal.path, refusal.Reason());
  } else if (status != 0) {
    ReportFailure(format, realPath, status);
  }
  return refusal || status != 0;
}

bool TreeRemoval::RemoveChecked(items::HeldFolder& folder, const std::wstring& name, HANDLE handle,
                                const items::ItemFacts& facts, const wchar_t* format) {
  const std::wstring path = folder.PathOf(name);
  // Windows opens a link itself, which then goes like any item. Wine 8
  // opens what a link leads to, and deletes that through the handle.
  if (facts.IsLink() && !facts.HoldsLinkItself()) {
    log_.LogRefused(L"delete", path, items::Refusal{items::Refusal::Kind::FollowedLink, path}.Reason());
    return false;
  }
  const DWORD status = items::DeleteThrough(handle, facts);
  if (status == 0) return true;
  ReportFailure(format, path, status);
  return false;
}

bool TreeRemoval::RemoveEntry(items::HeldFolder& folder, const std::wstring& name, ULONG options) {
  items::OpenRequest request;
  request.access = kRemovalAccess;
  request.options = options;
  VMLib::UniqueFile handle;
  items::ItemFacts facts;
  items::Refusal refusal;
  const DWORD status = folders_.OpenChild(folder, name, request, handle, facts, refusal);
  // A file that is already gone counts as removed.
  if (status == ERROR_FILE_NOT_FOUND) return true;
  if (ReportUnreached(status, refusal, kFileFailure, folder.PathOf(name))) return false;
  return RemoveChecked(folder, name, handle.get(), facts, kFileFailure);
}

bool TreeRemoval::Enter(items::HeldFolder& parent, const std::wstring& name, Frame& frame, bool& gone) {
  gone = false;
  const std::wstring path = parent.PathOf(name);
  items::OpenRequest request;
  // Looked at without DELETE access, which Wine refuses on a folder while a
  // file below it is open; taken when the folder is empty.
  request.access = items::kFolderAccess;
  request.options = FILE_DIRECTORY_FILE;
  items::Refusal refusal;
  const DWORD status = folders_.OpenChild(parent, name, request, frame.folder.handle, frame.facts, refusal);
  if (ReportUnreached(status, refusal, kFolderFailure, path)) return false;
  // A link is removed as a link, without a look inside: what it leads to
  // may lie anywhere.
  if (frame.facts.IsLink()) {
    VMLib::UniqueFile link;
    const DWORD reopenStatus = frame.facts.HoldsLinkItself()
                                   ? items::Reopen(frame.folder.handle.get(), kRemovalAccess, items::kShareAll, 0, link)
                                   : 0;
    if (reopenStatus != 0) {
      ReportFailure(kFolderFailure, path, reopenStatus);
      return false;
    }
    gone = RemoveChecked(parent, name, frame.facts.HoldsLinkItself() ? link.get() : frame.folder.handle.get(),
                         frame.facts, kFolderFailure);
    return false;
  }
  frame.folder.path = path;
  frame.folder.wideIds = parent.wideIds;
  items::FolderReader reader(frame.folder.handle.get(), frame.folder.wideIds);
  items::FolderReader::Result result;
  while ((result = reader.Next()) == items::FolderReader::Result::Entry) {
    frame.entries.push_back(reader.Item());
    folders_.Record(frame.folder, reader.Item());
  }
  // A folder that cannot be read stays, and says why rather than
  // "directory not empty".
  if (result == items::FolderReader::Result::Error) {
    ReportFailure(kFolderFailure, path, reader.Error());
    frame.childFailed = true;
  }
  return true;
}

uint32_t TreeRemoval::RemoveTree(const std::wstring& realPath) {
  items::HeldFolder* top = nullptr;
  std::wstring name;
  items::Refusal refusal;
  if (ReportUnreached(folders_.Parent(realPath, top, name, refusal), refusal, kFolderFailure, realPath)) {
    return StatusFailure;
  }
  // Walked with an explicit stack of held folders, so that depth cannot
  // exhaust the thread's stack and every level is reached through the one
  // above it, whatever its name leads to by now.
  std::vector<Frame> stack(1);
  bool gone = false;
  if (!Enter(*top, name, stack.back(), gone)) {
    if (gone) folders_.Unrecord(*top, name);
    return gone ? StatusSuccess : StatusFailure;
  }
  bool removed = false;
  while (!stack.empty()) {
    Frame& frame = stack.back();
    if (frame.next < frame.entries.size()) {
      const items::FolderItem& entry = frame.entries[frame.next++];
      bool childRemoved = true;
      if (!items::IsOneComponent(entry.name)) {
        const std::wstring shown = frame.folder.PathOf(entry.name);
        log_.LogRefused(L"delete", shown, items::Refusal{items::Refusal::Kind::NotOneComponent, shown}.Reason());
        childRemoved = false;
      } else if (entry.IsFolder() && !entry.IsLink()) {
        Frame child;
        bool childGone = false;
        childRemoved = Enter(frame.folder, entry.name, child, childGone);
        if (childRemoved) {
          stack.push_back(std::move(child)); // invalidates `frame`
          continue;
        }
        childRemoved = childGone;
      } else {
        childRemoved = RemoveEntry(frame.folder, entry.name, /*options=*/0);
      }
      if (!childRemoved) frame.childFailed = true;
      continue;
    }

    // The failing items have reported; the folders above them stay silently.
    removed = false;
    if (!frame.childFailed) {
      VMLib::UniqueFile deletable;
      const DWORD reopenStatus = items::Reopen(frame.folder.handle.get(), kRemovalAccess, items::kShareAll,
                                               FILE_DIRECTORY_FILE, deletable);
      const DWORD status = reopenStatus != 0 ? reopenStatus : items::DeleteThrough(deletable.get(), frame.facts);
      removed = status == 0;
      if (!removed) ReportFailure(kFolderFailure, frame.folder.path, status);
    }
    stack.pop_back();
    if (!stack.empty() && !removed) stack.back().childFailed = true;
  }
  // What the instance held of the tree goes with it. The walk above opened
  // nothing through the held folders, so `top` is still held.
  folders_.Forget(top->PathOf(name));
  if (removed) folders_.Unrecord(*top, name);
  return removed ? StatusSuccess : StatusFailure;
}

uint32_t TreeRemoval::DeleteRealFile(const std::wstring& realPath) {
  items::HeldFolder* folder = nullptr;
  std::wstring name;
  items::Refusal refusal;
  // A file whose folder is missing is not taken for removed (code 3).
  if (ReportUnreached(folders_.Parent(realPath, folder, name, refusal), refusal, kFileFailure, realPath)) {
    return StatusFailure;
  }
  // Files only: a folder fails as a deletion of a file by name fails.
  if (!RemoveEntry(*folder, name, FILE_NON_DIRECTORY_FILE)) return StatusFailure;
  folders_.Unrecord(*folder, name);
  return StatusSuccess;
}
