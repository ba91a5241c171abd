#include "modify/TreeRemoval.h"

#include <vector>

#include "vmlib/DirectoryReader.h"
#include "vmlib/ScopedHandle.h"
#include "vmlib/WindowsApi.h"

namespace {

struct TreeEntry {
  std::wstring name;
  bool folder;
  bool link;
};

// One folder level of the walk. Entries are read whole before any is removed,
// so the walk holds one search handle at a time however deep the tree is.
struct Frame {
  std::wstring path;   // as given, used for the folder's own removal
  std::wstring prefix; // path with one trailing separator
  std::vector<TreeEntry> entries;
  size_t next = 0;
  bool childFailed = false;
};

bool IsMissing(uint32_t code) {
  return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
}

bool IsLink(const std::wstring& realPath) {
  const DWORD attributes = ::GetFileAttributesW(realPath.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

const wchar_t kFolderFailure[] = L"Computer: cannot delete directory '%s'";
const wchar_t kFileFailure[] = L"Computer: cannot delete file '%s'";

} // namespace

void TreeRemoval::ReportFailure(const wchar_t* format, const std::wstring& realPath, uint32_t code) {
  log_.LogSystemError(Error, code, format, realPath.c_str());
}

uint32_t TreeRemoval::RemoveTree(const std::wstring& realPath) {
  if (IsLink(realPath)) return RemoveLink(realPath, kFolderFailure) ? StatusSuccess : StatusFailure;

  // Walked with an explicit stack so that depth cannot exhaust the thread's stack.
  auto makeFrame = [this](const std::wstring& folder) {
    Frame frame;
    frame.path = folder;
    frame.prefix = (!folder.empty() && folder.back() == L'\\') ? folder : folder + L'\\';
    VMLib::DirectoryReader reader;
    // A folder that is missing fails at its own removal, with the code that
    // the system gives there; one that cannot be read stays, and says why
    // rather than "directory not empty".
    if (!reader.Open(frame.prefix)) {
      if (!IsMissing(reader.Error())) {
        ReportFailure(kFolderFailure, folder, reader.Error());
        frame.childFailed = true;
      }
      return frame;
    }
    VMLib::DirectoryReader::Result result;
    while ((result = reader.Next()) == VMLib::DirectoryReader::Result::Entry) {
      frame.entries.push_back({reader.Name(), reader.IsFolder(), reader.IsLink()});
    }
    if (result == VMLib::DirectoryReader::Result::Error) {
      ReportFailure(kFolderFailure, folder, reader.Error());
      frame.childFailed = true;
    }
    return frame;
  };

  std::vector<Frame> stack;
  stack.push_back(makeFrame(realPath));
  uint32_t result = StatusSuccess;
  while (!stack.empty()) {
    Frame& frame = stack.back();
    if (frame.next < frame.entries.size()) {
      const TreeEntry& entry = frame.entries[frame.next++];
      const std::wstring child = frame.prefix + entry.name;
      if (entry.link) {
        if (!RemoveLink(child, entry.folder ? kFolderFailure : kFileFailure)) frame.childFailed = true;
      } else if (!entry.folder) {
        if (DeleteRealFile(child) != StatusSuccess) frame.childFailed = true;
      } else {
        stack.push_back(makeFrame(child)); // invalidates `frame`
      }
      continue;
    }

    // The failing items have reported; the folders above them stay silently.
    const bool removed = !frame.childFailed && RemoveEmptyFolder(frame.path);
    stack.pop_back();
    if (stack.empty()) {
      result = removed ? StatusSuccess : StatusFailure;
    } else if (!removed) {
      stack.back().childFailed = true;
    }
  }
  return result;
}

bool TreeRemoval::RemoveEmptyFolder(const std::wstring& realPath) {
  if (::SetFileAttributesW(realPath.c_str(), FILE_ATTRIBUTE_DIRECTORY) && ::RemoveDirectoryW(realPath.c_str())) {
    return true;
  }
  const DWORD error = ::GetLastError();
  ReportFailure(kFolderFailure, realPath, error);
  return false;
}

bool TreeRemoval::RemoveLink(const std::wstring& realPath, const wchar_t* format) {
  // The link is deleted through a handle to the link itself, checked to be
  // one first. Windows opens the link with FILE_FLAG_OPEN_REPARSE_POINT, and
  // a delete disposition on that handle removes the link whatever its target
  // holds (RemoveDirectoryW does the same inside). Wine 8 opens the target
  // instead, without the reparse bit: there RemoveDirectoryW on a link
  // deletes an empty target, or fails with ERROR_DIR_NOT_EMPTY, DeleteFileW
  // fails with access denied, and renaming the link does not return. So a
  // handle that is not the link's own is never used to delete anything.
  VMLib::UniqueFile link(::CreateFileW(realPath.c_str(), DELETE | FILE_READ_ATTRIBUTES,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       /*security=*/nullptr, OPEN_EXISTING,
                                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                       /*templateFile=*/nullptr));
  if (!link) {
    const DWORD error = ::GetLastError();
    ReportFailure(format, realPath, error);
    return false;
  }
  FILE_ATTRIBUTE_TAG_INFO tag = {};
  if (!::GetFileInformationByHandleEx(link.get(), FileAttributeTagInfo, &tag, sizeof(tag))) {
    const DWORD error = ::GetLastError();
    ReportFailure(format, realPath, error);
    return false;
  }
  if ((tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    log_.LogMessage(Error,
                    L"Computer: cannot delete link '%s': this system opens what it points to instead of the link "
                    L"itself, so both are left as they are",
                    realPath.c_str());
    return false;
  }
  FILE_DISPOSITION_INFO disposition = {};
  disposition.DeleteFile = TRUE;
  if (!::SetFileInformationByHandle(link.get(), FileDispositionInfo, &disposition, sizeof(disposition))) {
    const DWORD error = ::GetLastError();
    ReportFailure(format, realPath, error);
    return false;
  }
  return true;
}

uint32_t TreeRemoval::DeleteRealFile(const std::wstring& realPath) {
  // Clearing the attributes of a link would change its target's.
  if (IsLink(realPath)) return RemoveLink(realPath, kFileFailure) ? StatusSuccess : StatusFailure;
  if (::SetFileAttributesW(realPath.c_str(), FILE_ATTRIBUTE_NORMAL) && ::DeleteFileW(realPath.c_str())) {
    return StatusSuccess;
  }
  const DWORD error = ::GetLastError();
  if (error == ERROR_FILE_NOT_FOUND) return StatusSuccess;
  ReportFailure(kFileFailure, realPath, error);
  return StatusFailure;
}
