// Replaces the system's mpr.dll beside the test programs. It connects nothing:
// it records each call with its arguments, in order, for the tests to read,
// and answers that it succeeded, since the plug-in ignores the outcome.
#include <string>
#include <vector>

#include "vmlib/WindowsApi.h"

#include <winnetwk.h>

#define RECORDING_MPR_API extern "C" __declspec(dllexport)

namespace {

std::vector<std::wstring>& Calls() {
  static std::vector<std::wstring> calls;
  return calls;
}

void (*g_cancelHook)(const wchar_t*) = nullptr;

std::wstring Text(const wchar_t* value) { return value != nullptr ? value : L"(null)"; }

} // namespace

RECORDING_MPR_API DWORD WINAPI WNetAddConnection2W(LPNETRESOURCEW resource, LPCWSTR password,
                                                    LPCWSTR user, DWORD flags) {
  std::wstring call = L"add";
  if (resource == nullptr) {
    call += L" resource=(null)";
  } else {
    call += L" local=" + Text(resource->lpLocalName) + L" remote=" + Text(resource->lpRemoteName) +
            L" type=" + std::to_wstring(resource->dwType) + L" scope=" + std::to_wstring(resource->dwScope) +
            L" display=" + std::to_wstring(resource->dwDisplayType) + L" usage=" +
            std::to_wstring(resource->dwUsage) + L" comment=" + Text(resource->lpComment) +
            L" provider=" + Text(resource->lpProvider);
  }
  call += L" user=" + Text(user) + L" password=" + Text(password) + L" flags=" + std::to_wstring(flags);
  Calls().push_back(call);
  return NO_ERROR;
}

RECORDING_MPR_API DWORD WINAPI WNetCancelConnection2W(LPCWSTR name, DWORD flags, BOOL force) {
  Calls().push_back(L"cancel " + Text(name) + L" flags=" + std::to_wstring(flags) + L" force=" +
                    std::to_wstring(force));
  if (g_cancelHook != nullptr) g_cancelHook(name);
  return NO_ERROR;
}

// Every call since the last reset, oldest first. The double and the tests
// share one C++ runtime (libstdc++-6.dll), so the list itself crosses over.
RECORDING_MPR_API const std::vector<std::wstring>* RecordingMprCalls() { return &Calls(); }

RECORDING_MPR_API void RecordingMprReset() {
  Calls().clear();
  g_cancelHook = nullptr;
}

// Lets a test look at the world at the moment a connection is cancelled.
RECORDING_MPR_API void RecordingMprSetCancelHook(void (*hook)(const wchar_t*)) { g_cancelHook = hook; }
