#include "vmlib/VMLib.h"
#include "vmlib/VersionMapping.h"

#include <algorithm>

namespace VMLib {
namespace system {

namespace {

// The privileges of the process token, or the error of reading them.
uint32_t ReadTokenPrivileges(HANDLE token, std::vector<LUID_AND_ATTRIBUTES>& privileges) {
  DWORD size = 0;
  if (!::GetTokenInformation(token, TokenPrivileges, /*information=*/nullptr, 0, &size)) {
    const DWORD error = ::GetLastError();
    if (error != ERROR_INSUFFICIENT_BUFFER) return error;
  }
  // DWORD-sized elements keep TOKEN_PRIVILEGES aligned.
  std::vector<DWORD> buffer((size + sizeof(DWORD) - 1) / sizeof(DWORD) + 1);
  if (!::GetTokenInformation(token, TokenPrivileges, buffer.data(),
                             static_cast<DWORD>(buffer.size() * sizeof(DWORD)), &size)) {
    const DWORD error = ::GetLastError();
    return error;
  }
  const auto* list = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
  privileges.assign(list->Privileges, list->Privileges + list->PrivilegeCount);
  return 0;
}

bool Holds(const std::vector<LUID_AND_ATTRIBUTES>& privileges, const LUID& luid) {
  return std::any_of(privileges.begin(), privileges.end(), [&luid](const LUID_AND_ATTRIBUTES& privilege) {
    return privilege.Luid.LowPart == luid.LowPart && privilege.Luid.HighPart == luid.HighPart;
  });
}

PrivilegeStatus CheckAndEnable(HANDLE token, const std::vector<LUID_AND_ATTRIBUTES>& privileges,
                               const std::wstring& name) {
  PrivilegeStatus status;
  LUID luid{};
  if (!::LookupPrivilegeValueW(/*systemName=*/nullptr, name.c_str(), &luid)) {
    status.errorCode = ::GetLastError();
    return status;
  }
  status.held = Holds(privileges, luid);

  TOKEN_PRIVILEGES request{};
  request.PrivilegeCount = 1;
  request.Privileges[0].Luid = luid;
  request.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  // Success with ERROR_NOT_ALL_ASSIGNED means the token lacks the privilege:
  // the check worked, the privilege is just not there to enable.
  const BOOL adjusted = ::AdjustTokenPrivileges(token, /*disableAll=*/FALSE, &request, 0,
                                                /*previousState=*/nullptr, /*returnLength=*/nullptr);
  const DWORD error = ::GetLastError();
  if (!adjusted) {
    status.errorCode = error;
  } else {
    status.enabled = error == ERROR_SUCCESS;
  }
  return status;
}

} // namespace

uint32_t GetSecurityPrivilegesStatus(const std::vector<std::wstring>& names,
                                     std::map<std::wstring, PrivilegeStatus>& statuses) {
  UniqueKernelHandle token;
  uint32_t tokenError = 0;
  std::vector<LUID_AND_ATTRIBUTES> privileges;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY | TOKEN_ADJUST_PRIVILEGES, token.put())) {
    tokenError = ::GetLastError();
  } else {
    tokenError = ReadTokenPrivileges(token.get(), privileges);
  }

  uint32_t firstError = 0;
  for (const std::wstring& name : names) {
    PrivilegeStatus status;
    if (tokenError != 0) {
      status.errorCode = tokenError;
    } else {
      status = CheckAndEnable(token.get(), privileges, name);
    }
    statuses[name] = status;
    if (firstError == 0) firstError = status.errorCode;
  }
  return firstError;
}

bool IsWow64() {
  using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
  // kernel32 is always loaded; GetModuleHandleW takes no reference to release.
  const auto isWow64Process = GetFunction<IsWow64ProcessFn>(::GetModuleHandleW(L"kernel32.dll"), "IsWow64Process");
  if (isWow64Process == nullptr) return false;
  BOOL wow64 = FALSE;
  return isWow64Process(::GetCurrentProcess(), &wow64) && wow64;
}

bool GetWinVersion(WinVersion& version, WinArchitecture& architecture) {
  version = WinUnknown;
  architecture = ArchUnknown;
  // GetVersionExW reports 6.2 to any program without a compatibility
  // manifest; RtlGetVersion tells the truth.
  using RtlGetVersionFn = LONG(WINAPI*)(RTL_OSVERSIONINFOW*);
  const auto rtlGetVersion = GetFunction<RtlGetVersionFn>(::GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion");
  if (rtlGetVersion == nullptr) return false;
  RTL_OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof(info);
  if (rtlGetVersion(&info) != 0) return false;

  const WinVersion mapped =
      detail::MapVersion(info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber);
  if (mapped == WinUnknown) return false;

  SYSTEM_INFO system{};
  ::GetNativeSystemInfo(&system);
  version = mapped;
  architecture = detail::MapArchitecture(system.wProcessorArchitecture);
  return true;
}

} // namespace system
} // namespace VMLib
