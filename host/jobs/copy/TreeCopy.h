// Backup and restore: one folder tree copied into another through the
// plug-in, contents first, then each item's attributes and times. What
// becomes of each item is decided in CopyDecision; this does it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/jobs/TreeWalk.h"
#include "host/jobs/Workers.h"
#include "host/jobs/copy/FileCopy.h"
#include "host/session/HostLog.h"
#include "host/session/Output.h"
#include "contract/IBackupData.h"

namespace host {

struct CopySettings {
  uint32_t bufferSize = 1u << 20;
  bool incremental = false; // skip files whose size and last write time match in the target
  bool dryRun = false;      // walk and report, change nothing
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

} // namespace host
