// Folders held open while an instance works, with what was listed or made
// in them. Every item is reached from the drive or share root, one component
// at a time, each opened relative to its folder's handle: a held folder is
// the folder it was opened on, even when its name has since been given to a
// link. The next level is checked against what the folder showed before, so
// a folder or file put in the place of a listed one is refused, not used.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <unordered_map>

#include "items/FolderReader.h"
#include "items/HandleActs.h"
#include "vmlib/ScopedHandle.h"

namespace items {

// Why an item was refused.
struct Refusal {
  enum class Kind {
    None,
    Swapped,         // not the item listed or made under that name
    NotOneComponent, // a name that would be read as a path
    FollowedLink,    // a link this system opens as what it leads to
  };
  Kind kind = Kind::None;
  std::wstring path; // the refused component, as the walk spelled it
  explicit operator bool() const { return kind != Kind::None; }
  // Why, in words that follow "cannot <act> '<path>': ".
  std::wstring Reason() const;
};

// What a folder showed under one name.
struct Entry {
  enum class Kind {
    Plain,     // listed here, not a link
    Made,      // made here by this instance
    Followed,  // reached by following the caller's path, links included
    Link,      // listed as a link
    Ambiguous, // names that differ only in case, on a system that keeps both
  };
  Kind kind = Kind::Plain;
  ItemId id;
  DWORD attributes = 0;
};

struct HeldFolder {
  VMLib::UniqueFile handle;
  std::wstring path; // as the walk spelled it
  bool wideIds = false;
  std::wstring finalPath; // read once, when a check needs it
  uint64_t used = 0;
  std::unordered_map<std::wstring, Entry> entries; // by name folded to upper case
  const Entry* Find(const std::wstring& name) const;
  // The path of `name` in this folder, as the walk spells it.
  std::wstring PathOf(const std::wstring& name) const;
};

class HeldFolders {
public:
  // At most `capacity` folders are held; the least recently used go first.
  explicit HeldFolders(size_t capacity = 64) : capacity_(capacity) {}

  // The folder at the Windows path `realPath`. The pointer stays valid
  // until the next call that walks. 0, kErrorNotTheItem with `refusal`
  // set, or the Win32 code of the failed open.
  DWORD Folder(const std::wstring& realPath, HeldFolder*& folder, Refusal& refusal);
  // As Folder, creating each missing level. A level that fails is tried
  // once more after `retry`; `failed` names the level that failed.
  DWORD MakeFolder(const std::wstring& realPath, const std::function<void()>& retry, std::wstring& failed,
                   Refusal& refusal);
  // The folder of `realPath`, when it is held, and the name of the item in
  // it; nothing is opened.
  const HeldFolder* HeldParent(const std::wstring& realPath, std::wstring& name) const;
  // The folder holding the item `realPath` names, and its name there.
  // ERROR_INVALID_NAME for a root, which has none.
  DWORD Parent(const std::wstring& realPath, HeldFolder*& parent, std::wstring& name, Refusal& refusal);
  // Opens `name` in `parent` and reads `facts`; refuses what is not the
  // entry the folder showed for that name. With `linkItself`, an item that
  // nothing vouches for is confirmed by its final path too, and one reached
  // through a link this system opens as its target (or through another name
  // of a file) gets the reparse bit without a tag in `facts`: acting through
  // such a handle would act on the target.
  DWORD OpenChild(HeldFolder& parent, const std::wstring& name, const OpenRequest& request, VMLib::UniqueFile& item,
                  ItemFacts& facts, Refusal& refusal);
  // Parent, then OpenChild: the item `realPath` names, its folder and its
  // name there.
  DWORD OpenItem(const std::wstring& realPath, const OpenRequest& request, VMLib::UniqueFile& item,
                 ItemFacts& facts, Refusal& refusal, HeldFolder*& parent, std::wstring& name);
  // False when `item` was reached through a link to a file that this system
  // opens as its target (Wine 8), which only the final path gives away;
  // true also where the system cannot give a final path.
  bool ReachedByName(HeldFolder& parent, const std::wstring& name, HANDLE item);

  // What the instance itself made, renamed or removed under a name.
  void RecordMade(HeldFolder& parent, const std::wstring& name, const ItemFacts& facts);
  void Record(HeldFolder& parent, const std::wstring& name, const ItemFacts& facts);
  void Record(HeldFolder& parent, const FolderItem& item);
  void Unrecord(HeldFolder& parent, const std::wstring& name);
  void ClearEntries(HeldFolder& folder) { folder.entries.clear(); }
  // Lets go of the folder at `realPath` and every held folder below it.
  void Forget(const std::wstring& realPath);
  // Lets go of every held folder.
  void Clear() { held_.clear(); }

private:
  DWORD Walk(const std::wstring& realPath, bool make, const std::function<void()>* retry, std::wstring* failed,
             HeldFolder*& folder, Refusal& refusal);
  DWORD OpenLevel(HeldFolder& parent, const std::wstring& name, bool make, VMLib::UniqueFile& handle,
                  ItemFacts& facts, Refusal& refusal);
  static bool Removed(const HeldFolder& folder);
  HeldFolder& Hold(const std::wstring& key, VMLib::UniqueFile handle, bool wideIds);
  void Touch(HeldFolder& folder) { folder.used = ++clock_; }

  size_t capacity_;
  uint64_t clock_ = 0;
  uint64_t walkStart_ = 0;
  std::map<std::wstring, HeldFolder> held_;
};

// The key of the folder holding `realPath`'s last component, and that
// component. False for a root or a path without one.
bool SplitParent(const std::wstring& realPath, std::wstring& folder, std::wstring& name);

// Splits a Windows path into its root ("\\?\C:\", "\\?\UNC\srv\share\",
// "\\srv\share\") and the components below it, empty ones left out.
// False for a path without such a root.
bool SplitRoot(const std::wstring& realPath, std::wstring& root, std::vector<std::wstring>& components);

} // namespace items
