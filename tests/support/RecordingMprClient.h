// Reads what the recording mpr.dll saw. The plug-in's mpr.dll import and this
// client resolve to the same module, so both see one call list.
#pragma once

#include <string>
#include <vector>

namespace test {

// Empties the list; WNetAddConnection2W answers `addResult` from now on.
void ResetNetworkCalls(unsigned long addResult = 0);
// Every call since the last reset, oldest first, e.g.
// "cancel \\srv\share flags=0 force=1" or "add local=Z: remote=\\srv\share ...".
std::vector<std::wstring> NetworkCalls();
// Calls `hook` with the name inside every WNetCancelConnection2W, after
// recording it; cleared by ResetNetworkCalls.
void SetCancelHook(void (*hook)(const wchar_t* name));
// True when mpr.dll is the recording double (tests that assert calls need it).
bool RecordingMprLoaded();

} // namespace test
