#include "tests/support/RecordingMprClient.h"

#include <gtest/gtest.h>

#include "vmlib/ScopedHandle.h"
#include "vmlib/WindowsApi.h"

namespace test {
namespace {

template <typename Fn>
Fn Export(const char* name) {
  // Loading by name gives the module the plug-in imports (already loaded, or
  // loaded now from the test folder under WINEDLLOVERRIDES=mpr=n).
  static const HMODULE module = ::LoadLibraryW(L"mpr.dll");
  const Fn function = VMLib::GetFunction<Fn>(module, name);
  if (function == nullptr) ADD_FAILURE() << "mpr.dll beside the tests is not the recording double";
  return function;
}

} // namespace

void ResetNetworkCalls() {
  if (auto reset = Export<void (*)()>("RecordingMprReset")) reset();
}

void SetCancelHook(void (*hook)(const wchar_t* name)) {
  if (auto set = Export<void (*)(void (*)(const wchar_t*))>("RecordingMprSetCancelHook")) set(hook);
}

CallList NetworkCalls() {
  const auto calls = Export<const CallList* (*)()>("RecordingMprCalls");
  return calls != nullptr ? *calls() : CallList();
}

std::wstring CancelCall(const std::wstring& name) { return L"cancel " + name + L" flags=0 force=1"; }

std::wstring AddCall(const std::wstring& drive, const std::wstring& share, const std::wstring& user,
                     const std::wstring& password) {
  return L"add local=" + drive + L" remote=" + share +
         L" type=1 scope=0 display=0 usage=0 comment=(null) provider=(null) user=" + user + L" password=" +
         password + L" flags=0";
}

} // namespace test
