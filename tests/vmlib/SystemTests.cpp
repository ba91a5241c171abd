// Time and text conversions, and privileges. The system version is the shadow-copy
// suites': they fail when the wrapper takes the wrong provider for it.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "vmlib/VMLib.h"

namespace {

using namespace VMLib::system;
using VMLib::strings::Join;
using VMLib::strings::Split;

// 100-ns intervals from 1601-01-01 (the FILETIME epoch) to 1970-01-01.
constexpr uint64_t kUnixEpochTicks = 116444736000000000ULL;

int64_t ToTime(uint64_t ticks) {
  const FILETIME fileTime = {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  int64_t time = 0;
  VMLib::time::FileTimeToTime(fileTime, time);
  return time;
}

uint64_t ToTicks(int64_t time) {
  FILETIME fileTime{};
  VMLib::time::TimeToFileTime(time, fileTime);
  return (static_cast<uint64_t>(fileTime.dwHighDateTime) << 32) | fileTime.dwLowDateTime;
}

// Both directions wrap modulo 2^64, so each undoes the other exactly, even for
// FILETIMEs with the top bit set that no clock produces.
TEST(Time, CountsHundredNanosecondsSince1970AndRoundTripsAtTheEdges) {
  const SYSTEMTIME y2k = {/*wYear=*/2000, /*wMonth=*/1, /*wDayOfWeek=*/0, /*wDay=*/1, 0, 0, 0, 0};
  FILETIME fileTime{};
  ASSERT_TRUE(::SystemTimeToFileTime(&y2k, &fileTime));
  // 946684800 seconds lie between 1970-01-01 and 2000-01-01.
  EXPECT_EQ(ToTime((static_cast<uint64_t>(fileTime.dwHighDateTime) << 32) | fileTime.dwLowDateTime),
            946684800LL * 10000000LL);
  EXPECT_EQ(ToTime(kUnixEpochTicks), 0);
  EXPECT_EQ(ToTime(kUnixEpochTicks - 1), -1);
  EXPECT_EQ(ToTicks(0), kUnixEpochTicks);
  const uint64_t ticks[] = {0, 1, kUnixEpochTicks - 1, kUnixEpochTicks, kUnixEpochTicks + 1,
                            0x00000000FFFFFFFFULL, 0x0000000100000000ULL, 0x7FFFFFFFFFFFFFFFULL,
                            0x8000000000000000ULL, 0x8000000000000000ULL + kUnixEpochTicks,
                            0xFFFFFFFFFFFFFFFFULL};
  for (const uint64_t value : ticks) EXPECT_EQ(ToTicks(ToTime(value)), value) << std::hex << value;
  constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  constexpr int64_t kEpoch = static_cast<int64_t>(kUnixEpochTicks);
  const int64_t times[] = {kMin, kMin + 1, -kEpoch - 1, -kEpoch, -1, 0, 1, kMax - kEpoch, kMax};
  for (const int64_t value : times) EXPECT_EQ(ToTime(ToTicks(value)), value) << value;
}

// Every text over `alphabet` up to `maxLength` characters.
std::vector<std::wstring> AllTexts(const std::wstring& alphabet, std::size_t maxLength) {
  std::vector<std::wstring> texts{L""};
  for (std::size_t i = 0; i < texts.size(); ++i) {
    if (texts[i].size() == maxLength) continue;
    for (const wchar_t c : alphabet) texts.push_back(texts[i] + c);
  }
  return texts;
}

// Split gives every component between separators, empty ones included, and
// Join(Split(x, s), s) == x for every x; separators that overlap themselves
// ("aba") are where a splitter most easily loses text.
TEST(SplitJoin, GivesEveryComponentAndRoundTripsEveryShortText) {
  const struct {
    const wchar_t* text;
    const wchar_t* separator;
    std::vector<std::wstring> parts;
  } cases[] = {
      {L"", L"\\", {}},
      {L"abc", L"\\", {L"abc"}},
      {L"C:\\Windows\\System32", L"\\", {L"C:", L"Windows", L"System32"}},
      {L"a\\\\b", L"\\", {L"a", L"", L"b"}},
      {L"\\a\\", L"\\", {L"", L"a", L""}},
      {L"\\", L"\\", {L"", L""}},
      {L"\\\\?\\C:\\\\x", L"\\", {L"", L"", L"?", L"C:", L"", L"x"}},
      {L"a:::b", L"::", {L"a", L":b"}},
      {L"a\\b", L"", {L"a\\b"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Split(c.text, c.separator), c.parts) << "text " << c.text << ", separator " << c.separator;
  }
  const struct {
    const wchar_t* alphabet;
    std::size_t maxLength;
    const wchar_t* separator;
  } runs[] = {{L"a\\", 11, L"\\"}, {L"abc", 7, L"aba"}, {L"abc", 7, L"ab"}};
  for (const auto& run : runs) {
    for (const std::wstring& text : AllTexts(run.alphabet, run.maxLength)) {
      ASSERT_EQ(Join(Split(text, run.separator), run.separator), text) << "separator " << run.separator;
    }
  }
}

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
// token holds SeCreateTokenPrivilege) is no error of the check, an unknown
// name is, and the names after it are still checked.
TEST(Privileges, RecordsEveryNameAndEnablesWhatTheTokenHolds) {
  const std::vector<std::wstring> names = {L"SeSecurityPrivilege", L"SeBackupPrivilege", L"SeNoSuchPrivilege",
                                           L"SeRestorePrivilege", L"SeCreateTokenPrivilege"};
  std::map<std::wstring, PrivilegeStatus> statuses;
  EXPECT_EQ(GetSecurityPrivilegesStatus(names, statuses), static_cast<uint32_t>(ERROR_NO_SUCH_PRIVILEGE));
  ASSERT_EQ(statuses.size(), names.size());
  for (const std::wstring& name : names) {
    const PrivilegeStatus& status = statuses[name];
    const bool unknown = name == L"SeNoSuchPrivilege";
    EXPECT_EQ(status.errorCode, unknown ? static_cast<uint32_t>(ERROR_NO_SUCH_PRIVILEGE) : 0u) << name;
    EXPECT_EQ(status.enabled, status.held) << name;
    EXPECT_EQ(status.enabled, !unknown && EnabledInToken(name)) << name;
  }
  EXPECT_FALSE(statuses[L"SeNoSuchPrivilege"].held);
  EXPECT_FALSE(statuses[L"SeCreateTokenPrivilege"].held);
}

} // namespace
