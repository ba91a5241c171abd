#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>

#include "vmlib/VMLib.h"

namespace {

using VMLib::time::FileTimeToTime;
using VMLib::time::TimeToFileTime;

constexpr uint64_t kUnixEpochTicks = 116444736000000000ULL;

FILETIME MakeFileTime(uint64_t ticks) {
  FILETIME fileTime;
  fileTime.dwLowDateTime = static_cast<DWORD>(ticks);
  fileTime.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return fileTime;
}

uint64_t Ticks(const FILETIME& fileTime) {
  return (static_cast<uint64_t>(fileTime.dwHighDateTime) << 32) | fileTime.dwLowDateTime;
}

int64_t ToTime(uint64_t ticks) {
  int64_t time = 0;
  FileTimeToTime(MakeFileTime(ticks), time);
  return time;
}

uint64_t ToTicks(int64_t time) {
  FILETIME fileTime{};
  TimeToFileTime(time, fileTime);
  return Ticks(fileTime);
}

TEST(vmlib_Time, UnixEpochFileTimeIsZero) {
  EXPECT_EQ(ToTime(kUnixEpochTicks), 0);
  EXPECT_EQ(ToTicks(0), kUnixEpochTicks);
}

TEST(vmlib_Time, CountsHundredNanosecondsSince1970) {
  SYSTEMTIME y2k{};
  y2k.wYear = 2000;
  y2k.wMonth = 1;
  y2k.wDay = 1;
  FILETIME fileTime{};
  ASSERT_TRUE(::SystemTimeToFileTime(&y2k, &fileTime));
  // 946684800 seconds lie between 1970-01-01 and 2000-01-01.
  EXPECT_EQ(ToTime(Ticks(fileTime)), 946684800LL * 10000000LL);
}

TEST(vmlib_Time, FileTimeBefore1970IsNegative) {
  EXPECT_EQ(ToTime(kUnixEpochTicks - 1), -1);
  EXPECT_EQ(ToTime(0), -static_cast<int64_t>(kUnixEpochTicks));
}

TEST(vmlib_Time, FileTimeRoundTripsAtEdgeValues) {
  const uint64_t edges[] = {0,
                            1,
                            kUnixEpochTicks - 1,
                            kUnixEpochTicks,
                            kUnixEpochTicks + 1,
                            0x00000000FFFFFFFFULL,
                            0x0000000100000000ULL,
                            0x7FFFFFFFFFFFFFFFULL,
                            0x8000000000000000ULL,
                            0x8000000000000000ULL + kUnixEpochTicks,
                            0xFFFFFFFFFFFFFFFFULL};
  for (const uint64_t ticks : edges) {
    EXPECT_EQ(ToTicks(ToTime(ticks)), ticks) << std::hex << ticks;
  }
}

TEST(vmlib_Time, TimeRoundTripsAtEdgeValues) {
  const int64_t edges[] = {std::numeric_limits<int64_t>::min(),
                           std::numeric_limits<int64_t>::min() + 1,
                           -static_cast<int64_t>(kUnixEpochTicks) - 1,
                           -static_cast<int64_t>(kUnixEpochTicks),
                           -1,
                           0,
                           1,
                           std::numeric_limits<int64_t>::max() - static_cast<int64_t>(kUnixEpochTicks),
                           std::numeric_limits<int64_t>::max()};
  for (const int64_t time : edges) {
    EXPECT_EQ(ToTime(ToTicks(time)), time) << time;
  }
}

TEST(vmlib_Time, RandomValuesRoundTripBothWays) {
  std::mt19937_64 random(20240607);
  for (int i = 0; i < 100000; ++i) {
    const uint64_t value = random();
    ASSERT_EQ(ToTicks(ToTime(value)), value) << std::hex << value;
    const int64_t time = static_cast<int64_t>(value >> 1) * ((value & 1) ? -1 : 1);
    ASSERT_EQ(ToTime(ToTicks(time)), time) << time;
  }
}

} // namespace
