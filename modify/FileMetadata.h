// Attributes, times and security descriptors written back to the storage.
#pragma once

#include <cstdint>
#include <string>

#include "contract/IPluginCallbacks.h"
#include "contract/PluginTypes.h"
#include "items/HeldFolders.h"
#include "logging/PluginBase.h"
#include "namespace/FolderListing.h"

// Reads the host's "CopyACL" and, when it is exactly "True", checks the
// privileges that copying needs, reports each one missing and settles which
// parts of a descriptor are copied.
AclSettings ConfigureAclCopying(IPluginHost* host, PluginBase& log);

// Writes the descriptor (as `acl` allows), then the attributes and the times
// of `info` to the item at the Windows path `realPath`, once the item is
// confirmed through its held folder and held open while they are written. A
// time without its valid bit becomes the time of the call. `made` is the
// file the instance has just written there, when it has: another item under
// that name is refused.
uint32_t ApplyRealFileInfo(PluginBase& log, const AclSettings& acl, items::HeldFolders& folders,
                           const std::wstring& realPath, const FileInfo& info, const items::WrittenFile* made);
