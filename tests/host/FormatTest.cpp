#include <cstdint>
#include <limits>

#include <gtest/gtest.h>

#include "host/Format.h"

using host::FileTimeFromTime;
using host::FormatAttributes;
using host::FormatFileTime;
using host::FormatSize;

namespace {

FILETIME FileTimeOf(uint64_t ticks) {
  FILETIME result;
  result.dwLowDateTime = static_cast<DWORD>(ticks);
  result.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return result;
}

uint64_t TicksOf(const FILETIME& time) {
  return static_cast<uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

// A zone without daylight saving, `minutesEast` ahead of UTC.
TIME_ZONE_INFORMATION FixedZone(long minutesEast) {
  TIME_ZONE_INFORMATION zone = {};
  zone.Bias = -minutesEast;
  return zone;
}

// 2021-03-04 05:06:07 UTC as a FILETIME and as a FileInfo time.
constexpr uint64_t kFileTime2021 = 132593079670000000ull;
constexpr int64_t kTime2021 = 16148343670000000ll;

} // namespace

TEST(FormatSize, SmallSizesAreWholeBytes) {
  EXPECT_EQ(FormatSize(0), L"0 B");
  EXPECT_EQ(FormatSize(1), L"1 B");
  EXPECT_EQ(FormatSize(1023), L"1023 B");
}

TEST(FormatSize, LargerSizesUseBinaryUnitsWithOneDecimal) {
  EXPECT_EQ(FormatSize(1024), L"1.0 KiB");
  EXPECT_EQ(FormatSize(1536), L"1.5 KiB");
  EXPECT_EQ(FormatSize(1258291), L"1.2 MiB");
  EXPECT_EQ(FormatSize(3000000), L"2.9 MiB");
  EXPECT_EQ(FormatSize(5ull << 30), L"5.0 GiB");
  EXPECT_EQ(FormatSize(1536ull << 40), L"1.5 PiB");
}

TEST(FormatSize, RoundingCarriesIntoTheNextUnit) {
  EXPECT_EQ(FormatSize(1048575), L"1.0 MiB");
  EXPECT_EQ(FormatSize(1048524), L"1023.9 KiB");
}

TEST(FormatSize, LargestValueDoesNotOverflow) {
  EXPECT_EQ(FormatSize(std::numeric_limits<uint64_t>::max()), L"16.0 EiB");
}

TEST(FileTimeFromTime, ShiftsTheEpochTo1601) {
  EXPECT_EQ(TicksOf(FileTimeFromTime(0)), 116444736000000000ull);
  EXPECT_EQ(TicksOf(FileTimeFromTime(kTime2021)), kFileTime2021);
  EXPECT_EQ(TicksOf(FileTimeFromTime(-116444736000000000ll)), 0u);
}

TEST(FormatFileTime, KnownInstantInUtc) {
  const TIME_ZONE_INFORMATION utc = FixedZone(0);
  EXPECT_EQ(FormatFileTime(FileTimeOf(kFileTime2021), &utc), L"2021-03-04 05:06:07");
  EXPECT_EQ(FormatFileTime(FileTimeFromTime(0), &utc), L"1970-01-01 00:00:00");
}

TEST(FormatFileTime, ZoneOffsetMovesTheClockAndTheDate) {
  const TIME_ZONE_INFORMATION east = FixedZone(120);
  const TIME_ZONE_INFORMATION west = FixedZone(-330);
  EXPECT_EQ(FormatFileTime(FileTimeOf(kFileTime2021), &east), L"2021-03-04 07:06:07");
  EXPECT_EQ(FormatFileTime(FileTimeOf(kFileTime2021), &west), L"2021-03-03 23:36:07");
  // 2021-12-31 23:30:00 UTC
  EXPECT_EQ(FormatFileTime(FileTimeFromTime(16409934000000000ll), &east), L"2022-01-01 01:30:00");
}

TEST(FormatFileTime, TimeWindowsCannotRepresentIsMarkedInvalid) {
  const TIME_ZONE_INFORMATION utc = FixedZone(0);
  EXPECT_EQ(FormatFileTime(FileTimeFromTime(std::numeric_limits<int64_t>::min()), &utc), L"(invalid)");
}

TEST(FormatAttributes, OneLetterPerBitInFixedOrder) {
  EXPECT_EQ(FormatAttributes(0), L"-");
  EXPECT_EQ(FormatAttributes(FILE_ATTRIBUTE_DIRECTORY), L"D");
  EXPECT_EQ(FormatAttributes(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY), L"RA");
  EXPECT_EQ(FormatAttributes(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_HIDDEN), L"HSD");
  EXPECT_EQ(FormatAttributes(FILE_ATTRIBUTE_NORMAL), L"-");
  EXPECT_EQ(FormatAttributes(FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_COMPRESSED), L"LC");
}
