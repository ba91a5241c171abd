#include "host/jobs/TimePrecision.h"

#include <algorithm>

#include "host/jobs/Transfer.h"
#include "host/jobs/TreeWalk.h"
#include "host/session/LocalFile.h"
#include "host/session/Text.h"
#include "vmlib/ScopedHandle.h"
#include "vmlib/WindowsApi.h"

namespace host {

namespace {

constexpr int64_t kTenMilliseconds = 100000;
constexpr int64_t kSecond = 10000000;
constexpr int64_t kHour = 3600 * kSecond;
// 2024-01-15 09:00:01.2345678 UTC: odd in every digit a drive may drop, and
// far enough from each step's boundary that rounding up, down or to the
// nearest step all show which step it was.
constexpr int64_t kProbeTime = 1705309200 * kSecond + 12345678;

// The largest step the read-back time is a whole multiple of and that lies
// within one step of what was set; 0 when it is nowhere near (not kept).
int64_t StepFrom(int64_t set, int64_t got) {
  const int64_t apart = got > set ? got - set : set - got;
  for (const int64_t step : {2 * kSecond, kSecond, kTenMilliseconds}) {
    if (got % step == 0 && apart < step) return step;
  }
  return apart == 0 ? 1 : 0;
}

int64_t CoarserStep(int64_t a, int64_t b) {
  return a == 0 || b == 0 ? 0 : std::max(a, b);
}

} // namespace

TimePrecision Coarser(const TimePrecision& a, const TimePrecision& b) {
  return {CoarserStep(a.write, b.write), CoarserStep(a.creation, b.creation), a.fat || b.fat};
}

bool SameTime(int64_t a, int64_t b, int64_t step, bool fat) {
  if (step == 0) return true;
  const int64_t apart = a > b ? a - b : b - a;
  return apart < step || (fat && apart > kHour - step && apart < kHour + step);
}

TimePrecision PrecisionByName(const std::wstring& virtualPath) {
  const std::wstring local = LocalPathOf(virtualPath);
  if (local.empty()) return {};
  // Asked through a handle to the folder: by its root's name, Wine reads the
  // device under Z: and prints to stderr when it may not.
  const VMLib::UniqueFile folder(::CreateFileW(local.c_str(), /*access=*/0,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                               /*security=*/nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                               /*templateFile=*/nullptr));
  wchar_t system[MAX_PATH];
  if (!folder || !::GetVolumeInformationByHandleW(folder.get(), nullptr, 0, nullptr, nullptr, nullptr, system,
                                                  MAX_PATH)) {
    return {};
  }
  const std::wstring name = system;
  if (name == L"FAT" || name == L"FAT32") return {2 * kSecond, kTenMilliseconds, true};
  if (name == L"exFAT") return {kTenMilliseconds, kTenMilliseconds, false};
  return {};
}

TimePrecision LearnPrecision(IBackupDataWrite& target, const HostLog& log, const std::wstring& folder) {
  const std::wstring probe = TemporaryPathFor(ChildPath(folder, L"~diskway-time-probe"));
  TimePrecision learned;
  uint32_t id = 0;
  if (target.Open(probe, OpenWrite, id) != StatusSuccess) return learned;
  target.Close(id);
  FileInfo set;
  set.attributes = FILE_ATTRIBUTE_ARCHIVE;
  set.creationTime = set.lastAccessTime = set.lastWriteTime = kProbeTime;
  set.validFields = FieldAll;
  FileInfo got;
  if (target.ApplyFileInfo(probe, set) == StatusSuccess && target.QueryFileInfo(probe, got) == StatusSuccess) {
    learned.write = StepFrom(kProbeTime, got.lastWriteTime);
    learned.creation = (got.validFields & FieldCreationTime) ? StepFrom(kProbeTime, got.creationTime) : 0;
    // Only FAT keeps write times in steps of two seconds, and in local time.
    learned.fat = learned.write == 2 * kSecond;
  }
  const uint64_t mark = log.MessageCount();
  if (target.RemoveFile(probe) != StatusSuccess) {
    log.Note(L"the time probe " + probe + L" was not removed: " + log.LastProblemSince(mark));
  }
  return learned;
}

TimePrecision PrecisionOf(IBackupDataWrite& target, const HostLog& log, const std::wstring& folder) {
  return Coarser(PrecisionByName(folder), LearnPrecision(target, log, folder));
}

std::wstring WriteTimesNotKept(const TimePrecision& precision, const std::wstring& folder) {
  if (precision.write != 0) return L"";
  return L"DST " + Quoted(folder) + L" does not keep last write times (one set there came back far from it)";
}

} // namespace host
