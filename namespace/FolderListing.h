// Folder listings and file information: what the host browses.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "contract/PluginTypes.h"
#include "items/HeldFolders.h"
#include "logging/PluginBase.h"
#include "vmlib/WindowsApi.h"

// Which parts of a security descriptor an instance reads and writes; settled
// once, when the instance is built.
struct AclSettings {
  bool copy = false;                                 // the host's "CopyACL"
  std::array<bool, 4> parts{false, false, false, false}; // DACL, owner, primary group, SACL
};

class FolderListing {
public:
  FolderListing(PluginBase& log, const AclSettings& acl, items::HeldFolders& folders)
      : log_(log), acl_(acl), folders_(folders) {}

  // Appends the entries of the folder `realPath` to `list`: its folders,
  // then its other items, each group in the order of the file system, and
  // keeps what it listed for the checks of later acts. A listing that cannot
  // start or stops early is reported; what was listed stays. 3, with nothing
  // appended, when the path is no folder (`reconnect` is run once first).
  uint32_t ListDirectory(const std::wstring& realPath, FolderList& list, const std::function<void()>& reconnect);

  // 0 with `info` filled (fields are added, never cleared), 3 when there is no
  // such item. `path` is the virtual path that `realPath` maps.
  uint32_t QueryFileInfo(const std::wstring& path, const std::wstring& realPath, FileInfo& info);

private:
  void FillFileInfo(const WIN32_FIND_DATAW& data, FileInfo& info);
  void FillFileInfo(const items::FolderItem& item, FileInfo& info);
  // Reports a descriptor that cannot be read and goes on without it.
  void ReadAclRights(const std::wstring& itemPath, FileInfo& info);

  PluginBase& log_;
  const AclSettings& acl_;
  items::HeldFolders& folders_;
};

// The virtual root's entries: the usable local drives ("C$"), then the
// persistent network drives not already listed. Optical drives are left out.
void AppendDriveEntries(FolderList& list);

// Size and free bytes of the drive of the virtual `path`; 1 when the system
// cannot tell, with both outputs untouched.
uint32_t QueryFreeSpace(const std::wstring& path, uint64_t& total, uint64_t& free);
