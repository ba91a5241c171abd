#include "vmlib/VMLib.h"

#include <aclapi.h>
#include <sddl.h>

#include <cwchar>

namespace VMLib {
namespace filesystem {

namespace {

// The last component of `path`, trailing separators ignored, so the drive
// root \\?\C:\ gives "C:".
std::wstring LastComponent(const std::wstring& path) {
  const std::wstring::size_type end = path.find_last_not_of(L"\\/");
  if (end == std::wstring::npos) return std::wstring();
  const std::wstring::size_type separator = path.find_last_of(L"\\/", end);
  const std::wstring::size_type begin = separator == std::wstring::npos ? 0 : separator + 1;
  return path.substr(begin, end + 1 - begin);
}

// Zero would mean "leave unchanged" to the file system; NORMAL clears all.
DWORD SettableAttributes(DWORD attributes) {
  const DWORD settable = attributes & kSettableAttributes;
  return settable != 0 ? settable : FILE_ATTRIBUTE_NORMAL;
}

LARGE_INTEGER Ticks(const FILETIME& time) {
  LARGE_INTEGER ticks;
  ticks.LowPart = time.dwLowDateTime;
  ticks.HighPart = static_cast<LONG>(time.dwHighDateTime);
  return ticks;
}

SECURITY_INFORMATION SelectedParts(bool dacl, bool owner, bool group, bool sacl) {
  SECURITY_INFORMATION parts = 0;
  if (dacl) parts |= DACL_SECURITY_INFORMATION;
  if (owner) parts |= OWNER_SECURITY_INFORMATION;
  if (group) parts |= GROUP_SECURITY_INFORMATION;
  if (sacl) parts |= SACL_SECURITY_INFORMATION;
  return parts;
}

// The parts of a parsed descriptor that SetNamedSecurityInfoW takes. A part
// the flags select but the text lacks is an error: passing on a null DACL
// would grant everyone full access, whereas an explicit "D:NO_ACCESS_CONTROL"
// is present with a null pointer and passes through.
struct DescriptorParts {
  PSID owner = nullptr;
  PSID group = nullptr;
  PACL dacl = nullptr;
  PACL sacl = nullptr;
  SECURITY_INFORMATION parts = 0;
};

using GetSidPart = BOOL(WINAPI*)(PSECURITY_DESCRIPTOR, PSID*, LPBOOL);
using GetAclPart = BOOL(WINAPI*)(PSECURITY_DESCRIPTOR, LPBOOL, PACL*, LPBOOL);

uint32_t ReadSidPart(GetSidPart read, PSECURITY_DESCRIPTOR descriptor, PSID& sid) {
  BOOL defaulted = FALSE;
  if (!read(descriptor, &sid, &defaulted)) {
    const DWORD error = ::GetLastError();
    return error;
  }
  return sid != nullptr ? 0 : ERROR_INVALID_SECURITY_DESCR;
}

uint32_t ReadAclPart(GetAclPart read, PSECURITY_DESCRIPTOR descriptor, PACL& acl) {
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  if (!read(descriptor, &present, &acl, &defaulted)) {
    const DWORD error = ::GetLastError();
    return error;
  }
  return present ? 0 : ERROR_INVALID_SECURITY_DESCR;
}

uint32_t ExtractParts(PSECURITY_DESCRIPTOR descriptor, SECURITY_INFORMATION selected, DescriptorParts& result) {
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (!::GetSecurityDescriptorControl(descriptor, &control, &revision)) {
    const DWORD error = ::GetLastError();
    return error;
  }
  uint32_t status = 0;
  if (selected & OWNER_SECURITY_INFORMATION) {
    status = ReadSidPart(&::GetSecurityDescriptorOwner, descriptor, result.owner);
  }
  if (status == 0 && (selected & GROUP_SECURITY_INFORMATION)) {
    status = ReadSidPart(&::GetSecurityDescriptorGroup, descriptor, result.group);
  }
  if (status == 0 && (selected & DACL_SECURITY_INFORMATION)) {
    status = ReadAclPart(&::GetSecurityDescriptorDacl, descriptor, result.dacl);
  }
  if (status == 0 && (selected & SACL_SECURITY_INFORMATION)) {
    status = ReadAclPart(&::GetSecurityDescriptorSacl, descriptor, result.sacl);
  }
  if (status != 0) return status;

  // The protection bit ("P" in SDDL) travels as its own flag, so the saved
  // descriptor, not the item's current state, decides whether the item
  // inherits. An unprotected DACL takes its inherited entries from the item's
  // parent, as a copy made by Windows itself would.
  result.parts = selected;
  if (selected & DACL_SECURITY_INFORMATION) {
    result.parts |= (control & SE_DACL_PROTECTED) ? PROTECTED_DACL_SECURITY_INFORMATION
                                                  : UNPROTECTED_DACL_SECURITY_INFORMATION;
  }
  if (selected & SACL_SECURITY_INFORMATION) {
    result.parts |= (control & SE_SACL_PROTECTED) ? PROTECTED_SACL_SECURITY_INFORMATION
                                                  : UNPROTECTED_SACL_SECURITY_INFORMATION;
  }
  return 0;
}

} // namespace

uint32_t GetFileInfo(const wchar_t* path, WIN32_FIND_DATAW& data) {
  if (path == nullptr) return ERROR_INVALID_PARAMETER;
  // Unlike FindFirstFileW this also answers for a drive root.
  WIN32_FILE_ATTRIBUTE_DATA attributes{};
  if (!::GetFileAttributesExW(path, GetFileExInfoStandard, &attributes)) {
    const DWORD error = ::GetLastError();
    return error;
  }
  const std::wstring name = LastComponent(path);
  if (name.size() >= MAX_PATH) return ERROR_FILENAME_EXCED_RANGE;

  WIN32_FIND_DATAW result{};
  result.dwFileAttributes = attributes.dwFileAttributes;
  result.ftCreationTime = attributes.ftCreationTime;
  result.ftLastAccessTime = attributes.ftLastAccessTime;
  result.ftLastWriteTime = attributes.ftLastWriteTime;
  result.nFileSizeHigh = attributes.nFileSizeHigh;
  result.nFileSizeLow = attributes.nFileSizeLow;
  std::wmemcpy(result.cFileName, name.c_str(), name.size() + 1);
  data = result;
  return 0;
}

uint32_t SetFileInfo(ExactItem& item, const WIN32_FIND_DATAW& data) {
  // Attributes and times in one call on the checked handle: a restore does
  // this for every item, and under Wine each extra open or path-based call
  // is a round trip to the server. Opening for FILE_WRITE_ATTRIBUTES is
  // allowed on a read-only item, so its bit needs no clearing first.
  FILE_BASIC_INFO basic = {};
  basic.CreationTime = Ticks(data.ftCreationTime);
  basic.LastAccessTime = Ticks(data.ftLastAccessTime);
  basic.LastWriteTime = Ticks(data.ftLastWriteTime);
  basic.FileAttributes = SettableAttributes(data.dwFileAttributes);
  return item.SetBasicInfo(basic);
}

uint32_t SetFileInfo(const wchar_t* path, const WIN32_FIND_DATAW& data) {
  if (path == nullptr) return ERROR_INVALID_PARAMETER;
  ExactItem item;
  const uint32_t status = item.Open(path, FILE_WRITE_ATTRIBUTES);
  return status != 0 ? status : SetFileInfo(item, data);
}

namespace {

uint32_t ReadDescriptorText(const std::wstring& path, SECURITY_INFORMATION parts, std::wstring& descriptor) {
  PSECURITY_DESCRIPTOR rawDescriptor = nullptr;
  const DWORD readStatus = ::GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, parts, /*owner=*/nullptr,
                                                   /*group=*/nullptr, /*dacl=*/nullptr, /*sacl=*/nullptr,
                                                   &rawDescriptor);
  UniqueLocalMemory securityDescriptor(rawDescriptor);
  if (readStatus != ERROR_SUCCESS) return readStatus;

  LPWSTR rawText = nullptr;
  if (!::ConvertSecurityDescriptorToStringSecurityDescriptorW(securityDescriptor.get(), SDDL_REVISION_1, parts,
                                                              &rawText, /*length=*/nullptr)) {
    const DWORD error = ::GetLastError();
    return error;
  }
  UniqueLocalMemory text(rawText);
  descriptor = rawText;
  return 0;
}

} // namespace

uint32_t GetAclRights(const std::wstring& path, std::wstring& descriptor,
                      bool dacl, bool owner, bool group, bool sacl) {
  const SECURITY_INFORMATION parts = SelectedParts(dacl, owner, group, sacl);
  // A failed read must not leave an earlier item's descriptor for this one.
  descriptor.clear();
  if (parts == 0) return 0;

  const uint32_t status = ReadDescriptorText(path, parts, descriptor);
  // The SACL is the part most often refused (a privilege the process lacks,
  // or Wine, which cannot read it at all). The caller still gets the failure,
  // but also the other parts, so the item's DACL and owner are not lost.
  const SECURITY_INFORMATION withoutSacl = parts & ~static_cast<SECURITY_INFORMATION>(SACL_SECURITY_INFORMATION);
  if (status != 0 && sacl && withoutSacl != 0) ReadDescriptorText(path, withoutSacl, descriptor);
  return status;
}

uint32_t SetAclRights(const std::wstring& path, const std::wstring& descriptor,
                      bool dacl, bool owner, bool group, bool sacl) {
  const SECURITY_INFORMATION selected = SelectedParts(dacl, owner, group, sacl);
  if (selected == 0) return 0;

  PSECURITY_DESCRIPTOR rawDescriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(descriptor.c_str(), SDDL_REVISION_1, &rawDescriptor,
                                                              /*size=*/nullptr)) {
    const DWORD error = ::GetLastError();
    return error;
  }
  UniqueLocalMemory securityDescriptor(rawDescriptor);

  DescriptorParts parts;
  const uint32_t extractStatus = ExtractParts(securityDescriptor.get(), selected, parts);
  if (extractStatus != 0) return extractStatus;

  // SetNamedSecurityInfoW takes a non-const name.
  std::wstring name = path;
  return ::SetNamedSecurityInfoW(&name[0], SE_FILE_OBJECT, parts.parts, parts.owner, parts.group, parts.dacl,
                                 parts.sacl);
}

} // namespace filesystem
} // namespace VMLib
