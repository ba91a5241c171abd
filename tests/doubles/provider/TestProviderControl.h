// Control of the scriptable provider double (target test_provider, built as
// vsnp_2003.dll). A test resolves these exports from the module the plug-in
// loaded (GetModuleHandleW(L"vsnp_2003.dll")), or loads the double itself
// first: it is the same module either way.
//
// Script and record live in the double's globals: they outlast provider
// objects, and start afresh when the library is loaded again or on Reset.
//
// Record: one line per call of GetInterface and of each entry the plug-in
// calls, in call order, with its arguments: GetInterface, Initialize,
// SetMessageCallback (or "SetMessageCallback empty"), StartSnapshotSet,
// AddVolume C:\, CreateSnapshots C:\|D:\ (volumes joined by '|'),
// ReleaseSnapshots true|false, Destroy 1. The introspection and tuning entries
// answer constants (no snapshots, no writers, HRESULT 0) and are not recorded.
//
// The double keeps the provider's contract: AddVolume and CreateSnapshots
// outside a started set, and StartSnapshotSet before the snapshots of a made
// set were released, throw VSS_E_BAD_STATE; a failure ends the set; releasing
// nothing does nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "vmlib/ScopedHandle.h"
#include "vmlib/WindowsApi.h"

extern "C" {
// Forgets the script and the record; live providers stay counted.
typedef void (*TestProviderResetFn)();
// The snapshot root CreateSnapshots returns for every volume. Unscripted, a
// volume's root is the volume itself without its trailing backslash (the
// live files).
typedef void (*TestProviderSetSnapshotRootFn)(const wchar_t* root);
// Makes every later call of `operation` (StartSnapshotSet, AddVolume,
// CreateSnapshots, ReleaseSnapshots) throw an IVssException* with this code
// and text, after recording the call and ending the set; a null text stops it
// throwing.
typedef void (*TestProviderSetThrowFn)(const wchar_t* operation, int32_t code, const wchar_t* text);
// Copies the record, lines ended by '\n', null-terminated and cut to fit
// `capacity` characters; returns the length of the whole record without the
// null, so a call with a null buffer asks for the size.
typedef size_t (*TestProviderCallsFn)(wchar_t* buffer, size_t capacity);
// Provider objects given out by GetInterface and not yet destroyed.
typedef int32_t (*TestProviderLiveProvidersFn)();
}

// The exports above, resolved from one loaded copy of the double.
class TestProviderControl {
public:
  explicit TestProviderControl(HMODULE module)
      : reset_(Resolve<TestProviderResetFn>(module, "TestProviderReset")),
        setSnapshotRoot_(Resolve<TestProviderSetSnapshotRootFn>(module, "TestProviderSetSnapshotRoot")),
        setThrow_(Resolve<TestProviderSetThrowFn>(module, "TestProviderSetThrow")),
        calls_(Resolve<TestProviderCallsFn>(module, "TestProviderCalls")),
        liveProviders_(Resolve<TestProviderLiveProvidersFn>(module, "TestProviderLiveProviders")) {}

  // False when the module is not the double (an export is missing).
  bool Resolved() const { return missing_ == 0; }

  void Reset() const { reset_(); }
  void SetSnapshotRoot(const wchar_t* root) const { setSnapshotRoot_(root); }
  void SetThrow(const wchar_t* operation, int32_t code, const wchar_t* text) const {
    setThrow_(operation, code, text);
  }
  int32_t LiveProviders() const { return liveProviders_(); }

  std::vector<std::wstring> Calls() const {
    std::wstring record(calls_(nullptr, 0), L'\0');
    calls_(&record[0], record.size() + 1);
    std::vector<std::wstring> lines;
    size_t start = 0;
    for (size_t end = record.find(L'\n'); end != std::wstring::npos; end = record.find(L'\n', start)) {
      lines.push_back(record.substr(start, end - start));
      start = end + 1;
    }
    return lines;
  }

private:
  template <typename Fn>
  Fn Resolve(HMODULE module, const char* name) {
    const Fn function = VMLib::GetFunction<Fn>(module, name);
    if (function == nullptr) ++missing_;
    return function;
  }

  int missing_ = 0;
  TestProviderResetFn reset_;
  TestProviderSetSnapshotRootFn setSnapshotRoot_;
  TestProviderSetThrowFn setThrow_;
  TestProviderCallsFn calls_;
  TestProviderLiveProvidersFn liveProviders_;
};
