#include <gtest/gtest.h>

#include "tests/vmlib/WineDetection.h"
#include "vmlib/VMLib.h"

namespace {

using VMLib::UniqueKernelHandle;
using VMLib::system::GetSecurityPrivilegesStatus;
using VMLib::system::PrivilegeStatus;
using VMLib::tests::RunningUnderWine;
using Statuses = std::map<std::wstring, PrivilegeStatus>;

const std::vector<std::wstring> kAclPrivileges = {L"SeSecurityPrivilege", L"SeBackupPrivilege",
                                                  L"SeRestorePrivilege"};

// Independent of the library: is the privilege enabled in the process token?
bool EnabledInToken(const std::wstring& name) {
  UniqueKernelHandle token;
  EXPECT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put()));
  PRIVILEGE_SET set{};
  set.PrivilegeCount = 1;
  set.Control = PRIVILEGE_SET_ALL_NECESSARY;
  EXPECT_TRUE(::LookupPrivilegeValueW(nullptr, name.c_str(), &set.Privilege[0].Luid));
  BOOL enabled = FALSE;
  EXPECT_TRUE(::PrivilegeCheck(token.get(), &set, &enabled));
  return enabled != FALSE;
}

TEST(vmlib_Privileges, RecordsEveryNameAsked) {
  Statuses statuses;
  EXPECT_EQ(GetSecurityPrivilegesStatus(kAclPrivileges, statuses), 0u);
  ASSERT_EQ(statuses.size(), 3u);
  for (const std::wstring& name : kAclPrivileges) {
    ASSERT_EQ(statuses.count(name), 1u) << name;
    EXPECT_EQ(statuses[name].errorCode, 0u) << name;
  }
}

TEST(vmlib_Privileges, EnabledMeansEnabledInToken) {
  Statuses statuses;
  GetSecurityPrivilegesStatus(kAclPrivileges, statuses);
  for (const std::wstring& name : kAclPrivileges) {
    EXPECT_EQ(statuses[name].enabled, EnabledInToken(name)) << name;
    if (statuses[name].enabled) {
      EXPECT_TRUE(statuses[name].held) << name;
    }
  }
}

TEST(vmlib_Privileges, AclPrivilegesAreHeldAndEnabledUnderWine) {
  if (!RunningUnderWine()) GTEST_SKIP() << "on Windows this depends on the account running the tests";
  Statuses statuses;
  GetSecurityPrivilegesStatus(kAclPrivileges, statuses);
  for (const std::wstring& name : kAclPrivileges) {
    EXPECT_TRUE(statuses[name].held) << name;
    EXPECT_TRUE(statuses[name].enabled) << name;
  }
}

TEST(vmlib_Privileges, UnknownNameGivesErrorCode) {
  Statuses statuses;
  EXPECT_EQ(GetSecurityPrivilegesStatus({L"SeNoSuchPrivilege"}, statuses),
            static_cast<uint32_t>(ERROR_NO_SUCH_PRIVILEGE));
  ASSERT_EQ(statuses.count(L"SeNoSuchPrivilege"), 1u);
  const PrivilegeStatus& status = statuses[L"SeNoSuchPrivilege"];
  EXPECT_EQ(status.errorCode, static_cast<uint32_t>(ERROR_NO_SUCH_PRIVILEGE));
  EXPECT_FALSE(status.held);
  EXPECT_FALSE(status.enabled);
}

TEST(vmlib_Privileges, NamesAfterAFailureAreStillChecked) {
  Statuses statuses;
  EXPECT_EQ(GetSecurityPrivilegesStatus({L"SeBackupPrivilege", L"SeNoSuchPrivilege", L"SeRestorePrivilege"},
                                        statuses),
            static_cast<uint32_t>(ERROR_NO_SUCH_PRIVILEGE));
  ASSERT_EQ(statuses.size(), 3u);
  EXPECT_EQ(statuses[L"SeBackupPrivilege"].errorCode, 0u);
  EXPECT_EQ(statuses[L"SeRestorePrivilege"].errorCode, 0u);
}

// No ordinary token holds SeCreateTokenPrivilege: AdjustTokenPrivileges
// succeeds with ERROR_NOT_ALL_ASSIGNED, which is no error of the check.
TEST(vmlib_Privileges, PrivilegeMissingFromTokenIsNeitherHeldNorEnabled) {
  Statuses statuses;
  EXPECT_EQ(GetSecurityPrivilegesStatus({L"SeCreateTokenPrivilege"}, statuses), 0u);
  const PrivilegeStatus& status = statuses[L"SeCreateTokenPrivilege"];
  EXPECT_EQ(status.errorCode, 0u);
  EXPECT_FALSE(status.held);
  EXPECT_FALSE(status.enabled);
}

TEST(vmlib_Privileges, NoNamesGiveNoRecords) {
  Statuses statuses;
  EXPECT_EQ(GetSecurityPrivilegesStatus({}, statuses), 0u);
  EXPECT_TRUE(statuses.empty());
}

} // namespace
