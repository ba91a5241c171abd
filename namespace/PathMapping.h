// Virtual paths ("", "C$", "C$\Data\book.db") and the Windows paths they
// stand for.
#pragma once

#include <string>

namespace paths {

// "\\?\C:\..." for a local drive, the share's UNC path followed by the rest
// for a persistent network drive; a path shorter than two characters comes
// back unchanged. Reads the registry on every call, so a mapping made or
// removed a moment ago counts.
std::wstring MapPath(const std::wstring& path);

// The path with every character that Windows refuses in a name replaced by
// "_", component by component.
std::wstring SanitizePath(const std::wstring& path);

// True when the virtual path names a whole drive ("C$", "C$\", "C:"), however
// many separators follow the drive name.
bool IsDriveRoot(const std::wstring& path);

} // namespace paths
