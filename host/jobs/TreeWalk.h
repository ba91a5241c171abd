// Depth-first walks of a folder tree through the plug-in, shared by the
// counting pass, backup, restore and verify.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/session/HostLog.h"
#include "contract/IBackupData.h"

namespace host {

struct TreeTotals {
  uint64_t files = 0;
  uint64_t folders = 0;
  uint64_t bytes = 0;
  uint64_t items() const { return files + folders; }
};

bool IsFolder(const FileInfo& info);
// A link to a folder (junction, symbolic link): its target may lie outside
// the tree or loop back into it, so walks never enter it.
bool IsLinkedFolder(const FileInfo& info);

// What DST holds under the name of an item of SRC, as a job's walk found it.
struct TargetEntry {
  std::wstring name; // as DST spells it
  FileInfo info;     // from DST's listing
  // A file whose handle leads to another item (LinkAt): why; empty when it
  // is that file, and for a folder, whose listing entry tells a link.
  std::wstring link;
};

// Windows compares names without regard to case.
bool SameName(const std::wstring& a, const std::wstring& b);
struct NameLess {
  bool operator()(const std::wstring& a, const std::wstring& b) const;
};

// Why the plug-in cannot open or create an item of this name (Windows
// holds such names, but the plug-in refuses them by design); empty when it
// can.
std::wstring UnusableName(const std::wstring& name);

// `root` with `relative` below it; `root` when `relative` is empty.
std::wstring ChildPath(const std::wstring& root, const std::wstring& relative);
// The last component of `path`.
std::wstring LeafName(const std::wstring& path);
// `path` with its last component replaced by `leaf`.
std::wstring WithLeaf(const std::wstring& path, const std::wstring& leaf);
// `path` without trailing separators (a drive keeps its two characters).
std::wstring TrimmedPath(std::wstring path);
// A drive ("C$") or the root (""): not an item whose attributes are copied.
bool IsDriveOrRoot(const std::wstring& path);

// The folder's entries, folders first, then files, each sorted by name
// (names that differ only in case in a fixed order).
// False with `problem` set when the plug-in could not list it, or reported
// an error while listing it.
bool ListSorted(IBackupDataRead& data, const HostLog& log, const std::wstring& path,
                std::vector<FolderEntry>& entries, std::wstring& problem);

// The information of the folder at `path`. Throws HostError naming `role`
// ("SRC", "DST") when it is missing or not a folder.
FileInfo RequireFolder(IBackupDataRead& data, const HostLog& log, const std::wstring& path, const wchar_t* role);

// Why an item's name does not tell it from the others of its folder.
enum class NameClash {
  // It differs only in case from an earlier item (possible on
  // case-sensitive file systems, such as shares served from Linux).
  Case,
  // The source gave several items this one name, as Wine gives a name that
  // is not valid UTF-8 on Linux, with U+FFFD in place of the bytes it could
  // not convert.
  Inexact,
  // It holds "\" or "/", which Windows takes for separators (possible on
  // Linux), so no path names it.
  Separator,
};

// What a walk calls, in the order of a recursive walk. `relative` is the
// item's path below the root: "" for the root itself, "a\b" below it.
class TreeVisitor {
public:
  // Before the folder's entries; false: they are not visited and the folder
  // is not left either.
  virtual bool EnterFolder(const std::wstring& relative, const FileInfo& info) = 0;
  virtual void VisitFile(const std::wstring& relative, const FileInfo& info) = 0;
  // After everything below the folder.
  virtual void LeaveFolder(const std::wstring& relative, const FileInfo& info) = 0;
  // The entered folder's entries could not be listed; it is still left.
  virtual void ListingFailed(const std::wstring& relative, const std::wstring& problem) = 0;
  // A link to a folder below the root: never entered.
  virtual void VisitLink(const std::wstring& relative, const FileInfo& info) = 0;
  // An item whose name does not tell it from another of the same folder,
  // never entered: every item of a name the source gave more than once, and
  // every other item `clash` names. `relative` of a Separator item is for
  // showing only: joined with its own name, it is no path to it.
  virtual void VisitNameClash(const std::wstring& relative, const FileInfo& info, const std::wstring& reason,
                              NameClash clash) = 0;
  // Asked before each entry: true ends the walk, though the folders already
  // entered are still left.
  virtual bool Stopped() const { return false; }

protected:
  ~TreeVisitor() = default;
};

// Walks the folder `root` (whose information is `rootInfo`) with an explicit
// stack, so that no depth can exhaust the thread's stack. The root is
// entered even when it is a link: that one was chosen by name.
void WalkTree(IBackupDataRead& data, const HostLog& log, const std::wstring& root, const FileInfo& rootInfo,
              TreeVisitor& visitor);

// Files, folders and bytes below `root`; name clashes count as the items
// they are, links to folders not at all. `onFolder` hears each folder
// walked, the root ("") first.
TreeTotals CountTree(IBackupDataRead& data, const HostLog& log, const std::wstring& root, const FileInfo& rootInfo,
                     const std::function<void(const std::wstring& relative)>& onFolder = nullptr);

} // namespace host
