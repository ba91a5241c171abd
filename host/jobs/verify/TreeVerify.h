// Verify: a folder tree compared with its copy through the plug-in, item by
// item: names, sizes, contents (SHA-256), times, attributes and, with ACL
// copying on, security descriptors. What differs in each item's listing is
// decided in VerifyDecision; this walks, hashes and collects.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/jobs/TreeWalk.h"
#include "host/jobs/Workers.h"
#include "host/jobs/verify/VerifyDecision.h"
#include "host/session/HostLog.h"
#include "host/session/Output.h"
#include "contract/IBackupData.h"

namespace host {

struct VerifyReport {
  TreeTotals checked;
  std::vector<Difference> differences;
  std::vector<std::wstring> notFollowed; // links to folders, below SRC
  double seconds = 0;
};

// Compares the folder `from`, read through `source`, with the folder `to`,
// read through `target`. Creation and last write times are compared, at the
// precision of the coarser drive (TimePrecision; its probe is a temporary
// file in `to`, removed again); Wine reports the last write time as the
// creation time, which still compares equal after a copy. Last access times
// are not, since reading the files to compare them changes those. With
// `compareAcl` the owner, group, DACL and SACL are compared where SRC's
// descriptor has them (the parts the plug-in reads are the parts it
// writes). Shows progress on `out`. Throws HostError when either folder is
// missing. With `workers` the contents are compared by the workers (their
// source and target instances) and the report is the one a single thread
// would give.
VerifyReport VerifyTrees(IBackupDataRead& source, IBackupDataWrite& target, const HostLog& log, TextOutput& out,
                         const std::wstring& from, const std::wstring& to, uint32_t bufferSize, bool compareAcl,
                         WorkerPool* workers = nullptr);

} // namespace host
