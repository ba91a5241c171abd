// Creating folder trees and moving items on the storage.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "items/HeldFolders.h"
#include "logging/PluginBase.h"

// Makes every missing folder of the Windows path `realPath`, top down, each
// level in the one above it, and holds them. A level that cannot be made is
// tried once more after `reconnect` (the level may lie on a network location
// whose connection dropped). 0 when the folder exists at the end.
uint32_t CreateFolderTree(PluginBase& log, items::HeldFolders& folders, const std::wstring& realPath,
                          const std::function<void()>& reconnect);

// Moves a file or folder through a handle to it, replacing an existing
// target file. Across volumes a file is copied into a new file beside the
// target, renamed over it and then removed through its handle; a name at
// the target that cannot be opened (a dangling link) is left and named.
uint32_t MoveRealItem(PluginBase& log, items::HeldFolders& folders, const std::wstring& realSource,
                      const std::wstring& realTarget);
