#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "vmlib/VMLib.h"

namespace {

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

TEST(Time, CountsHundredNanosecondsSince1970) {
  const SYSTEMTIME y2k = {/*wYear=*/2000, /*wMonth=*/1, /*wDayOfWeek=*/0, /*wDay=*/1, 0, 0, 0, 0};
  FILETIME fileTime{};
  ASSERT_TRUE(::SystemTimeToFileTime(&y2k, &fileTime));
  int64_t time = 0;
  VMLib::time::FileTimeToTime(fileTime, time);
  // 946684800 seconds lie between 1970-01-01 and 2000-01-01.
  EXPECT_EQ(time, 946684800LL * 10000000LL);
  EXPECT_EQ(ToTime(kUnixEpochTicks), 0);
  EXPECT_EQ(ToTime(kUnixEpochTicks - 1), -1);
  EXPECT_EQ(ToTicks(0), kUnixEpochTicks);
}

// Both directions wrap modulo 2^64, so each undoes the other exactly, even for
// FILETIMEs with the top bit set that no clock produces.
TEST(Time, RoundTripsExactlyAtTheEdges) {
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

} // namespace
