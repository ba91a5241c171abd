#include "modify/DirectoryOperations.h"

#include "namespace/FolderListing.h"
#include "vmlib/ExactItem.h"
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
  auto fail = [&](uint32_t code) {
    log.LogSystemError(Error, code, L"Can't move file from '%s' to '%s'", realSource.c_str(), realTarget.c_str());
    return static_cast<uint32_t>(StatusFailure);
  };
  // Moved through a handle to the item itself: a move by name would take
  // what a link leads to, from wherever it is, where Wine opens links so.
  VMLib::ExactItem source;
  const uint32_t openStatus = source.Open(realSource, DELETE);
  if (openStatus != 0) return fail(openStatus);
  if (source.GetMatch() == VMLib::ExactItem::Match::Elsewhere) {
    log.LogOtherItem(L"move", realSource, source.FinalPath());
    return StatusFailure;
  }
  {
    // A file already under the target name is replaced only when the name
    // reaches that file itself, not a link's target or a long-named file
    // answering to a short name.
    VMLib::ExactItem existing;
    if (existing.Open(realTarget, /*access=*/0) == 0 && existing.GetMatch() == VMLib::ExactItem::Match::Elsewhere) {
      log.LogOtherItem(L"replace", realTarget, existing.FinalPath());
      return StatusFailure;
    }
  }
  uint32_t status = source.MoveTo(realTarget, /*replaceExisting=*/true);
  // A rename stays on its volume. Across volumes the item is copied and
  // deleted by name, as MoveFileExW does it; a link is not carried across,
  // since the copy would be of what it leads to.
  if (status == ERROR_NOT_SAME_DEVICE && source.GetMatch() == VMLib::ExactItem::Match::Exact) {
    if (::MoveFileExW(realSource.c_str(), realTarget.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
      status = 0;
    } else {
      const DWORD error = ::GetLastError();
      status = error;
    }
  }
  return status == 0 ? static_cast<uint32_t>(StatusSuccess) : fail(status);
}
