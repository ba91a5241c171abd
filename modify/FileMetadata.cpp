#include "modify/FileMetadata.h"

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

uint32_t ApplyRealFileInfo(PluginBase& log, const AclSettings& acl, const std::wstring& realPath,
                           const FileInfo& info, const ULONGLONG* made) {
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

  // Everything is applied to the item the name reaches only when that is
  // the named item itself: attributes set on a link that Wine opens as its
  // target would make the target writable, wherever it lies.
  VMLib::ExactItem item;
  const uint32_t openStatus = made != nullptr ? item.OpenMade(realPath, FILE_WRITE_ATTRIBUTES, *made)
                                              : item.Open(realPath, FILE_WRITE_ATTRIBUTES);
  if (openStatus != 0) {
    // Neither part can be written to an item that cannot be opened.
    if (acl.parts[0] || acl.parts[3]) {
      log.LogSystemError(Warning, openStatus, L"Can't set file ACL rights for '%s'", realPath.c_str());
    }
    log.LogSystemError(Error, openStatus, L"Can't set file attributes for '%s'", realPath.c_str());
    return StatusFailure;
  }
  if (item.GetMatch() == VMLib::ExactItem::Match::Elsewhere) {
    log.LogOtherItem(L"set the attributes of", realPath, item.FinalPath());
    return StatusFailure;
  }

  // The descriptor goes first: a read-only attribute must not be in place
  // yet, and the times are to be the last change made to the item.
  const uint32_t aclStatus = VMLib::filesystem::SetAclRights(realPath, info.aclRights, acl.parts[0],
                                                             acl.parts[1], acl.parts[2], acl.parts[3]);
  if (aclStatus != 0) {
    log.LogSystemError(Warning, aclStatus, L"Can't set file ACL rights for '%s'", realPath.c_str());
  }

  const uint32_t infoStatus = VMLib::filesystem::SetFileInfo(item, data);
  if (infoStatus != 0) {
    log.LogSystemError(Error, infoStatus, L"Can't set file attributes for '%s'", realPath.c_str());
    return StatusFailure;
  }
  return StatusSuccess;
}
