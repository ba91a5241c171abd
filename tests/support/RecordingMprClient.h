// Reads what the recording mpr.dll saw. The plug-in's mpr.dll import and this
// client resolve to the same module, so both see one call list.
#pragma once

#include <string>
#include <vector>

namespace test {

using CallList = std::vector<std::wstring>;

// Empties the list. These fail the test when mpr.dll is not the double.
void ResetNetworkCalls();
// Every call since the last reset, oldest first, as CancelCall and AddCall spell them.
CallList NetworkCalls();
// Calls `hook` with the name inside every WNetCancelConnection2W, after
// recording it; cleared by ResetNetworkCalls.
void SetCancelHook(void (*hook)(const wchar_t* name));

// The record of a forced cancel of `name` (a drive or a share), and of the
// connection the plug-in makes for a location.
std::wstring CancelCall(const std::wstring& name);
std::wstring AddCall(const std::wstring& drive, const std::wstring& share, const std::wstring& user = L"u",
                     const std::wstring& password = L"p");

} // namespace test
