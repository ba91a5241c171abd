// Source and target of a tree copy told apart as folders, not as names.
#pragma once

#include <optional>
#include <string>

#include "vmlib/WindowsApi.h"

namespace host {

// What Windows identifies a file or folder by, whatever name reached it.
struct FolderId {
  DWORD volume;
  DWORD indexHigh;
  DWORD indexLow;

  bool operator==(const FolderId& other) const {
    return volume == other.volume && indexHigh == other.indexHigh && indexLow == other.indexLow;
  }
};

// The identity of what the virtual path leads to, links resolved; nothing
// when it does not exist or cannot be reached.
std::optional<FolderId> IdentityOf(const std::wstring& virtualPath);

// Whether the virtual path leads to `folder` (as IdentityOf would tell), at
// a cost a check of every folder copied can bear.
bool LeadsTo(const std::wstring& virtualPath, const std::optional<FolderId>& folder);

// Throws HostError when the folders `from` and `to` (virtual paths; `to` may
// not exist yet) are one folder or one lies inside the other, however they
// are spelled: in other case, through another drive letter, through a link.
// Folders are compared by what Windows identifies them with (the volume
// serial number and file index of GetFileInformationByHandle) all the way up
// from each, along the path as spelled and along the path Windows resolves.
// A SRC that the host cannot reach is refused too.
void RequireSeparateTrees(const std::wstring& from, const std::wstring& to);

} // namespace host
