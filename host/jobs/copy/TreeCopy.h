// Backup and restore: one folder tree copied into another through the
// plug-in, contents first, then each item's attributes and times.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "host/session/HostLog.h"
#include "host/session/Output.h"
#include "host/jobs/TreeWalk.h"
#include "host/jobs/Workers.h"
#include "contract/IBackupData.h"

namespace host {

struct CopySettings {
  uint32_t bufferSize = 1u << 20;
  bool incremental = false; // skip files whose size and last write time match in the target
  bool dryRun = false;      // walk and report, change nothing
};

enum class FailureKind {
  Other,
  Locked,  // another program held it and no shadow copy could be read
  Changed, // it changed while it was read
  Space,   // no room for it on DST's disk, or in the user's quota there
  Metadata, // copied, but its attributes, times or ACL were not applied
};

struct ItemFailure {
  std::wstring relative; // below the source; "" is the source folder itself
  std::wstring reason;   // with the plug-in's own words where it gave any
  FailureKind kind = FailureKind::Other;
};

struct CopyReport {
  TreeTotals total;  // what the counting pass found
  TreeTotals copied; // copied, or to be copied in a dry run
  uint64_t skippedFiles = 0;
  uint64_t skippedBytes = 0;
  uint64_t fromShadowCopy = 0;
  std::vector<ItemFailure> failures;         // not copied
  std::vector<ItemFailure> metadataFailures; // copied, metadata not applied
  std::vector<std::wstring> notFollowed; // links to folders, below the source
  std::wstring stopReason; // why the run ended early; empty when it did not
  uint64_t notAttempted = 0;
  double seconds = 0;

  bool complete() const { return failures.empty() && metadataFailures.empty() && stopReason.empty(); }
};

// One file of a tree copy.
struct FileCopy {
  std::wstring from;                // in the source
  std::wstring to;                  // in the target
  FileInfo info;                    // the source's listing entry
  std::optional<FileInfo> existing; // the target's entry, when it has the file
};

struct FileCopyResult {
  bool copied = false;   // the copy is in place (its attributes may still have failed)
  bool diskFull = false; // the target's disk, or the user's quota there, had no room for it
  bool quota = false;    // that was the quota
  uint64_t bytes = 0;
  bool fromShadowCopy = false;
  std::optional<ItemFailure> failure; // `relative` left empty; kind Metadata when `copied`
};

// Copies one file and then its attributes and times: a new file straight
// under its name, a replacement under a temporary name that is moved over
// the old copy only once it arrived whole. A file whose size or last write
// time changed while it was read is not kept. A write the plug-in fails as
// a full disk counts as one only when DST's free space confirms it (FAT32
// says so of a file that reaches 4 GiB). Never throws for the file's own
// failures; `onChunk` hears each chunk read.
FileCopyResult CopyOneFile(IBackupDataRead& source, IBackupDataWrite& target, const HostLog& log,
                           const FileCopy& file, std::vector<char>& buffer,
                           const std::function<void(uint32_t)>& onChunk);

// Copies everything below the folder `from`, read through `source`, into the
// folder `to` (created when missing), written through `target`. A file that
// fails part way leaves nothing of itself and the copy goes on with the next
// item; a second file that does not fit on a full disk ends the run. Links
// to folders are not followed, on either side. Temporary files that an
// earlier run left behind are removed. Shows progress on `out`. Throws
// HostError when it cannot start: no source folder, source and target in
// one another, a target that cannot be created. With `workers` the walk
// stays on this thread (folders are created before their files) and the
// files are copied by the workers; a folder's attributes and times still
// follow everything below it, and the report is the one a single thread
// would give, its failures in the order of the walk. Times are compared at
// the precision of the coarser drive (TimePrecision), and a file of 4 GiB
// or more fails at once when DST is FAT.
CopyReport CopyTree(IBackupDataRead& source, IBackupDataWrite& target, const HostLog& log, TextOutput& out,
                    const std::wstring& from, const std::wstring& to, const CopySettings& settings,
                    WorkerPool* workers = nullptr);

// The lines that end the command; `what` is "Backup" or "Restore".
std::wstring CopySummary(const CopyReport& report, const std::wstring& what, const CopySettings& settings);

// The summary's lines on links to folders that were not followed: how many,
// the first few by name.
std::wstring NotFollowedLines(const std::vector<std::wstring>& links);

// "1 file", "3 files".
std::wstring CountOf(uint64_t count, const std::wstring& noun);

} // namespace host
