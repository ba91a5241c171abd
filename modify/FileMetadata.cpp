#include "modify/FileMetadata.h"

#include <algorithm>
#include <map>

#include "vmlib/VMLib.h"

namespace {

const wchar_t kSecurityPrivilege[] = L"SeSecurityPrivilege";
const wchar_t kBackupPrivilege[] = L"SeBackupPrivilege";
const wchar_t kRestorePrivilege[] = L"SeRestorePrivilege";

// The messages name the privilege and what copying loses without it.
struct PrivilegeMessages {
  const wchar_t* name;
  const wchar_t* checkFailed;
  const wchar_t* notHeld;
  const wchar_t* notEnabled;
};

const PrivilegeMessages kPrivilegeMessages[] = {
    {kSecurityPrivilege, L"Error during SeSecurityPrivilege check.",
     L"User does not have SeSecurityPrivilege privilege. SACL will not be copied.",
     L"SeSecurityPrivilege cannot be enabled. SACL will not be copied."},
    {kBackupPrivilege, L"Error during SeBackupPrivilege check.",
     L"User does not have SeBackupPrivilege privilege. DACL, Owner and Primary Group will not be copied.",
     L"SeBackupPrivilege cannot be enabled. DACL, Owner and Primary Group will not be copied."},
    {kRestorePrivilege, L"Error during SeRestorePrivilege check.",
     L"User does not have SeRestorePrivilege privilege. DACL, Owner and Primary Group will not be copied.",
     L"SeRestorePrivilege cannot be enabled. DACL, Owner and Primary Group will not be copied."},
};

FILETIME CurrentUtcFileTime() {
  SYSTEMTIME now;
  ::GetSystemTime(&now);
  FILETIME result = {};
  ::SystemTimeToFileTime(&now, &result);
  return result;
}

} // namespace

AclSettings ConfigureAclCopying(IPluginHost* host, PluginBase& log) {
  AclSettings settings;
  if (host != nullptr) {
    std::wstring value;
    host->GetParameter(L"CopyACL", value);
    settings.copy = (value == L"True");
  }
  if (!settings.copy) return settings;

  std::map<std::wstring, VMLib::system::PrivilegeStatus> statuses;
  VMLib::system::GetSecurityPrivilegesStatus({kSecurityPrivilege, kBackupPrivilege, kRestorePrivilege},
                                             statuses);
  // The code is passed even when it is 0, so a missing privilege reads as
  // "the check worked, the privilege is not there".
  for (const PrivilegeMessages& messages : kPrivilegeMessages) {
    const VMLib::system::PrivilegeStatus& status = statuses[messages.name];
    if (status.errorCode != 0) log.LogSystemError(Warning, status.errorCode, messages.checkFailed);
    if (!status.held) log.LogSystemError(Warning, status.errorCode, messages.notHeld);
    if (!status.enabled) log.LogSystemError(Warning, status.errorCode, messages.notEnabled);
  }

  const bool ownerParts = statuses[kBackupPrivilege].enabled && statuses[kRestorePrivilege].enabled;
  settings.parts = {ownerParts, ownerParts, ownerParts, ownerParts && statuses[kSecurityPrivilege].enabled};
  return settings;
}

namespace {

// Confirms that the item is the one the name stood for, or reports why
// not. Opened and held without delete sharing, so that on Windows the item
// cannot be renamed or replaced while the support library writes to it by
// name; a file just written that still shows its look is not opened.
DWORD ConfirmItem(PluginBase& log, items::HeldFolders& folders, const std::wstring& realPath,
                  const items::WrittenFile* made, bool descriptor, VMLib::UniqueFile& item) {
  if (made != nullptr && made->look && !descriptor && items::LooksAsBefore(realPath, *made->look)) {
    // The file just written, still as it was closed, reached by the full
    // name the support library goes by. Its change time is the system's own
    // stamp, so no other file shows this look, except one whose owner copied
    // it and who can set its times and attributes anyway; not a descriptor,
    // which goes by the id alone. A file stamped again at its close, or
    // changed since, is checked by its id.
    return 0;
  }
  items::OpenRequest request;
  request.share = FILE_SHARE_READ | FILE_SHARE_WRITE;
  items::HeldFolder* folder = nullptr;
  std::wstring name;
  items::Refusal refusal;
  DWORD status = folders.Parent(realPath, folder, name, refusal);
  if (status == ERROR_INVALID_NAME && !refusal) {
    // A drive or share root: nothing above it can be swapped.
    status = folders.Folder(realPath, folder, refusal);
    if (status == 0) status = items::Reopen(folder->handle.get(), request.access, request.share, 0, item);
    return status;
  }
  items::ItemFacts facts;
  if (status == 0 && made != nullptr) {
    // What this instance has just written is known by its id, which no link
    // or other name can take; no other item under the name is taken for it.
    status = items::OpenRelative(folder->handle.get(), name, request, item);
    if (status == 0 && (items::ReadId(item.get(), made->id.wide, facts.id) != 0 || facts.id != made->id)) {
      refusal = items::Refusal{items::Refusal::Kind::Swapped, realPath};
    }
  } else if (status == 0) {
    status = folders.OpenChild(*folder, name, request, item, facts, refusal);
    if (status == 0 && facts.IsLink() && !facts.HoldsLinkItself()) {
      refusal = items::Refusal{items::Refusal::Kind::FollowedLink, realPath};
    } else if (status == 0 && !facts.IsFolder() && facts.links > 1) {
      log.LogMessage(Error,
                     L"Computer: cannot set the attributes of '%s': the file has %lu names (hard links), and they "
                     L"would change under every other name too; it is left as it is",
                     realPath.c_str(), static_cast<unsigned long>(facts.links));
      return items::kErrorNotTheItem;
    }
  }
  if (refusal) {
    log.LogRefused(L"set the attributes of", realPath, refusal.Reason());
    return items::kErrorNotTheItem;
  }
  return status;
}

} // namespace

uint32_t ApplyRealFileInfo(PluginBase& log, const AclSettings& acl, items::HeldFolders& folders,
                           const std::wstring& realPath, const FileInfo& info, const items::WrittenFile* made) {
  const FILETIME now = CurrentUtcFileTime();
  auto chooseTime = [&](uint32_t field, int64_t value) {
    if ((info.validFields & field) == 0) return now;
    FILETIME converted;
    VMLib::time::TimeToFileTime(value, converted);
    return converted;
  };
  WIN32_FIND_DATAW data = {};
  data.dwFileAttributes = info.attributes;
  data.ftCreationTime = chooseTime(FieldCreationTime, info.creationTime);
  data.ftLastAccessTime = chooseTime(FieldLastAccessTime, info.lastAccessTime);
  data.ftLastWriteTime = chooseTime(FieldLastWriteTime, info.lastWriteTime);

  VMLib::UniqueFile item;
  const bool descriptor = std::find(acl.parts.begin(), acl.parts.end(), true) != acl.parts.end();
  const DWORD confirmStatus = ConfirmItem(log, folders, realPath, made, descriptor, item);
  if (confirmStatus == items::kErrorNotTheItem) return StatusFailure;
  if (confirmStatus != 0) {
    // Neither part can be written to an item that cannot be opened.
    if (acl.parts[0] || acl.parts[3]) {
      log.LogSystemError(Warning, confirmStatus, L"Can't set file ACL rights for '%s'", realPath.c_str());
    }
    log.LogSystemError(Error, confirmStatus, L"Can't set file attributes for '%s'", realPath.c_str());
    return StatusFailure;
  }

  // The descriptor goes first: a read-only attribute must not be in place
  // yet, and the times are to be the last change made to the item.
  const uint32_t aclStatus = VMLib::filesystem::SetAclRights(realPath, info.aclRights, acl.parts[0],
                                                             acl.parts[1], acl.parts[2], acl.parts[3]);
  if (aclStatus != 0) {
    log.LogSystemError(Warning, aclStatus, L"Can't set file ACL rights for '%s'", realPath.c_str());
  }

  const uint32_t infoStatus = VMLib::filesystem::SetFileInfo(realPath.c_str(), data);
  if (infoStatus != 0) {
    log.LogSystemError(Error, infoStatus, L"Can't set file attributes for '%s'", realPath.c_str());
    return StatusFailure;
  }
  return StatusSuccess;
}
