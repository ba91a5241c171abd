// How finely a drive keeps file times, so that a copy on a drive that rounds
// them (FAT32, exFAT: most USB drives) is not taken for a changed file.
#pragma once

#include <cstdint>
#include <string>

#include "host/session/HostLog.h"
#include "contract/IBackupData.h"

namespace host {

struct TimePrecision {
  // Steps in 100 ns ticks; 0: the drive does not keep that time.
  int64_t write = 1;
  int64_t creation = 1;
  // FAT: times kept in local time (a change of daylight-saving time moves
  // every one by an hour), and no file of 4 GiB or more.
  bool fat = false;
};

// The coarser of each part.
TimePrecision Coarser(const TimePrecision& a, const TimePrecision& b);

// Whether two times are one at `step` (0: not kept, so always); with `fat`
// a difference of exactly one hour is one time too.
bool SameTime(int64_t a, int64_t b, int64_t step, bool fat);

// From the name Windows gives the drive's file system. Under Wine that
// name fails on an exFAT drive and says "NTFS" for ext4, so it tells FAT
// and exFAT on Windows only; anything else counts as exact.
TimePrecision PrecisionByName(const std::wstring& virtualPath);

// Learned by writing a temporary file into the folder, setting its times,
// reading them back and taking each step from the difference: what the drive
// does, wherever its name is wrong. Exact when the probe cannot be made.
TimePrecision LearnPrecision(IBackupDataWrite& target, const HostLog& log, const std::wstring& folder);

// Both: what the name says and what the probe found.
TimePrecision PrecisionOf(IBackupDataWrite& target, const HostLog& log, const std::wstring& folder);

// Where `precision` keeps no last write time (some WebDAV, NAS and
// user-mode file systems set their own), the start of a job's line that
// says so of `folder`; empty where write times are kept.
std::wstring WriteTimesNotKept(const TimePrecision& precision, const std::wstring& folder);

} // namespace host
