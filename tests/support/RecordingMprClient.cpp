#include "tests/support/RecordingMprClient.h"

#include "vmlib/ScopedHandle.h"
#include "vmlib/WindowsApi.h"

namespace test {
namespace {

typedef size_t (*CountFn)();
typedef const wchar_t* (*CallFn)(size_t);
typedef void (*ResetFn)(DWORD);
typedef void (*HookFn)(void (*)(const wchar_t*));

HMODULE Mpr() {
  // Loading by name gives the module the plug-in imports (already loaded, or
  // loaded now from the test folder under WINEDLLOVERRIDES=mpr=n).
  static HMODULE module = ::LoadLibraryW(L"mpr.dll");
  return module;
}

} // namespace

bool RecordingMprLoaded() {
  return Mpr() != nullptr && VMLib::GetFunction<CountFn>(Mpr(), "RecordingMprCallCount") != nullptr;
}

void ResetNetworkCalls(unsigned long addResult) {
  if (auto reset = VMLib::GetFunction<ResetFn>(Mpr(), "RecordingMprReset")) reset(addResult);
}

void SetCancelHook(void (*hook)(const wchar_t* name)) {
  if (auto set = VMLib::GetFunction<HookFn>(Mpr(), "RecordingMprSetCancelHook")) set(hook);
}

std::vector<std::wstring> NetworkCalls() {
  std::vector<std::wstring> calls;
  const auto count = VMLib::GetFunction<CountFn>(Mpr(), "RecordingMprCallCount");
  const auto call = VMLib::GetFunction<CallFn>(Mpr(), "RecordingMprCall");
  if (count == nullptr || call == nullptr) return calls;
  for (size_t i = 0; i < count(); ++i) calls.push_back(call(i));
  return calls;
}

} // namespace test
