// The entries of a folder, read through a handle to it: each with its id,
// so an item opened afterwards can be told from one put in its place.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "items/HandleActs.h"
#include "vmlib/WindowsApi.h"

namespace items {

struct FolderItem {
  std::wstring name;
  DWORD attributes = 0;
  DWORD reparseTag = 0; // for a reparse point
  FILETIME creationTime = {};
  FILETIME lastAccessTime = {};
  FILETIME lastWriteTime = {};
  uint64_t size = 0;
  ItemId id;
  bool IsFolder() const { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
  bool IsLink() const { return IsNameSurrogate(attributes, reparseTag); }
};

class FolderReader {
public:
  enum class Result { Entry, Done, Error };

  // Reads from the start of the folder `folder` holds (opened with
  // FILE_LIST_DIRECTORY); `wideIds` as the volume needs.
  FolderReader(HANDLE folder, bool wideIds) : folder_(folder), wideIds_(wideIds) {}

  // The next entry but "." and "..", in the order of the file system.
  Result Next();
  // Valid after Next() gave Entry, until the next call.
  const FolderItem& Item() const { return item_; }
  // The code of the failure after Error.
  DWORD Error() const { return error_; }
  // True when the folder showed no entry at all, not even "." and "..":
  // the root of an empty volume, where a search by name fails with
  // ERROR_FILE_NOT_FOUND.
  bool Empty() const { return empty_; }

private:
  bool Fill();

  HANDLE folder_;
  bool wideIds_;
  // Entries end in names of variable length; 64-bit elements keep them aligned.
  std::vector<uint64_t> buffer_ = std::vector<uint64_t>(8192);
  size_t offset_ = 0;
  bool pending_ = false; // the buffer holds entries from `offset_` on
  bool started_ = false;
  bool done_ = false;
  bool empty_ = false;
  DWORD error_ = 0;
  FolderItem item_;
};

} // namespace items
