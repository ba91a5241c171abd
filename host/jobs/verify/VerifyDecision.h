// What verify finds of each item of SRC from the two listings alone, with no
// plug-in and no file system: its differences, and whether the contents are
// hashed too. The rules stand in one function, in the order they apply;
// TreeVerify gathers what they ask for, hashes and reports.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/jobs/TimePrecision.h"
#include "host/jobs/TreeWalk.h"
#include "contract/PluginTypes.h"

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

enum class VerifyAction {
  Missing,  // DST has no namesake: nothing below it is compared
  Mismatch, // a file on one side, a folder or a link on the other: not entered, nothing more compared
  Compare,  // the same kind: times, attributes and ACL compared, and a folder entered
  Hash,     // a file of the same size, too: its contents are hashed on both sides, and a
            // difference in them comes before the others
};

struct VerifyRules {
  bool compareAcl = false; // ACL copying is on
  TimePrecision precision; // of the coarser drive
};

struct VerifyDecision {
  VerifyAction action;
  std::vector<Difference> differences; // in the order they are reported
};

// Attribute bits a copy can restore and verify compares: read-only, hidden,
// system, folder, temporary, offline, not content indexed. Archive is the
// file system's own (Wine sets it on every write), and normal, compressed,
// encrypted, sparse and reparse bits follow from how the target stores data.
uint32_t ComparedAttributes(uint32_t attributes);

// `namesake` is DST's item of the same name, null when DST has none. Times
// are compared at `rules.precision`; last access times never, since reading
// the files to compare them changes those.
VerifyDecision DecideVerify(const std::wstring& relative, const FileInfo& info, const TargetEntry* namesake,
                            const VerifyRules& rules);

} // namespace host
