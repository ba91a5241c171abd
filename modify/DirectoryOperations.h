// Creating folder trees and moving items on the storage.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "logging/PluginBase.h"

// Makes every missing folder of the Windows path `realPath`, top down. A level
// that cannot be made is tried once more after `reconnect` (the level may lie
// on a network location whose connection dropped). 0 when the folder exists
// at the end.
uint32_t CreateFolderTree(PluginBase& log, const std::wstring& realPath, const std::function<void()>& reconnect);

// Moves a file or folder, replacing an existing target file, across volumes too.
uint32_t MoveRealItem(PluginBase& log, const std::wstring& realSource, const std::wstring& realTarget);
