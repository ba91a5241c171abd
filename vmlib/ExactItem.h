// Acting on exactly the item a path names. A name can reach something else:
// a link leads elsewhere, an 8.3 short name answers for a long-named file,
// a drive letter can name a folder inside another drive. Checks on the name
// (its attribute bits, its spelling) then pass while the act lands on the
// other item, so every change goes through one handle that was first
// confirmed to be the named item itself.
#pragma once

#include <cstdint>
#include <string>

#include "vmlib/Export.h"
#include "vmlib/ScopedHandle.h"
#include "vmlib/WindowsApi.h"

namespace VMLib {

// The attributes a program can change; the others (directory, compressed,
// sparse, reparse point ...) describe the item and are rejected or ignored
// depending on the file system, so a record read from another item must not
// carry them in.
constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                      FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                                      FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// ERROR_REPARSE_POINT_ENCOUNTERED, which MinGW's headers lack: the status
// of an act refused because the name reached another item.
constexpr DWORD kErrorReachedOtherItem = 4395;

// True for what Windows treats as a link: a reparse point whose tag is a
// name surrogate (symbolic links, junctions and mount points), or one that
// carries no tag at all. Deduplicated files, cloud placeholders, compressed
// (WOF) files and the like are reparse points too, but ordinary items.
VMLIB_API bool IsNameSurrogate(DWORD attributes, DWORD reparseTag);

// The handle's path with every link resolved, in "\\?\" form. 0 or a Win32 code.
VMLIB_API uint32_t FinalPathOf(HANDLE handle, std::wstring& path);

// The file's index on its volume, which no other name of the same volume
// can share, read from the open file: under Wine without a request to the
// server once the handle has been used, unlike FILE_ID_INFO, whose volume
// serial number Wine asks its mount manager for on every call. False where
// the file system keeps no index.
VMLIB_API bool FileIndexOf(HANDLE handle, ULONGLONG& index);

class VMLIB_API ExactItem {
public:
  enum class Match {
    Exact,     // the handle is the named item, and it is not a link
    Link,      // the handle is the named link itself (Windows opens links so)
    Elsewhere, // the name reached another item; FinalPath() names it
  };

  ExactItem() = default;
  ExactItem(ExactItem&&) = default;
  ExactItem& operator=(ExactItem&&) = default;

  // Opens the item `path` names, never what a link leads to where the system
  // allows it, with `access` and FILE_READ_ATTRIBUTES, sharing read, write and
  // delete. 0, or the Win32 code (ERROR_FILE_NOT_FOUND or
  // ERROR_PATH_NOT_FOUND when nothing answers to the name).
  uint32_t Open(const std::wstring& path, DWORD access);
  // Opens as Open does an item this process confirmed when it made it at
  // `path` (a file created there with CREATE_NEW, which no link or other
  // name can answer for) with the file index `made`. While the name still
  // reaches that index, on the volume the same path leads to, that stands
  // for the final path check, which under Wine is a request to the server
  // for every file copied; a name that reaches anything else is checked in
  // full. What the index cannot tell: the made file renamed away and a link
  // to it left under its name, which could only lead to this process's own
  // new file.
  uint32_t OpenMade(const std::wstring& path, DWORD access, ULONGLONG made);

  // Takes over a handle the caller opened on `path` (a file it has just
  // created, say) and checks it the same way. 0 or a Win32 code; on failure
  // the handle is still owned here, so Delete() can undo the creation.
  uint32_t Adopt(const std::wstring& path, UniqueFile handle);

  Match GetMatch() const { return match_; }
  // What the handle reached, in "\\?\" form (or "\\?\UNC\..."); as
  // "volume <serial>:\path" where the system cannot give a path that long;
  // empty when OpenMade found the made item.
  const std::wstring& FinalPath() const { return finalPath_; }
  bool IsFolder() const { return (attributes_ & FILE_ATTRIBUTE_DIRECTORY) != 0; }
  DWORD Attributes() const { return attributes_; }
  HANDLE Get() const { return handle_.get(); }
  // Hands the handle on (to a table of open files, say).
  UniqueFile Release() { return std::move(handle_); }

  // The three acts below refuse with kErrorReachedOtherItem unless
  // the match is Exact or Link: the handle would act on another item.

  // Deletes the item through the handle, read-only cleared first. The handle
  // needs DELETE and FILE_WRITE_ATTRIBUTES.
  uint32_t Delete();
  // Deletes whatever the handle reached, the named item or not: only for an
  // item this handle has just created (through a link, say), which did not
  // exist before. The handle needs DELETE.
  uint32_t UndoCreation();
  // Renames the item through the handle (same volume only). The handle
  // needs DELETE.
  uint32_t MoveTo(const std::wstring& target, bool replaceExisting);
  // Attributes and times in one call. The handle needs FILE_WRITE_ATTRIBUTES.
  uint32_t SetBasicInfo(const FILE_BASIC_INFO& info);

private:
  uint32_t Check(const std::wstring& path);
  uint32_t MarkForDeletion();
  bool ActsOnNamedItem() const { return match_ != Match::Elsewhere; }

  UniqueFile handle_;
  std::wstring finalPath_;
  DWORD attributes_ = 0;
  Match match_ = Match::Elsewhere;
};

} // namespace VMLib
