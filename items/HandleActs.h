// Opening, checking and changing items through handles only. Every call
// here acts on the object a handle holds, or opens one name relative to a
// folder handle, so nothing is looked up again by its full name: a folder
// above can be swapped for a link between two calls, and a held handle
// still reaches the folder it was opened on.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "vmlib/DirectoryReader.h"
#include "vmlib/FinalPath.h"
#include "vmlib/ScopedHandle.h"
#include "vmlib/WindowsApi.h"

namespace items {

// ERROR_REPARSE_POINT_ENCOUNTERED, which MinGW's headers lack: the status
// of an act refused because the item is not the one that was there.
constexpr DWORD kErrorNotTheItem = 4395;

// The attributes a program can change; the others describe the item.
constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                      FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                                      FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
// Read-only, hidden and system stand in the way of deleting or replacing.
constexpr DWORD kProtectingAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

using VMLib::IsNameSurrogate;

// True when `name` is one component that a path can be built from: not
// empty, no separator, not "." or "..". A file system that keeps other
// names (a Linux one holding "\") must not have them joined into paths.
bool IsOneComponent(const std::wstring& name);

// A file's identity on its volume. Where the file system keeps 128-bit ids
// (ReFS) the 64-bit index is not unique, and `high` carries the rest.
struct ItemId {
  uint64_t high = 0;
  uint64_t low = 0;
  bool wide = false; // read in the 128-bit form
  // 0 and all-ones are what file systems without ids answer.
  bool Known() const { return (high | low) != 0 && !(high == ~0ull && low == ~0ull); }
  bool operator==(const ItemId& other) const { return high == other.high && low == other.low; }
  bool operator!=(const ItemId& other) const { return !(*this == other); }
};

// True when both ids are known and differ: an unknown id proves nothing.
inline bool Differ(const ItemId& a, const ItemId& b) { return a.Known() && b.Known() && a != b; }

// What a handle holds, read from the handle.
struct ItemFacts {
  DWORD attributes = 0;
  DWORD reparseTag = 0;
  ULONG links = 1;
  ItemId id;
  bool IsFolder() const { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
  bool IsLink() const { return IsNameSurrogate(attributes, reparseTag); }
  // Windows opens a link itself and gives its tag; Wine 8 opens what it
  // leads to and shows only the bit.
  bool HoldsLinkItself() const { return IsLink() && reparseTag != 0; }
};

// What a file shows without being opened: its times, size and attributes.
// The change time is the system's own, stamped on every change to the
// file, so another file shows the same look only where its owner may set
// that time (Windows).
struct ItemLook {
  int64_t creation = 0;
  int64_t lastWrite = 0;
  int64_t change = 0;
  int64_t size = 0;
  DWORD attributes = 0;
  bool operator==(const ItemLook& other) const {
    return creation == other.creation && lastWrite == other.lastWrite && change == other.change &&
           size == other.size && attributes == other.attributes;
  }
};

// A file this instance wrote: its id, and its look when it was closed
// (none where it could not be read).
struct WrittenFile {
  ItemId id;
  std::optional<ItemLook> look;
};

// Others may read, write and delete the item meanwhile.
constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// How to open one name relative to a folder handle.
struct OpenRequest {
  ACCESS_MASK access = FILE_READ_ATTRIBUTES;
  ULONG share = kShareAll;
  ULONG disposition = 1; // FILE_OPEN; FILE_CREATE is 2
  ULONG options = 0;     // FILE_DIRECTORY_FILE, FILE_NON_DIRECTORY_FILE
  // Open a link as itself, and follow none; false follows links as any
  // program opening the name would.
  bool linkItself = true;
  // As a program that reads the file opens it: others may read it too, and
  // links are followed.
  static OpenRequest ForReading() {
    OpenRequest request;
    request.access = GENERIC_READ;
    request.share = FILE_SHARE_READ;
    request.options = FILE_NON_DIRECTORY_FILE;
    request.linkItself = false;
    return request;
  }
};

constexpr ULONG kOpenExisting = 1;
constexpr ULONG kCreateNew = 2;
// Access that walking through and listing a folder needs.
constexpr ACCESS_MASK kFolderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES;

// Opens a folder by its name: a drive or share root to walk from, or one
// whose items are only looked at. 0 or a Win32 code.
DWORD OpenRoot(const std::wstring& root, VMLib::UniqueFile& folder);
// Opens `name` in the folder `folder` holds. 0 or a Win32 code
// (ERROR_ALREADY_EXISTS when FILE_CREATE meets a taken name).
DWORD OpenRelative(HANDLE folder, const std::wstring& name, const OpenRequest& request, VMLib::UniqueFile& item);
// Opens the object `item` holds once more, with other access.
DWORD Reopen(HANDLE item, ACCESS_MASK access, ULONG share, ULONG options, VMLib::UniqueFile& reopened);

// True where ids need 128 bits on the volume of `root` (ReFS).
bool NeedsWideIds(HANDLE root);
DWORD ReadFacts(HANDLE item, bool wideIds, ItemFacts& facts);
DWORD ReadId(HANDLE item, bool wideIds, ItemId& id);
DWORD ReadLook(HANDLE item, ItemLook& look);
// True when the Windows path `path` reaches an item that shows `look`, read
// without opening it: under Wine the program answers that itself, with no
// request to the server. By the full name, for an act that goes by it.
bool LooksAsBefore(const std::wstring& path, const ItemLook& look);
using VMLib::FinalPathOf;
// The handle's path below its volume's root: what stands in for the final
// path where Wine 8 cannot give one (it fails with ERROR_MORE_DATA for a
// path longer than MAX_PATH characters, whatever the buffer).
DWORD PathOnVolume(HANDLE item, std::wstring& path);

// Attributes (0 leaves them) and times (0 leaves each) in one call.
DWORD SetBasicInfo(HANDLE item, const FILE_BASIC_INFO& info);
DWORD SetAttributes(HANDLE item, DWORD attributes);
DWORD Truncate(HANDLE item);
// Deletes the item through its handle (DELETE and FILE_WRITE_ATTRIBUTES).
// Where the system takes it, read-only is ignored by the deletion itself;
// elsewhere it is cleared through the handle first, and put back when the
// file lives on under another name (a hard link).
DWORD DeleteThrough(HANDLE item, const ItemFacts& facts);
// Renames the item to `name` in the folder `targetFolder` holds.
DWORD RenameThrough(HANDLE item, HANDLE targetFolder, const std::wstring& name, bool replaceExisting);

} // namespace items
