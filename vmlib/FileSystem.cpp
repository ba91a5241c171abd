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

// The selected parts that the descriptor holds. A part the text lacks is
// left as the item has it: GetAclRights gives no "S:" for an item without a
// SACL, nor where the SACL could not be read, and a missing "D:" must never
// become a null DACL, which would grant everyone full access. An explicit
// "D:NO_ACCESS_CONTROL" is present with a null pointer and goes through.
uint32_t PresentParts(PSECURITY_DESCRIPTOR descriptor, SECURITY_INFORMATION selected,
                      SECURITY_INFORMATION& present) {
  PSID owner = nullptr;
  PSID group = nullptr;
  PACL dacl = nullptr;
  PACL sacl = nullptr;
  BOOL defaulted = FALSE;
  BOOL daclPresent = FALSE;
  BOOL saclPresent = FALSE;
  if (!::GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) ||
      !::GetSecurityDescriptorGroup(descriptor, &group, &defaulted) ||
      !::GetSecurityDescriptorDacl(descriptor, &daclPresent, &dacl, &defaulted) ||
      !::GetSecurityDescriptorSacl(descriptor, &saclPresent, &sacl, &defaulted)) {
    const DWORD error = ::GetLastError();
    return error;
  }
  present = 0;
  if (owner != nullptr) present |= OWNER_SECURITY_INFORMATION;
  if (group != nullptr) present |= GROUP_SECURITY_INFORMATION;
  if (daclPresent) present |= DACL_SECURITY_INFORMATION;
  if (saclPresent) present |= SACL_SECURITY_INFORMATION;
  present &= selected;
  return 0;
}

// The access a handle needs to write these parts.
DWORD AccessFor(SECURITY_INFORMATION parts) {
  DWORD access = 0;
  if (parts & DACL_SECURITY_INFORMATION) access |= WRITE_DAC;
  if (parts & (OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION)) access |= WRITE_OWNER;
  if (parts & SACL_SECURITY_INFORMATION) access |= ACCESS_SYSTEM_SECURITY;
  return access;
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
  SECURITY_INFORMATION parts = 0;
  const uint32_t partsStatus = PresentParts(securityDescriptor.get(), selected, parts);
  if (partsStatus != 0 || parts == 0) return partsStatus;

  ExactItem item;
  const uint32_t openStatus = item.Open(path, AccessFor(parts));
  if (openStatus != 0) return openStatus;
  if (item.GetMatch() == ExactItem::Match::Elsewhere) return kErrorReachedOtherItem;
  // Written as listed, through the checked handle: SetKernelObjectSecurity
  // stores the entries, inherited ones included, and the protection bit
  // ("P") as the text has them, and changes nothing below a folder.
  // SetNamedSecurityInfoW would rebuild the inherited entries from the new
  // parent and rewrite every item below a folder. Windows keeps what is
  // written; Wine keeps only what Unix mode bits express of a DACL.
  if (!::SetKernelObjectSecurity(item.Get(), parts, securityDescriptor.get())) {
    const DWORD error = ::GetLastError();
    return error;
  }
  return 0;
}

} // namespace filesystem
} // namespace VMLib
