#include "modify/DirectoryOperations.h"

#include "namespace/FolderListing.h"
#include "vmlib/WindowsApi.h"

namespace {

// Local real paths start with "\\?\" and UNC paths with "\\": separators
// before index 4 never end a folder level.
constexpr size_t kFirstLevelSearchStart = 4;

bool EnsureFolder(const std::wstring& candidate) {
  return IsFolder(candidate) || ::CreateDirectoryW(candidate.c_str(), /*security=*/nullptr);
}

} // namespace

uint32_t CreateFolderTree(PluginBase& log, const std::wstring& realPath, const std::function<void()>& reconnect) {
  size_t position = realPath.size() > kFirstLevelSearchStart
                        ? realPath.find(L'\\', kFirstLevelSearchStart)
                        : std::wstring::npos;
  while (position != std::wstring::npos) {
    const size_t next = realPath.find(L'\\', position + 1);
    const std::wstring candidate = realPath.substr(0, next);
    if (!EnsureFolder(candidate)) {
      reconnect();
      if (!IsFolder(candidate) && !::CreateDirectoryW(candidate.c_str(), /*security=*/nullptr)) {
        const DWORD error = ::GetLastError();
        log.LogSystemError(Error, error, L"Can't create directory '%s'", candidate.c_str());
        return StatusFailure;
      }
    }
    position = next;
  }
  return IsFolder(realPath) ? StatusSuccess : StatusFailure;
}

uint32_t MoveRealItem(PluginBase& log, const std::wstring& realSource, const std::wstring& realTarget) {
  if (::MoveFileExW(realSource.c_str(), realTarget.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
    return StatusSuccess;
  }
  const DWORD error = ::GetLastError();
  log.LogSystemError(Error, error, L"Can't move file from '%s' to '%s'", realSource.c_str(), realTarget.c_str());
  return StatusFailure;
}
