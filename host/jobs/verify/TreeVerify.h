// Verify: a folder tree compared with its copy through the plug-in, item by
// item: names, sizes, contents (SHA-256), times, attributes and, with ACL
// copying on, security descriptors.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/session/HostLog.h"
#include "host/session/Output.h"
#include "host/jobs/TreeWalk.h"
#include "host/jobs/Workers.h"
#include "contract/IBackupData.h"

namespace host {

enum class DifferenceKind {
  MissingInTarget,
  ExtraInTarget,
  Type, // a file on one side, a folder on the other
  Size,
  Content,
  Time,
  Attributes,
  Acl,        // a part of the security descriptor that ACL copying carries
  Unreadable, // an item or folder listing that could not be read on either side
  NameCase,   // two names of SRC that DST cannot tell apart
};

struct Difference {
  DifferenceKind kind;
  std::wstring relative; // below both roots
  std::wstring detail;
};

struct VerifyReport {
  TreeTotals checked;
  std::vector<Difference> differences;
  std::vector<std::wstring> notFollowed; // links to folders, below SRC
  double seconds = 0;
};

// Attribute bits a copy can restore and verify compares: read-only, hidden,
// system, folder, temporary, offline, not content indexed. Archive is the
// file system's own (Wine sets it on every write), and normal, compressed,
// encrypted, sparse and reparse bits follow from how the target stores data.
uint32_t ComparedAttributes(uint32_t attributes);

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

// "missing in DST", "extra in DST", "size", ...
std::wstring KindName(DifferenceKind kind);

// The lines that end the command: every difference, then the count.
// `explain` may return a note for a difference ("" for none).
std::wstring VerifySummary(const VerifyReport& report,
                           const std::function<std::wstring(const Difference&)>& explain = nullptr);

} // namespace host
