// Backup and restore: one folder tree copied into another through the
// plug-in, contents first, then each item's attributes and times.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/HostLog.h"
#include "host/Output.h"
#include "host/TreeWalk.h"
#include "contract/IBackupData.h"

namespace host {

struct CopySettings {
  uint32_t bufferSize = 1u << 20;
  bool incremental = false; // skip files whose size and last write time match in the target
  bool dryRun = false;      // walk and report, change nothing
};

struct ItemFailure {
  std::wstring relative; // below the source; "" is the source folder itself
  std::wstring reason;   // with the plug-in's own words where it gave any
  bool locked = false;   // another program held it and no shadow copy could be read
};

struct CopyReport {
  TreeTotals total;  // what the counting pass found
  TreeTotals copied; // copied, or to be copied in a dry run
  uint64_t skippedFiles = 0;
  uint64_t skippedBytes = 0;
  uint64_t fromShadowCopy = 0;
  std::vector<ItemFailure> failures;
  std::wstring stopReason; // why the run ended early; empty when it did not
  uint64_t notAttempted = 0;
  double seconds = 0;

  bool complete() const { return failures.empty() && stopReason.empty(); }
};

// Copies everything below the folder `from`, read through `source`, into the
// folder `to` (created when missing), written through `target`. A file that
// fails part way is removed from the target and the copy goes on with the
// next item; a second file that does not fit on a full disk ends the run.
// Shows progress on `out`. Throws HostError when it cannot start: no source
// folder, a target inside the source, a target that cannot be created.
CopyReport CopyTree(IBackupDataRead& source, IBackupDataWrite& target, const HostLog& log, TextOutput& out,
                    const std::wstring& from, const std::wstring& to, const CopySettings& settings);

// The lines that end the command; `what` is "Backup" or "Restore".
std::wstring CopySummary(const CopyReport& report, const std::wstring& what, const CopySettings& settings);

// "1 file", "3 files".
std::wstring CountOf(uint64_t count, const std::wstring& noun);

} // namespace host
