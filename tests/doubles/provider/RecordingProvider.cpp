// A library under the real provider's name whose provider writes down each call
// the plug-in makes, in order, in the process environment (DISKWAY_PROVIDER_CALLS),
// where a test still reads it after the library is unloaded. Its Initialize
// answers DISKWAY_PROVIDER_INITIALIZE (0 when unset). Its CreateSnapshots
// returns no snapshot root, as a provider that breaks its promise of one root
// per volume would.
#include <cwchar>
#include <list>
#include <string>

#include "contract/ISnapshotProvider.h"
#include "vmlib/WindowsApi.h"

namespace {

constexpr DWORD kRecordLength = 1024;

void Record(const std::wstring& call) {
  wchar_t calls[kRecordLength] = {};
  ::GetEnvironmentVariableW(L"DISKWAY_PROVIDER_CALLS", calls, kRecordLength);
  const std::wstring all = calls[0] == L'\0' ? call : std::wstring(calls) + L" " + call;
  ::SetEnvironmentVariableW(L"DISKWAY_PROVIDER_CALLS", all.c_str());
}

class RecordingProvider final : public ISnapshotProvider {
public:
  // The entries the plug-in never calls.
  const wchar_t* GetProviderName() override { return L"Recording provider"; }
  uint32_t GetProviderVersion() override { return 1; }
  bool IsVolumeSupported(const wchar_t*) override { return true; }
  uint32_t GetSnapshotCount() override { return 0; }
  bool GetSnapshotVolume(uint32_t, std::wstring&) override { return false; }
  bool GetSnapshotDevice(uint32_t, std::wstring&) override { return false; }
  bool GetSnapshotId(uint32_t, std::wstring&) override { return false; }
  bool GetSnapshotSetId(std::wstring&) override { return false; }
  void SetTimeout(uint32_t) override {}
  uint32_t GetTimeout() override { return 0; }
  void SetRetryCount(uint32_t) override {}
  uint32_t GetRetryCount() override { return 1; }
  void SetIncludeWriters(bool) override {}
  uint32_t GetWriterCount() override { return 0; }
  bool GetWriterName(uint32_t, std::wstring&) override { return false; }
  int32_t GetLastHResult() override { return 0; }
  bool IsSnapshotSetInProgress() override { return false; }
  void AbortSnapshotSet() override {}

  void Destroy(int flags) override {
    Record(L"Destroy(" + std::to_wstring(flags) + L")");
    delete this;
  }
  int32_t Initialize() override {
    Record(L"Initialize");
    wchar_t result[16] = {};
    ::GetEnvironmentVariableW(L"DISKWAY_PROVIDER_INITIALIZE", result, 16);
    return static_cast<int32_t>(std::wcstol(result, nullptr, 10));
  }
  void StartSnapshotSet() override { Record(L"StartSnapshotSet"); }
  bool AddVolume(const wchar_t* volume) override {
    Record(L"AddVolume(" + std::wstring(volume) + L")");
    return true;
  }
  void CreateSnapshots(const std::list<std::wstring>&, std::list<std::wstring>&) override {
    Record(L"CreateSnapshots");
  }
  void ReleaseSnapshots(bool completed) override {
    Record(L"ReleaseSnapshots(" + std::to_wstring(completed) + L")");
  }
  void SetMessageCallback(const SnapshotMessageCallback&) override { Record(L"SetMessageCallback"); }
};

} // namespace

extern "C" __declspec(dllexport) ISnapshotProvider* GetInterface() { return new RecordingProvider(); }
