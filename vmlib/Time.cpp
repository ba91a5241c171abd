#include "vmlib/VMLib.h"

namespace VMLib {
namespace time {

namespace {

// 100-ns intervals from 1601-01-01 (the FILETIME epoch) to 1970-01-01.
constexpr uint64_t kUnixEpochAsFileTime = 116444736000000000ULL;

// Two's-complement reinterpretation without relying on implementation-defined
// narrowing: values above INT64_MAX map to the negative half.
int64_t ToSigned(uint64_t value) {
  if (value <= static_cast<uint64_t>(INT64_MAX)) return static_cast<int64_t>(value);
  return -static_cast<int64_t>(~value) - 1;
}

} // namespace

// Both directions wrap modulo 2^64, so every FILETIME survives the round trip,
// including those with the high bit set that no real clock produces.
void FileTimeToTime(const FILETIME& fileTime, int64_t& time) {
  const uint64_t ticks = (static_cast<uint64_t>(fileTime.dwHighDateTime) << 32) | fileTime.dwLowDateTime;
  time = ToSigned(ticks - kUnixEpochAsFileTime);
}

void TimeToFileTime(int64_t time, FILETIME& fileTime) {
  const uint64_t ticks = static_cast<uint64_t>(time) + kUnixEpochAsFileTime;
  fileTime.dwLowDateTime = static_cast<DWORD>(ticks);
  fileTime.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
}

} // namespace time
} // namespace VMLib
