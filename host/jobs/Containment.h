// Source and target of a tree copy told apart as folders, not as names.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "vmlib/WindowsApi.h"

namespace host {

// What Windows identifies a file or folder by, whatever name reached it.
struct FolderId {
  DWORD volume; // the volume's serial number
  DWORD indexHigh;
  DWORD indexLow;
  // Where the serial number is Wine's stand-in for one (it cannot read most
  // drives' serials and gives each drive letter its own, so one item reached
  // under two letters differs in the serial alone, and items under one
  // letter may lie on several volumes): the volume's size, which tells the
  // volumes apart with the file index instead. 0 for a true serial number.
  ULONGLONG volumeBytes = 0;

  bool operator==(const FolderId& other) const;
  ULONGLONG Index() const { return (static_cast<ULONGLONG>(indexHigh) << 32) | indexLow; }
};

// The identity of what the virtual path leads to, links resolved; nothing
// when it does not exist or cannot be reached.
std::optional<FolderId> IdentityOf(const std::wstring& virtualPath);

// Whether the virtual path leads to `folder` (as IdentityOf would tell), at
// a cost a check of every folder copied can bear.
bool LeadsTo(const std::wstring& virtualPath, const std::optional<FolderId>& folder);

// Why the file `copy` (DST's namesake of SRC's file `original`, both
// virtual paths) is no copy of it: a link (LinkAt), or that same file under
// a second name (a hard link), which changes whenever SRC does; or why that
// could not be told. Empty when it is a file of its own.
std::wstring NotACopy(const std::wstring& original, const std::wstring& copy);

// The folders of SRC, as the counting walk meets them: every folder of DST
// that the copy writes into is compared with each one, so that no second
// name (a folder mounted twice, a drive letter or a share for a folder of
// SRC) lets SRC be written over. Only the file index is read of each; the
// whole identity only where an index matches.
class SourceFolders {
public:
  explicit SourceFolders(const std::wstring& from) : from_(from) {}
  // Records SRC's folder `relative`; one the host cannot reach, with why.
  void Add(const std::wstring& relative);
  // Why SRC's folder `relative` could not be recorded; null when it was.
  const std::wstring* Unreached(const std::wstring& relative) const;
  // Which of SRC's folders (below SRC; "" for SRC itself) the folder at
  // `virtualPath` is, under whatever name. Nothing when it is none of them,
  // or when it cannot be reached to tell, with why in `problem`.
  std::optional<std::wstring> Find(const std::wstring& virtualPath, std::wstring& problem) const;

private:
  const std::wstring from_;
  std::multimap<ULONGLONG, std::wstring> byIndex_;
  std::map<std::wstring, std::wstring> unreached_;
};

// Throws HostError when the folders `from` and `to` (virtual paths; `to` may
// not exist yet) are one folder or one lies inside the other, however they
// are spelled: in other case, through another drive letter, through a link.
// Folders are compared by what Windows identifies them with (the volume
// serial number and file index of GetFileInformationByHandle) all the way up
// from each, along the path as spelled and along the path Windows resolves.
// A SRC that the host cannot reach is refused too.
void RequireSeparateTrees(const std::wstring& from, const std::wstring& to);

} // namespace host
