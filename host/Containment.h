// Source and target of a tree copy told apart as folders, not as names.
#pragma once

#include <string>

namespace host {

// Throws HostError when the folders `from` and `to` (virtual paths; `to` may
// not exist yet) are one folder or one lies inside the other, however they
// are spelled: in other case, through another drive letter, through a link.
// Folders are compared by what Windows identifies them with (the volume
// serial number and file index of GetFileInformationByHandle) all the way up
// from each, along the path as spelled and along the path Windows resolves.
void RequireSeparateTrees(const std::wstring& from, const std::wstring& to);

} // namespace host
