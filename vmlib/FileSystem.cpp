#include "vmlib/VMLib.h"
#include "vmlib/FinalPath.h"

#include <aclapi.h>
#include <sddl.h>

#include <cwchar>
#include <vector>

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

// ERROR_REPARSE_POINT_ENCOUNTERED, which MinGW's headers lack.
constexpr DWORD kErrorReachedOtherItem = 4395;

// The attributes a program can change; the others describe the item.
constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                      FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                                      FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// Zero would mean "leave unchanged" to the file system; NORMAL clears all.
DWORD SettableAttributes(DWORD attributes) {
  const DWORD settable = attributes & kSettableAttributes;
  return settable != 0 ? settable : FILE_ATTRIBUTE_NORMAL;
}

// "\\?\C:\\Users" as "\\?\C:\Users": Windows hands a "\\?\" path to the file
// system unchanged, and a doubled separator after the root is no name there.
std::wstring WithSingleRootSeparator(const std::wstring& path) {
  if (path.size() <= 7 || path.compare(0, 4, L"\\\\?\\") != 0 || path[5] != L':' || path[6] != L'\\') return path;
  size_t end = 7;
  while (end < path.size() && path[end] == L'\\') ++end;
  return path.substr(0, 7) + path.substr(end);
}

bool SameText(const std::wstring& a, const std::wstring& b) {
  return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                /*ignoreCase=*/TRUE) == CSTR_EQUAL;
}

// False when `item` is not what `path` names but what a link there leads to
// (Wine 8 opens every link so, and shows a link to a file as that file), or
// a long-named file reached through its short name: its final path is then
// not its folder's final path and the name. A name keeps trailing periods
// and blanks that Wine's final path drops; where the system gives no final
// path, links open as themselves and the open stands.
bool ReachedByName(HANDLE item, const std::wstring& path) {
  const size_t separator = path.find_last_of(L'\\');
  if (separator == std::wstring::npos || separator + 1 >= path.size() || separator < 6) return true;
  const UniqueFile folder(::CreateFileW(path.substr(0, separator + 1).c_str(), FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, /*security=*/nullptr,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, /*templateFile=*/nullptr));
  std::wstring reached;
  std::wstring folderPath;
  if (!folder || FinalPathOf(item, reached) != 0 || FinalPathOf(folder.get(), folderPath) != 0) return true;
  if (folderPath.back() != L'\\') folderPath += L'\\';
  std::wstring name = path.substr(separator + 1);
  if (SameText(reached, folderPath + name)) return true;
  while (!name.empty() && (name.back() == L'.' || name.back() == L' ')) name.pop_back();
  return SameText(reached, folderPath + name);
}

// Opens the item itself: Windows opens a link itself with the reparse-point
// flag; Wine 8 opens what a link leads to and then shows the reparse bit
// without a tag, which is refused rather than acted on. With `confirmName`
// the final path must confirm it too (Wine shows a link to a file, and one
// reached through a folder, without the bit), which costs requests that a
// write of attributes and times, made for every file restored, does not pay.
uint32_t OpenItself(const std::wstring& path, DWORD access, bool confirmName, UniqueFile& item) {
  item.reset(::CreateFileW(WithSingleRootSeparator(path).c_str(), access | FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, /*security=*/nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                           /*templateFile=*/nullptr));
  if (!item) {
    const DWORD error = ::GetLastError();
    return error;
  }
  FILE_ATTRIBUTE_TAG_INFO tag = {};
  if (!::GetFileInformationByHandleEx(item.get(), FileAttributeTagInfo, &tag, sizeof(tag))) {
    const DWORD error = ::GetLastError();
    return error;
  }
  const bool followedLink = (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && tag.ReparseTag == 0;
  if (followedLink || (confirmName && !ReachedByName(item.get(), WithSingleRootSeparator(path)))) {
    return kErrorReachedOtherItem;
  }
  return 0;
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
  if (!::GetFileAttributesExW(WithSingleRootSeparator(path).c_str(), GetFileExInfoStandard, &attributes)) {
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

uint32_t SetFileInfo(const wchar_t* path, const WIN32_FIND_DATAW& data) {
  if (path == nullptr) return ERROR_INVALID_PARAMETER;
  UniqueFile item;
  const uint32_t openStatus = OpenItself(path, FILE_WRITE_ATTRIBUTES, /*confirmName=*/false, item);
  if (openStatus != 0) return openStatus;
  // Attributes and times in one call on the handle. Opening for
  // FILE_WRITE_ATTRIBUTES is allowed on a read-only item, so its bit needs
  // no clearing first.
  FILE_BASIC_INFO basic = {};
  basic.CreationTime = Ticks(data.ftCreationTime);
  basic.LastAccessTime = Ticks(data.ftLastAccessTime);
  basic.LastWriteTime = Ticks(data.ftLastWriteTime);
  basic.FileAttributes = SettableAttributes(data.dwFileAttributes);
  if (!::SetFileInformationByHandle(item.get(), FileBasicInfo, &basic, sizeof(basic))) {
    const DWORD error = ::GetLastError();
    return error;
  }
  return 0;
}

namespace {

// Read through a handle to the item itself, as SetAclRights writes: a read
// by name would give what a link leads to.
uint32_t ReadDescriptorText(const std::wstring& path, SECURITY_INFORMATION parts, std::wstring& descriptor) {
  UniqueFile item;
  const DWORD access = READ_CONTROL | ((parts & SACL_SECURITY_INFORMATION) ? ACCESS_SYSTEM_SECURITY : 0);
  const uint32_t openStatus = OpenItself(path, access, /*confirmName=*/true, item);
  if (openStatus != 0) return openStatus;
  PSECURITY_DESCRIPTOR rawDescriptor = nullptr;
  const DWORD readStatus = ::GetSecurityInfo(item.get(), SE_FILE_OBJECT, parts, /*owner=*/nullptr,
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

  UniqueFile item;
  const uint32_t openStatus = OpenItself(path, AccessFor(parts), /*confirmName=*/true, item);
  if (openStatus != 0) return openStatus;
  // Written as listed, through the checked handle: SetKernelObjectSecurity
  // stores the entries, inherited ones included, and the protection bit
  // ("P") as the text has them, and changes nothing below a folder.
  // SetNamedSecurityInfoW would rebuild the inherited entries from the new
  // parent and rewrite every item below a folder. Windows keeps what is
  // written; Wine keeps only what Unix mode bits express of a DACL.
  if (!::SetKernelObjectSecurity(item.get(), parts, securityDescriptor.get())) {
    const DWORD error = ::GetLastError();
    return error;
  }
  return 0;
}

} // namespace filesystem
} // namespace VMLib
