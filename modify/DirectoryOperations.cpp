#include "modify/DirectoryOperations.h"

#include <vector>

#include "vmlib/WindowsApi.h"

namespace {

const wchar_t kMoveFailure[] = L"Can't move file from '%s' to '%s'";

// The item at the target's name, when there is one: a file to replace, or
// something the move must not go through.
enum class Target { Free, File, Folder, FollowedLink, Unopenable };

Target LookAtTarget(items::HeldFolders& folders, items::HeldFolder& folder, const std::wstring& name) {
  items::OpenRequest look;
  VMLib::UniqueFile handle;
  items::ItemFacts facts;
  items::Refusal refusal;
  const DWORD status = folders.OpenChild(folder, name, look, handle, facts, refusal);
  if (status == ERROR_FILE_NOT_FOUND) return Target::Free;
  if (status != 0) return Target::Unopenable;
  if (facts.IsLink() && !facts.HoldsLinkItself()) return Target::FollowedLink;
  return facts.IsFolder() && !facts.IsLink() ? Target::Folder : Target::File;
}

// True when nothing at all answers to the name, a link whose target is
// missing included: a new file made under it is closed and gone at once.
bool NameIsFree(HANDLE folder, const std::wstring& name) {
  items::OpenRequest probe;
  probe.access = DELETE;
  probe.disposition = items::kCreateNew;
  probe.options = FILE_NON_DIRECTORY_FILE | FILE_DELETE_ON_CLOSE;
  VMLib::UniqueFile handle;
  return items::OpenRelative(folder, name, probe, handle) == 0;
}

// Copies the file `source` holds into a new file in `folder`, renames that
// over `name` and removes the source through its handle. 0 or a Win32 code;
// a failure leaves the source and the target as they were.
DWORD CopyAcross(HANDLE source, const items::ItemFacts& sourceFacts, HANDLE folder, const std::wstring& name) {
  VMLib::UniqueFile reading;
  DWORD status = items::Reopen(source, GENERIC_READ, FILE_SHARE_READ, FILE_NON_DIRECTORY_FILE, reading);
  if (status != 0) return status;
  items::OpenRequest create;
  create.access = GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES;
  create.share = 0;
  create.disposition = items::kCreateNew;
  create.options = FILE_NON_DIRECTORY_FILE;
  VMLib::UniqueFile copy;
  std::wstring temporary;
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    temporary = L"~" + name + L"." + std::to_wstring(attempt) + L".moving";
    status = items::OpenRelative(folder, temporary, create, copy);
    if (status != ERROR_ALREADY_EXISTS) break;
  }
  if (status != 0) return status;

  std::vector<char> buffer(1 << 20);
  for (;;) {
    DWORD read = 0;
    if (!::ReadFile(reading.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr)) {
      status = ::GetLastError();
      break;
    }
    if (read == 0) break;
    DWORD written = 0;
    if (!::WriteFile(copy.get(), buffer.data(), read, &written, nullptr)) {
      status = ::GetLastError();
      break;
    }
  }
  FILE_BASIC_INFO basic = {};
  if (status == 0 && !::GetFileInformationByHandleEx(reading.get(), FileBasicInfo, &basic, sizeof(basic))) {
    status = ::GetLastError();
  }
  if (status == 0) status = items::SetBasicInfo(copy.get(), basic);
  if (status == 0) status = items::RenameThrough(copy.get(), folder, name, /*replaceExisting=*/true);
  if (status != 0) {
    items::ItemFacts copyFacts;
    copyFacts.attributes = basic.FileAttributes;
    items::DeleteThrough(copy.get(), copyFacts);
    return status;
  }
  return items::DeleteThrough(source, sourceFacts);
}

} // namespace

uint32_t CreateFolderTree(PluginBase& log, items::HeldFolders& folders, const std::wstring& realPath,
                          const std::function<void()>& reconnect) {
  std::wstring failed;
  items::Refusal refusal;
  const DWORD status = folders.MakeFolder(realPath, reconnect, failed, refusal);
  if (refusal) {
    log.LogRefused(L"create a folder in", refusal.path, refusal.Reason());
    return StatusFailure;
  }
  if (status != 0) {
    log.LogSystemError(Error, status, L"Can't create directory '%s'", failed.c_str());
    return StatusFailure;
  }
  return StatusSuccess;
}

uint32_t MoveRealItem(PluginBase& log, items::HeldFolders& folders, const std::wstring& realSource,
                      const std::wstring& realTarget) {
  auto fail = [&](uint32_t code) {
    log.LogSystemError(Error, code, kMoveFailure, realSource.c_str(), realTarget.c_str());
    return static_cast<uint32_t>(StatusFailure);
  };
  auto refuse = [&](const wchar_t* action, const items::Refusal& refusal) {
    log.LogRefused(action, refusal.path, refusal.Reason());
    return static_cast<uint32_t>(StatusFailure);
  };
  items::HeldFolder* folder = nullptr;
  std::wstring sourceName;
  items::Refusal refusal;
  VMLib::UniqueFile source;
  items::ItemFacts facts;
  items::OpenRequest request;
  request.access = DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;
  DWORD status = folders.OpenItem(realSource, request, source, facts, refusal, folder, sourceName);
  if (refusal) return refuse(L"move", refusal);
  if (status != 0) return fail(status);
  // Moved through a handle to the item itself: a move by name would take
  // what a link leads to, from wherever it is, where Wine opens links so.
  if (facts.IsLink() && !facts.HoldsLinkItself()) {
    return refuse(L"move", items::Refusal{items::Refusal::Kind::FollowedLink, realSource});
  }
  const std::wstring sourceFolder = folder->path;

  std::wstring targetName;
  status = folders.Parent(realTarget, folder, targetName, refusal);
  if (refusal) return refuse(L"move into", refusal);
  if (status != 0) return fail(status);
  const Target target = LookAtTarget(folders, *folder, targetName);
  if (target == Target::FollowedLink) {
    return refuse(L"replace", items::Refusal{items::Refusal::Kind::FollowedLink, realTarget});
  }
  // A folder is never replaced, as a move by name never replaces one.
  if (target == Target::Folder) return fail(ERROR_ACCESS_DENIED);

  status = items::RenameThrough(source.get(), folder->handle.get(), targetName, /*replaceExisting=*/true);
  // A rename stays on its volume. Across volumes a file is copied; a link
  // is not carried across, since the copy would be of what it leads to.
  if (status == ERROR_NOT_SAME_DEVICE && !facts.IsFolder() && !facts.IsLink()) {
    if (target == Target::Unopenable || (target == Target::Free && !NameIsFree(folder->handle.get(), targetName))) {
      log.LogMessage(Error,
                     L"Computer: cannot move '%s' to '%s': the target name is taken by an item that cannot be "
                     L"opened, such as a link whose target is missing; both are left as they are",
                     realSource.c_str(), realTarget.c_str());
      return StatusFailure;
    }
    status = CopyAcross(source.get(), facts, folder->handle.get(), targetName);
  }
  if (status != 0) return fail(status);
  folders.RecordMade(*folder, targetName, facts);
  if (facts.IsFolder()) folders.Forget(sourceFolder + L'\\' + sourceName);
  items::HeldFolder* oldFolder = nullptr;
  if (folders.Folder(sourceFolder, oldFolder, refusal) == 0) folders.Unrecord(*oldFolder, sourceName);
  return StatusSuccess;
}
