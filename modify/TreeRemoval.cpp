#include "modify/TreeRemoval.h"

#include <vector>

#include "vmlib/DirectoryReader.h"
#include "vmlib/ExactItem.h"
#include "vmlib/WindowsApi.h"

namespace {

struct TreeEntry {
  std::wstring name;
  bool folder;
  bool link;
};

// One folder level of the walk. Entries are read whole before any is
// removed, so the walk holds one search handle at a time however deep the
// tree is.
struct Frame {
  std::wstring path;   // as given, used for the folder's own removal
  std::wstring prefix; // path with one trailing separator
  std::vector<TreeEntry> entries;
  size_t next = 0;
  bool childFailed = false;
};

// Removing needs DELETE; clearing read-only, hidden and system first needs
// FILE_WRITE_ATTRIBUTES.
constexpr DWORD kRemovalAccess = DELETE | FILE_WRITE_ATTRIBUTES;

bool IsMissing(uint32_t code) {
  return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
}

const wchar_t kFolderFailure[] = L"Computer: cannot delete directory '%s'";
const wchar_t kFileFailure[] = L"Computer: cannot delete file '%s'";

} // namespace

void TreeRemoval::ReportFailure(const wchar_t* format, const std::wstring& realPath, uint32_t code) {
  log_.LogSystemError(Error, code, format, realPath.c_str());
}

uint32_t TreeRemoval::RemoveTree(const std::wstring& realPath) {
  std::vector<Frame> stack;
  // Walked with an explicit stack so that depth cannot exhaust the thread's
  // stack. False when the folder was not entered (its failure is reported).
  auto enter = [this, &stack](const std::wstring& folder) {
    Frame frame;
    frame.path = folder;
    frame.prefix = (!folder.empty() && folder.back() == L'\\') ? folder : folder + L'\\';
    // Looked at without DELETE access, which Wine refuses on a folder while
    // a file below it is open.
    VMLib::ExactItem item;
    const uint32_t openStatus = item.Open(folder, /*access=*/0);
    if (openStatus != 0) {
      ReportFailure(kFolderFailure, folder, openStatus);
      return false;
    }
    // A link is removed as a link, without a look inside: what it leads to
    // may lie anywhere.
    if (item.GetMatch() != VMLib::ExactItem::Match::Exact) return RemoveNamed(folder, kFolderFailure);
    VMLib::DirectoryReader reader;
    // A folder that cannot be read stays, and says why rather than
    // "directory not empty".
    if (!reader.Open(frame.prefix)) {
      if (!IsMissing(reader.Error())) {
        ReportFailure(kFolderFailure, folder, reader.Error());
        frame.childFailed = true;
      }
    } else {
      VMLib::DirectoryReader::Result result;
      while ((result = reader.Next()) == VMLib::DirectoryReader::Result::Entry) {
        frame.entries.push_back({reader.Name(), reader.IsFolder(), reader.IsLink()});
      }
      if (result == VMLib::DirectoryReader::Result::Error) {
        ReportFailure(kFolderFailure, folder, reader.Error());
        frame.childFailed = true;
      }
    }
    stack.push_back(std::move(frame));
    return true;
  };

  if (!enter(realPath)) return StatusFailure;
  if (stack.empty()) return StatusSuccess; // the path was a link, and it is gone
  uint32_t result = StatusSuccess;
  while (!stack.empty()) {
    Frame& frame = stack.back();
    if (frame.next < frame.entries.size()) {
      const TreeEntry& entry = frame.entries[frame.next++];
      const std::wstring child = frame.prefix + entry.name;
      bool removed = true;
      if (entry.folder && !entry.link) {
        const size_t depth = stack.size();
        removed = enter(child); // may invalidate `frame`
        if (removed && stack.size() > depth) continue;
      } else {
        removed = DeleteRealFile(child) == StatusSuccess;
      }
      if (!removed) stack.back().childFailed = true;
      continue;
    }

    // The failing items have reported; the folders above them stay silently.
    const bool removed = !frame.childFailed && RemoveNamed(frame.path, kFolderFailure);
    stack.pop_back();
    if (stack.empty()) {
      result = removed ? StatusSuccess : StatusFailure;
    } else if (!removed) {
      stack.back().childFailed = true;
    }
  }
  return result;
}

bool TreeRemoval::RemoveItem(VMLib::ExactItem& item, const std::wstring& realPath, const wchar_t* format) {
  // On Windows a link opens as itself and goes like any item. Wine 8 opens
  // what a link leads to, whatever the flags, and a name can also reach
  // another item through its short name: the handle is then not the named
  // item's, and nothing is deleted through it.
  if (item.GetMatch() == VMLib::ExactItem::Match::Elsewhere) {
    log_.LogOtherItem(L"delete", realPath, item.FinalPath());
    return false;
  }
  const uint32_t status = item.Delete();
  if (status == 0) return true;
  ReportFailure(format, realPath, status);
  return false;
}

bool TreeRemoval::RemoveNamed(const std::wstring& realPath, const wchar_t* format) {
  VMLib::ExactItem item;
  const uint32_t status = item.Open(realPath, kRemovalAccess);
  // A file that is already gone counts as removed; one whose folder is
  // missing (code 3) does not, nor does a folder that is gone.
  if (status == ERROR_FILE_NOT_FOUND && format == kFileFailure) return true;
  if (status != 0) {
    ReportFailure(format, realPath, status);
    return false;
  }
  return RemoveItem(item, realPath, format);
}

uint32_t TreeRemoval::DeleteRealFile(const std::wstring& realPath) {
  return RemoveNamed(realPath, kFileFailure) ? StatusSuccess : StatusFailure;
}
