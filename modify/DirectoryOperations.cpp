#include <vector>

#include "instance/PluginImplementation.h"

namespace {

bool IsFolder(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Local real paths start with "\\?\" and UNC paths with "\\": separators
// before index 4 never end a folder level.
constexpr size_t kFirstLevelSearchStart = 4;

struct TreeEntry {
  std::wstring name;
  DWORD attributes;
};

// The entries of one folder in search order, "." and ".." left out.
std::vector<TreeEntry> ReadFolderEntries(const std::wstring& folderWithSeparator) {
  std::vector<TreeEntry> entries;
  WIN32_FIND_DATAW data;
  VMLib::UniqueFind search(::FindFirstFileW((folderWithSeparator + L"*").c_str(), &data));
  if (!search) return entries;
  do {
    const std::wstring name = data.cFileName;
    if (name != L"." && name != L"..") entries.push_back({name, data.dwFileAttributes});
  } while (::FindNextFileW(search.get(), &data));
  return entries;
}

} // namespace

bool PluginImplementation::EnsureFolder(const std::wstring& candidate) {
  return IsFolder(candidate) || ::CreateDirectoryW(candidate.c_str(), /*security=*/nullptr);
}

uint32_t PluginImplementation::CreateFolder(const std::wstring& path) {
  if (!ValidatePath(path)) return StatusFailure;
  const std::wstring realPath = MapPath(path);

  size_t position = realPath.size() > kFirstLevelSearchStart
                        ? realPath.find(L'\\', kFirstLevelSearchStart)
                        : std::wstring::npos;
  while (position != std::wstring::npos) {
    const size_t next = realPath.find(L'\\', position + 1);
    const std::wstring candidate = realPath.substr(0, next);
    if (!EnsureFolder(candidate)) {
      // The level may live on a network location whose connection dropped.
      if (locationsConnected) DisconnectLocations();
      ConnectLocations();
      if (!IsFolder(candidate)) {
        if (!::CreateDirectoryW(candidate.c_str(), /*security=*/nullptr)) {
          const DWORD error = ::GetLastError();
          LogSystemError(Error, error, L"Can't create directory '%s'", candidate.c_str());
          return StatusFailure;
        }
      }
    }
    position = next;
  }
  return IsFolder(realPath) ? StatusSuccess : StatusFailure;
}

uint32_t PluginImplementation::RemoveFolder(const std::wstring& path) {
  // A shorter path would reach Windows unchanged and resolve against the
  // current drive or folder: never remove that.
  if (path.size() < 2) return StatusFailure;
  return RemoveTree(MapPath(path));
}

uint32_t PluginImplementation::RemoveFile(const std::wstring& path) {
  if (path.size() < 2) return StatusFailure;
  return DeleteRealFile(MapPath(path));
}

bool PluginImplementation::RemoveLinkedFolder(const std::wstring& path) {
  // A junction or directory link is removed as a link: its target may lie
  // outside the folder asked for and is never entered or changed.
  if (::RemoveDirectoryW(path.c_str())) return true;
  const DWORD error = ::GetLastError();
  LogSystemError(Error, error, L"Computer: cannot delete directory '%s'", path.c_str());
  return false;
}

uint32_t PluginImplementation::RemoveTree(const std::wstring& path) {
  // Walked with an explicit stack so that depth cannot exhaust the thread's
  // stack. Order is that of a recursive walk: entries in search order, each
  // folder's children before the folder itself.
  struct Frame {
    std::wstring path;     // as given, used for the folder's own removal
    std::wstring prefix;   // path with one trailing separator
    std::vector<TreeEntry> entries;
    size_t next = 0;
    bool childFailed = false;
  };
  auto makeFrame = [](const std::wstring& folder) {
    Frame frame;
    frame.path = folder;
    frame.prefix = (!folder.empty() && folder.back() == L'\\') ? folder : folder + L'\\';
    frame.entries = ReadFolderEntries(frame.prefix);
    return frame;
  };

  std::vector<Frame> stack;
  stack.push_back(makeFrame(path));
  uint32_t result = StatusSuccess;
  while (!stack.empty()) {
    Frame& frame = stack.back();
    if (frame.next < frame.entries.size()) {
      const TreeEntry& entry = frame.entries[frame.next++];
      const std::wstring child = frame.prefix + entry.name;
      if ((entry.attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        if (DeleteRealFile(child) != StatusSuccess) frame.childFailed = true;
      } else if (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        if (!RemoveLinkedFolder(child)) frame.childFailed = true;
      } else {
        stack.push_back(makeFrame(child)); // invalidates `frame`
      }
      continue;
    }

    // All children handled: remove this folder unless one of them stayed.
    bool removed = false;
    if (!frame.childFailed) {
      if (::SetFileAttributesW(frame.path.c_str(), FILE_ATTRIBUTE_DIRECTORY) &&
          ::RemoveDirectoryW(frame.path.c_str())) {
        removed = true;
      } else {
        const DWORD error = ::GetLastError();
        LogSystemError(Error, error, L"Computer: cannot delete directory '%s'", frame.path.c_str());
      }
    }
    stack.pop_back();
    if (stack.empty()) {
      result = removed ? StatusSuccess : StatusFailure;
    } else if (!removed) {
      stack.back().childFailed = true;
    }
  }
  return result;
}

uint32_t PluginImplementation::DeleteRealFile(const std::wstring& path) {
  if (::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL) && ::DeleteFileW(path.c_str())) {
    return StatusSuccess;
  }
  const DWORD error = ::GetLastError();
  if (error == ERROR_FILE_NOT_FOUND) return StatusSuccess;
  LogSystemError(Error, error, L"Computer: cannot delete file '%s'", path.c_str());
  return StatusFailure;
}

uint32_t PluginImplementation::MoveItem(const std::wstring& source, const std::wstring& target) {
  if (!ValidatePath(source) || !ValidatePath(target)) return StatusFailure;
  const std::wstring realSource = MapPath(source);
  const std::wstring realTarget = MapPath(target);
  if (::MoveFileExW(realSource.c_str(), realTarget.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
    return StatusSuccess;
  }
  const DWORD error = ::GetLastError();
  LogSystemError(Error, error, L"Can't move file from '%s' to '%s'", realSource.c_str(), realTarget.c_str());
  return StatusFailure;
}
