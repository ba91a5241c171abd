// Commands of the Linux side run from a test under Wine: links, hard links
// and swaps that Wine cannot make itself (it moves what a link leads to).
#pragma once

#include <string>

namespace test {

// The Linux path of a Windows path, or empty where Wine cannot tell.
std::string UnixPathOf(const std::wstring& windowsPath);
// Runs `script` with /bin/sh in the Linux folder of `windowsFolder`; its exit code.
int RunNative(const std::wstring& windowsFolder, const std::string& script);

} // namespace test
