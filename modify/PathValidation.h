// The check every change and every open makes before it touches a path.
#pragma once

#include <string>

#include "logging/PluginBase.h"

// True when the virtual path may be used; reports each problem it finds.
// `longPathsEnabled` adds a warning for paths longer than 260 characters.
bool ValidatePath(PluginBase& log, const std::wstring& path, bool longPathsEnabled);
