#include <gtest/gtest.h>

#include "vmlib/VMLib.h"
#include "vmlib/VersionMapping.h"

namespace {

using namespace VMLib::system;
using Statuses = std::map<std::wstring, PrivilegeStatus>;

// Independent of the library: is the privilege enabled in the process token?
bool EnabledInToken(const std::wstring& name) {
  VMLib::UniqueKernelHandle token;
  EXPECT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put()));
  PRIVILEGE_SET set{};
  set.PrivilegeCount = 1;
  set.Control = PRIVILEGE_SET_ALL_NECESSARY;
  EXPECT_TRUE(::LookupPrivilegeValueW(nullptr, name.c_str(), &set.Privilege[0].Luid));
  BOOL enabled = FALSE;
  EXPECT_TRUE(::PrivilegeCheck(token.get(), &set, &enabled));
  return enabled != FALSE;
}

// Whatever the token holds ends up enabled; a privilege it lacks (no ordinary
// token holds SeCreateTokenPrivilege) is no error of the check.
TEST(Privileges, RecordsEveryNameAndEnablesWhatTheTokenHolds) {
  const std::vector<std::wstring> names = {L"SeSecurityPrivilege", L"SeBackupPrivilege", L"SeRestorePrivilege",
                                           L"SeCreateTokenPrivilege"};
  Statuses statuses;
  EXPECT_EQ(GetSecurityPrivilegesStatus(names, statuses), 0u);
  ASSERT_EQ(statuses.size(), names.size());
  for (const std::wstring& name : names) {
    const PrivilegeStatus& status = statuses[name];
    EXPECT_EQ(status.errorCode, 0u) << name;
    EXPECT_EQ(status.enabled, status.held) << name;
    EXPECT_EQ(status.enabled, EnabledInToken(name)) << name;
  }
  EXPECT_FALSE(statuses[L"SeCreateTokenPrivilege"].held);
}

TEST(Privileges, UnknownNameGivesItsErrorAndTheOthersAreStillChecked) {
  Statuses statuses;
  EXPECT_EQ(GetSecurityPrivilegesStatus({L"SeBackupPrivilege", L"SeNoSuchPrivilege", L"SeRestorePrivilege"},
                                        statuses),
            static_cast<uint32_t>(ERROR_NO_SUCH_PRIVILEGE));
  ASSERT_EQ(statuses.size(), 3u);
  const PrivilegeStatus& unknown = statuses[L"SeNoSuchPrivilege"];
  EXPECT_EQ(unknown.errorCode, static_cast<uint32_t>(ERROR_NO_SUCH_PRIVILEGE));
  EXPECT_FALSE(unknown.held || unknown.enabled);
  EXPECT_EQ(statuses[L"SeRestorePrivilege"].errorCode, 0u);
}

TEST(WinVersion, ReportsTheRunningSystem) {
  WinVersion version = WinUnknown;
  WinArchitecture architecture = ArchUnknown;
  ASSERT_TRUE(GetWinVersion(version, architecture));
  EXPECT_GE(version, WinXP);
  EXPECT_NE(architecture, ArchUnknown);
  EXPECT_FALSE(IsWow64()) << "a 64-bit process never runs under WOW64";
}

// Windows 11 still reports 10.0; only its build number tells it apart.
TEST(WinVersion, TellsWindows11ApartByItsBuild) {
  EXPECT_EQ(detail::MapVersion(VER_PLATFORM_WIN32_NT, 10, 0, 21999), Win10);
  EXPECT_EQ(detail::MapVersion(VER_PLATFORM_WIN32_NT, 10, 0, 22000), Win11);
}

} // namespace
