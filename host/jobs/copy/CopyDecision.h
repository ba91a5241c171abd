// What backup and restore do with each item of SRC, decided from what the
// walk found on both sides and nothing else: no plug-in, no file system.
// The rules stand in one function, in the order they apply; TreeCopy gathers
// what they ask for and does what they decide.
#pragma once

#include <string>

#include "host/jobs/TimePrecision.h"
#include "host/jobs/TreeWalk.h"
#include "contract/PluginTypes.h"

namespace host {

enum class CopyAction {
  New,      // DST has nothing of this name: the file is written under it, the folder created
  Replace,  // DST has a file of this name: a whole copy is written beside it and moved over it
  Merge,    // DST has an item of the folder's name: the folder is created there (the plug-in
            // refuses where it is a file) and what SRC's folder holds is copied into it
  Skip,     // --incremental: DST's file has the size and last write time of SRC's
  Clash,    // DST holds under this name what the file may not replace: a folder, or a partial
            // copy of an earlier run under the name its replacement would take
  Link,     // DST holds a link under this name: nothing is written through it
  Fail,     // the item cannot be copied: its name, or a size the FAT drive cannot hold
  Unlisted, // DST's folder could not be listed, so nothing is written into it: the item
            // fails, and a folder is still walked so that each item below it is named
};

// An item of SRC, with what the walk learned of its place in DST.
struct CopyItem {
  std::wstring relative; // below SRC
  FileInfo info;         // SRC's listing entry
  std::wstring unlisted; // why DST's folder of it could not be listed; empty when it was
  bool isTarget = false; // a folder that is DST itself, reached under another name
  // A file: the name its replacement would be written under holds a partial
  // copy that this job may not remove (a link, or one the plug-in refused).
  bool replacementTaken = false;
};

struct CopyRules {
  std::wstring to;          // DST, as the messages name it
  bool incremental = false; // files unchanged in DST are skipped
  TimePrecision precision;  // of the coarser drive
};

struct CopyDecision {
  CopyAction action;
  std::wstring reason; // why it is not copied; empty for New, Replace, Merge and Skip
};

// `namesake` is DST's item of the same name, null when DST has none.
CopyDecision DecideCopy(const CopyItem& item, const TargetEntry* namesake, const CopyRules& rules);

} // namespace host
