// The support library the plug-in calls for file information and security
// descriptors, time conversion, path splitting, privileges, the Windows version
// and registry access. Status results are 0 for success, otherwise a Win32
// error code the caller can pass to its error logger.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "vmlib/Export.h"
#include "vmlib/ScopedHandle.h"
#include "vmlib/WindowsApi.h"

namespace VMLib {

namespace filesystem {

// On 0, `data` holds the attributes, three times and size of the file or folder
// at `path` (drive roots included) and cFileName its last path component.
VMLIB_API uint32_t GetFileInfo(const wchar_t* path, WIN32_FIND_DATAW& data);

// Applies dwFileAttributes and the three times of `data` to the file or
// folder itself, never to what a link leads to: ERROR_REPARSE_POINT_ENCOUNTERED
// (4395) where the system opens a link as its target.
VMLIB_API uint32_t SetFileInfo(const wchar_t* path, const WIN32_FIND_DATAW& data);

// Security descriptor of the item itself at `path` as SDDL text, holding
// only the parts the flags select. All flags false gives an empty text and
// status 0.
VMLIB_API uint32_t GetAclRights(const std::wstring& path, std::wstring& descriptor,
                                bool dacl, bool owner, bool group, bool sacl);

// Writes the parts of `descriptor` (as GetAclRights produced it) that the
// flags select and the text holds; a selected part the text lacks is left as
// the item has it. Entries and the protection bit are written as listed, to
// the item itself, never to what a link leads to. All flags false changes
// nothing and returns 0.
VMLIB_API uint32_t SetAclRights(const std::wstring& path, const std::wstring& descriptor,
                                bool dacl, bool owner, bool group, bool sacl);

} // namespace filesystem

namespace time {

// Time values count 100-nanosecond intervals since 1970-01-01 UTC. The
// conversions wrap modulo 2^64, so they are exact inverses for every FILETIME.
VMLIB_API void FileTimeToTime(const FILETIME& fileTime, int64_t& time);
VMLIB_API void TimeToFileTime(int64_t time, FILETIME& fileTime);

} // namespace time

namespace strings {

// Components between separators, empty ones included: "a\\\\b" gives
// {"a", "", "b"}. The empty string gives no component, so
// Join(Split(x, s), s) == x for every x.
VMLIB_API std::vector<std::wstring> Split(const std::wstring& text, const wchar_t* separator);
VMLIB_API std::wstring Join(const std::vector<std::wstring>& parts, const wchar_t* separator);

} // namespace strings

namespace system {

struct PrivilegeStatus {
  uint32_t errorCode = 0; // non-zero when the check of the privilege failed
  bool held = false;      // the process token holds the privilege
  bool enabled = false;   // the privilege is enabled in the token now
};

// Release order: everything below XP, XP at 3, later versions above it.
enum WinVersion : int32_t {
  WinUnknown = -1,
  Win9x = 0,
  WinNT4 = 1,
  Win2000 = 2,
  WinXP = 3,
  WinServer2003 = 4,
  WinVista = 5,
  Win7 = 6,
  Win8 = 7,
  Win81 = 8,
  Win10 = 9,
  Win11 = 10,
};

enum WinArchitecture : int32_t {
  ArchUnknown = 0,
  ArchX86 = 1,
  ArchX64 = 2,
  ArchArm64 = 3,
};

// Checks each privilege and tries to enable it in the process token. The map
// gets one record per name; the result is the first error met, or 0.
VMLIB_API uint32_t GetSecurityPrivilegesStatus(const std::vector<std::wstring>& names,
                                               std::map<std::wstring, PrivilegeStatus>& statuses);

// True for a 32-bit process on 64-bit Windows.
VMLIB_API bool IsWow64();

// The real version, not the one a compatibility shim would report.
VMLIB_API bool GetWinVersion(WinVersion& version, WinArchitecture& architecture);

// Reads below one root key. At most one key is open at a time.
class VMLIB_API CRegistry {
public:
  explicit CRegistry(HKEY root);
  virtual ~CRegistry();
  CRegistry(const CRegistry&) = delete;
  CRegistry& operator=(const CRegistry&) = delete;

  // True when the key exists and is now open for reading.
  bool Open(const std::wstring& subKey);
  // True with the value when a REG_DWORD of that name exists; `value` is left
  // untouched otherwise.
  bool Read(const std::wstring& name, uint32_t& value);
  // True with the text when a REG_SZ or REG_EXPAND_SZ of that name exists.
  bool Read(const std::wstring& name, std::wstring& value);
  // Names of the subkeys of `subKey` below the root; empty when there are none.
  std::vector<std::wstring> EnumSubKeys(const std::wstring& subKey);
  void Close();

private:
  HKEY root_;
  UniqueRegistryKey key_;
};

} // namespace system

} // namespace VMLib
