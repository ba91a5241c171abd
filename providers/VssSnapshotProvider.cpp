// Shadow-copy provider on the Volume Shadow Copy backup API. Built twice:
// vsnp_2003.dll, and vsnp_xp.dll with DISKWAY_VSS_XP for the XP service.
#include <cwchar>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "providers/ComOwners.h"
#include "providers/ProviderException.h"
#include "vmlib/ScopedHandle.h"
#include "vmlib/WindowsApi.h"
#include "contract/ISnapshotProvider.h"

#include <vss.h>
#include <vswriter.h>
#include <vsbackup.h>

namespace Providers {
namespace {

#ifdef DISKWAY_VSS_XP
// XP's service knows only its default backup context, which always involves
// the writers: SetContext is not there to call.
constexpr bool kXpService = true;
constexpr wchar_t kProviderName[] = L"Volume Shadow Copy provider (Windows XP)";
#else
constexpr bool kXpService = false;
constexpr wchar_t kProviderName[] = L"Volume Shadow Copy provider";
#endif

constexpr uint32_t kProviderVersion = 0x00010000;
constexpr uint32_t kDefaultTimeoutMs = 10 * 60 * 1000;
constexpr uint32_t kDefaultRetryCount = 4;
constexpr DWORD kPollIntervalMs = 50;
constexpr DWORD kFirstRetryDelayMs = 1000;
constexpr DWORD kLongestRetryDelayMs = 16000;
const HRESULT kTimedOut = HRESULT_FROM_WIN32(ERROR_TIMEOUT);

using CreateComponentsFn = HRESULT(STDAPICALLTYPE*)(IVssBackupComponents**);
using FreeSnapshotPropertiesFn = void(APIENTRY*)(VSS_SNAPSHOT_PROP*);
using AsyncStart = std::function<HRESULT(IVssAsync**)>;

// Vista and later export the plain names that the SDK's inline wrappers call;
// XP x64 and Server 2003 export the factory only under its C++ (x64) name.
const char* const kCreateComponentsExports[] = {
    "CreateVssBackupComponentsInternal",
    "?CreateVssBackupComponents@@YAJPEAPEAVIVssBackupComponents@@@Z"};
const char* const kFreeSnapshotPropertiesExports[] = {
    "VssFreeSnapshotPropertiesInternal", "VssFreeSnapshotProperties"};

template <typename Fn, size_t Count>
Fn FindExport(HMODULE module, const char* const (&names)[Count]) {
  for (const char* name : names) {
    if (Fn function = VMLib::GetFunction<Fn>(module, name)) return function;
  }
  return nullptr;
}

std::wstring GuidText(const GUID& id) {
  wchar_t text[40] = {};
  ::StringFromGUID2(id, text, static_cast<int>(sizeof(text) / sizeof(text[0])));
  return text;
}

bool SameVolume(const std::wstring& left, const wchar_t* right) {
  return ::_wcsicmp(left.c_str(), right) == 0;
}

// The properties' strings belong to the service's allocator until freed.
class SnapshotProperties {
public:
  explicit SnapshotProperties(FreeSnapshotPropertiesFn free) noexcept : free_(free) {}
  SnapshotProperties(const SnapshotProperties&) = delete;
  SnapshotProperties& operator=(const SnapshotProperties&) = delete;
  ~SnapshotProperties() {
    if (filled_) free_(&properties_);
  }

  VSS_SNAPSHOT_PROP* put() noexcept {
    filled_ = true;
    return &properties_;
  }
  const VSS_SNAPSHOT_PROP& get() const noexcept { return properties_; }

private:
  FreeSnapshotPropertiesFn free_;
  VSS_SNAPSHOT_PROP properties_ = {};
  bool filled_ = false;
};

// Balances a CoInitializeEx that this provider made; a thread already in a
// single-threaded apartment is used as it is.
class ComApartment {
public:
  ComApartment() = default;
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  ~ComApartment() { Leave(); }

  HRESULT Enter() {
    if (entered_) return S_OK;
    const HRESULT hr = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (hr == RPC_E_CHANGED_MODE) return S_OK;
    entered_ = SUCCEEDED(hr);
    return hr;
  }

  void Leave() noexcept {
    if (std::exchange(entered_, false)) ::CoUninitialize();
  }

private:
  bool entered_ = false;
};

struct Snapshot {
  std::wstring volume;
  VSS_ID id;
  std::wstring device;
};

class VssSnapshotProvider final : public ISnapshotProvider {
public:
  VssSnapshotProvider() = default;
  VssSnapshotProvider(const VssSnapshotProvider&) = delete;
  VssSnapshotProvider& operator=(const VssSnapshotProvider&) = delete;
  ~VssSnapshotProvider() { Shutdown(); }

  const wchar_t* GetProviderName() override { return kProviderName; }
  uint32_t GetProviderVersion() override { return kProviderVersion; }

  bool IsVolumeSupported(const wchar_t* volume) override {
    const wchar_t* failedCall = nullptr;
    if (!vssapi_ || (!components_ && FAILED(CreateComponents(failedCall)))) return false;
    bool supported = false;
    return SUCCEEDED(QueryVolumeSupport(volume, supported)) && supported;
  }

  uint32_t GetSnapshotCount() override { return static_cast<uint32_t>(snapshots_.size()); }

  bool GetSnapshotVolume(uint32_t index, std::wstring& volume) override {
    if (index >= snapshots_.size()) return false;
    volume = snapshots_[index].volume;
    return true;
  }

  bool GetSnapshotDevice(uint32_t index, std::wstring& device) override {
    if (index >= snapshots_.size() || snapshots_[index].device.empty()) return false;
    device = snapshots_[index].device;
    return true;
  }

  bool GetSnapshotId(uint32_t index, std::wstring& id) override {
    if (index >= snapshots_.size()) return false;
    id = GuidText(snapshots_[index].id);
    return true;
  }

  bool GetSnapshotSetId(std::wstring& id) override {
    if (!setInProgress_) return false;
    id = GuidText(setId_);
    return true;
  }

  // 0 restores the default.
  void SetTimeout(uint32_t milliseconds) override {
    timeoutMs_ = milliseconds == 0 ? kDefaultTimeoutMs : milliseconds;
  }
  uint32_t GetTimeout() override { return timeoutMs_; }

  // Every operation makes at least one attempt.
  void SetRetryCount(uint32_t attempts) override { retryCount_ = attempts == 0 ? 1 : attempts; }
  uint32_t GetRetryCount() override { return retryCount_; }

  void SetIncludeWriters(bool include) override { includeWriters_ = include; }
  uint32_t GetWriterCount() override { return static_cast<uint32_t>(writers_.size()); }

  bool GetWriterName(uint32_t index, std::wstring& name) override {
    if (index >= writers_.size()) return false;
    name = writers_[index];
    return true;
  }

  int32_t GetLastHResult() override { return lastHr_; }
  bool IsSnapshotSetInProgress() override { return setInProgress_; }

  void AbortSnapshotSet() override {
    const wchar_t* failedCall = nullptr;
    EndSnapshotSet(/*completed=*/false, failedCall);
  }

  void Destroy(int flags) override { delete this; }

  int32_t Initialize() override {
    if (components_) return S_OK;
    HRESULT hr = apartment_.Enter();
    if (FAILED(hr)) return Remember(hr);
    AllowWriterCallbacks();
    if (!vssapi_) {
      hr = LoadVssApi();
      if (FAILED(hr)) return Remember(hr);
    }
    const wchar_t* failedCall = nullptr;
    return Remember(CreateComponents(failedCall));
  }

  void StartSnapshotSet() override {
    if (!vssapi_) Fail(L"StartSnapshotSet", VSS_E_BAD_STATE, L"the provider is not initialized");
    if (setInProgress_) {
      Fail(L"StartSnapshotSet", VSS_E_BAD_STATE, L"a snapshot set is already in progress");
    }
    if (!components_) {
      const wchar_t* failedCall = nullptr;
      const HRESULT hr = CreateComponents(failedCall);
      if (FAILED(hr)) Fail(failedCall, hr);
    }
    writers_.clear();
    snapshots_.clear();
    try {
      PrepareSnapshotSet();
    } catch (...) {
      // A half-configured backup session cannot be configured again.
      components_.reset();
      throw;
    }
    setInProgress_ = true;
    snapshotsCreated_ = false;
  }

  bool AddVolume(const wchar_t* volume) override {
    if (!setInProgress_) Fail(L"AddToSnapshotSet", VSS_E_BAD_STATE, L"no snapshot set was started");
    if (FindSnapshot(volume) != nullptr) return true;
    bool supported = false;
    HRESULT hr = QueryVolumeSupport(volume, supported);
    if (hr == VSS_E_OBJECT_NOT_FOUND || (SUCCEEDED(hr) && !supported)) return false;
    Check(L"IsVolumeSupported", hr);
    VSS_ID id = GUID_NULL;
    hr = components_->AddToSnapshotSet(const_cast<wchar_t*>(volume), GUID_NULL, &id);
    if (hr == VSS_E_VOLUME_NOT_SUPPORTED || hr == VSS_E_OBJECT_NOT_FOUND) {
      Remember(hr);
      return false;
    }
    Check(L"AddToSnapshotSet", hr);
    snapshots_.push_back(Snapshot{volume, id, std::wstring()});
    return true;
  }

  void CreateSnapshots(const std::list<std::wstring>& volumes,
                       std::list<std::wstring>& snapshotRoots) override {
    snapshotRoots.clear();
    if (!setInProgress_) Fail(L"DoSnapshotSet", VSS_E_BAD_STATE, L"no snapshot set was started");
    if (snapshotsCreated_) {
      Fail(L"DoSnapshotSet", VSS_E_BAD_STATE, L"the snapshots of this set were already created");
    }
    for (const std::wstring& volume : volumes) {
      if (!AddVolume(volume.c_str())) {
        Fail(L"AddToSnapshotSet", VSS_E_VOLUME_NOT_SUPPORTED, volume + L" cannot be snapshotted");
      }
    }
    for (const std::wstring& volume : volumes) Report(L"Creating shadow copy of " + volume + L" ...");

    RunAsync(L"PrepareForBackup", [this](IVssAsync** async) {
      return components_->PrepareForBackup(async);
    });
    Check(L"DoSnapshotSet", WithRetries([this] {
            return AwaitAsync([this](IVssAsync** async) { return components_->DoSnapshotSet(async); });
          }));
    snapshotsCreated_ = true;

    for (Snapshot& snapshot : snapshots_) {
      SnapshotProperties properties(freeSnapshotProperties_);
      Check(L"GetSnapshotProperties", components_->GetSnapshotProperties(snapshot.id, properties.put()));
      snapshot.device = properties.get().m_pwszSnapshotDeviceObject;
    }
    for (const std::wstring& volume : volumes) {
      const Snapshot* snapshot = FindSnapshot(volume.c_str());
      snapshotRoots.push_back(snapshot->device);
      Report(L"Shadow copy of " + volume + L" created: " + snapshot->device);
    }
  }

  void ReleaseSnapshots(bool completed) override {
    const wchar_t* failedCall = nullptr;
    const HRESULT hr = EndSnapshotSet(completed, failedCall);
    if (FAILED(hr)) Fail(failedCall, hr);
  }

  void SetMessageCallback(const SnapshotMessageCallback& callback) override { callback_ = callback; }

private:
  int32_t Remember(HRESULT hr) {
    if (FAILED(hr)) lastHr_ = hr;
    return hr;
  }

  [[noreturn]] void Fail(const wchar_t* call, HRESULT hr, const std::wstring& detail = std::wstring()) {
    Remember(hr);
    throw ProviderException::ForCall(call, hr, detail);
  }

  void Check(const wchar_t* call, HRESULT hr) {
    if (hr == kTimedOut) {
      Fail(call, hr, L"no answer within " + std::to_wstring(timeoutMs_) + L" ms");
    }
    if (FAILED(hr)) Fail(call, hr);
  }

  void Report(const std::wstring& text) {
    if (callback_) callback_(text.c_str());
  }

  // The service calls the writers, and they call back into this process:
  // without identify-level impersonation those calls are refused. A host that
  // set the process's COM security first keeps its own (RPC_E_TOO_LATE).
  static void AllowWriterCallbacks() {
    ::CoInitializeSecurity(/*security=*/nullptr, /*authServices=*/-1, /*services=*/nullptr,
                           /*reserved=*/nullptr, RPC_C_AUTHN_LEVEL_PKT_PRIVACY,
                           RPC_C_IMP_LEVEL_IDENTIFY, /*authList=*/nullptr,
                           EOAC_DYNAMIC_CLOAKING, /*reserved=*/nullptr);
  }

  // Loaded at run time, from the system folder only, so that the provider
  // library itself loads on systems without the service.
  HRESULT LoadVssApi() {
    wchar_t system[MAX_PATH] = {};
    const UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
      const DWORD error = ::GetLastError();
      return HRESULT_FROM_WIN32(error == ERROR_SUCCESS ? ERROR_BUFFER_OVERFLOW : error);
    }
    const std::wstring path = std::wstring(system) + L"\\vssapi.dll";
    VMLib::UniqueModule module(::LoadLibraryW(path.c_str()));
    if (!module) {
      const DWORD error = ::GetLastError();
      return HRESULT_FROM_WIN32(error);
    }
    const auto create = FindExport<CreateComponentsFn>(module.get(), kCreateComponentsExports);
    const auto free = FindExport<FreeSnapshotPropertiesFn>(module.get(), kFreeSnapshotPropertiesExports);
    if (create == nullptr || free == nullptr) return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    vssapi_ = std::move(module);
    createComponents_ = create;
    freeSnapshotProperties_ = free;
    return S_OK;
  }

  // A backup components object serves one snapshot set; each set gets a new one.
  HRESULT CreateComponents(const wchar_t*& failedCall) {
    ComPtr<IVssBackupComponents> components;
    HRESULT hr = createComponents_(components.put());
    if (SUCCEEDED(hr) && !components) hr = E_POINTER;
    if (FAILED(hr)) {
      failedCall = L"CreateVssBackupComponents";
      return hr;
    }
    hr = components->InitializeForBackup(/*xml=*/nullptr);
    if (FAILED(hr)) {
      failedCall = L"InitializeForBackup";
      return hr;
    }
    components_ = std::move(components);
    return S_OK;
  }

  bool WritersTakePart() const { return kXpService || includeWriters_; }

  void PrepareSnapshotSet() {
    if (!kXpService) {
      // Both contexts are non-persistent and auto-release: the snapshots go
      // with the components object, or with the process if it dies.
      const LONG context = includeWriters_ ? VSS_CTX_BACKUP : VSS_CTX_FILE_SHARE_BACKUP;
      Check(L"SetContext", components_->SetContext(context));
    }
    // A copy backup leaves other products' incremental history alone.
    Check(L"SetBackupState", components_->SetBackupState(/*selectComponents=*/false,
                                                         /*bootableSystemState=*/true, VSS_BT_COPY,
                                                         /*partialFileSupport=*/false));
    if (WritersTakePart()) {
      RunAsync(L"GatherWriterMetadata", [this](IVssAsync** async) {
        return components_->GatherWriterMetadata(async);
      });
      ReadWriterNames();
    }
    Check(L"StartSnapshotSet", WithRetries([this] { return components_->StartSnapshotSet(&setId_); }));
  }

  void ReadWriterNames() {
    UINT count = 0;
    Check(L"GetWriterMetadataCount", components_->GetWriterMetadataCount(&count));
    for (UINT index = 0; index < count; ++index) {
      VSS_ID instance = GUID_NULL;
      ComPtr<IVssExamineWriterMetadata> metadata;
      Check(L"GetWriterMetadata", components_->GetWriterMetadata(index, &instance, metadata.put()));
      VSS_ID writerInstance = GUID_NULL;
      VSS_ID writerClass = GUID_NULL;
      UniqueBstr name;
      VSS_USAGE_TYPE usage = VSS_UT_UNDEFINED;
      VSS_SOURCE_TYPE source = VSS_ST_UNDEFINED;
      Check(L"GetIdentity",
            metadata->GetIdentity(&writerInstance, &writerClass, name.put(), &usage, &source));
      writers_.push_back(name ? name.get() : L"");
    }
    Check(L"FreeWriterMetadata", components_->FreeWriterMetadata());
  }

  HRESULT QueryVolumeSupport(const wchar_t* volume, bool& supported) {
    BOOL answer = FALSE;
    const HRESULT hr =
        components_->IsVolumeSupported(GUID_NULL, const_cast<wchar_t*>(volume), &answer);
    supported = SUCCEEDED(hr) && answer != FALSE;
    return hr;
  }

  // Wait(timeout) takes no time limit before Vista (XP has no argument, 2003
  // insists on INFINITE), so the status is polled against a deadline.
  HRESULT AwaitAsync(const AsyncStart& start) {
    ComPtr<IVssAsync> async;
    HRESULT hr = start(async.put());
    if (FAILED(hr)) return hr;
    const DWORD started = ::GetTickCount();
    for (;;) {
      HRESULT status = S_OK;
      hr = async->QueryStatus(&status, /*reserved=*/nullptr);
      if (FAILED(hr)) return hr;
      if (status == VSS_S_ASYNC_CANCELLED) return E_ABORT;
      if (status != VSS_S_ASYNC_PENDING) return status;
      // Unsigned difference: right across the tick counter's wrap.
      if (::GetTickCount() - started >= timeoutMs_) {
        async->Cancel();
        return kTimedOut;
      }
      ::Sleep(kPollIntervalMs);
    }
  }

  void RunAsync(const wchar_t* call, const AsyncStart& start) { Check(call, AwaitAsync(start)); }

  // Another requester's snapshot set blocks ours until it is done; waiting a
  // little longer each time gives it room to finish.
  HRESULT WithRetries(const std::function<HRESULT()>& attempt) {
    DWORD delay = kFirstRetryDelayMs;
    HRESULT hr = attempt();
    for (uint32_t tries = 1; hr == VSS_E_SNAPSHOT_SET_IN_PROGRESS && tries < retryCount_; ++tries) {
      ::Sleep(delay);
      delay = delay * 2 > kLongestRetryDelayMs ? kLongestRetryDelayMs : delay * 2;
      hr = attempt();
    }
    return hr;
  }

  const Snapshot* FindSnapshot(const wchar_t* volume) const {
    for (const Snapshot& snapshot : snapshots_) {
      if (SameVolume(snapshot.volume, volume)) return &snapshot;
    }
    return nullptr;
  }

  // Ends the current set whatever happens on the way and returns the first
  // failure. Auto-release snapshots die with the components object; deleting
  // them as well covers a service that kept them.
  HRESULT EndSnapshotSet(bool completed, const wchar_t*& failedCall) {
    if (!setInProgress_) return S_OK;
    HRESULT first = S_OK;
    const auto note = [&](const wchar_t* call, HRESULT hr) {
      if (FAILED(hr) && SUCCEEDED(first)) {
        first = hr;
        failedCall = call;
      }
    };
    if (completed && snapshotsCreated_) {
      note(L"BackupComplete", AwaitAsync([this](IVssAsync** async) {
             return components_->BackupComplete(async);
           }));
    } else {
      note(L"AbortBackup", components_->AbortBackup());
    }
    if (snapshotsCreated_) {
      LONG deleted = 0;
      VSS_ID notDeleted = GUID_NULL;
      const HRESULT hr = components_->DeleteSnapshots(setId_, VSS_OBJECT_SNAPSHOT_SET,
                                                      /*force=*/TRUE, &deleted, &notDeleted);
      if (hr != VSS_E_OBJECT_NOT_FOUND) note(L"DeleteSnapshots", hr);
    }
    components_.reset();
    snapshots_.clear();
    setInProgress_ = false;
    snapshotsCreated_ = false;
    return Remember(first);
  }

  void Shutdown() {
    AbortSnapshotSet();
    components_.reset();
    apartment_.Leave();
    createComponents_ = nullptr;
    freeSnapshotProperties_ = nullptr;
    vssapi_.reset();
  }

  // Declared in the order of acquisition: the components are released before
  // COM is left and before the library that made them is unloaded.
  VMLib::UniqueModule vssapi_;
  CreateComponentsFn createComponents_ = nullptr;
  FreeSnapshotPropertiesFn freeSnapshotProperties_ = nullptr;
  ComApartment apartment_;
  ComPtr<IVssBackupComponents> components_;

  SnapshotMessageCallback callback_;
  uint32_t timeoutMs_ = kDefaultTimeoutMs;
  uint32_t retryCount_ = kDefaultRetryCount;
  bool includeWriters_ = true;
  int32_t lastHr_ = S_OK;

  VSS_ID setId_ = GUID_NULL;
  bool setInProgress_ = false;
  bool snapshotsCreated_ = false;
  std::vector<Snapshot> snapshots_;
  std::vector<std::wstring> writers_;
};

} // namespace
} // namespace Providers

extern "C" __declspec(dllexport) ISnapshotProvider* GetInterface() {
  return new Providers::VssSnapshotProvider();
}
