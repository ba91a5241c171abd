// Shadow-copy provider on the Volume Shadow Copy backup API. Built twice:
// vsnp_2003.dll, and vsnp_xp.dll with DISKWAY_VSS_XP for the XP service.
#include <cwchar>
#include <cstdlib>
#include <list>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "providers/ComOwners.h"
#include "providers/ComThread.h"
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

constexpr uint32_t kProviderVersion = 0x00010100;
// Each wait for the service ends after this long unless the process's
// environment says otherwise (seconds; providers/README.md).
constexpr wchar_t kTimeoutVariable[] = L"DISKWAY_VSS_TIMEOUT";
constexpr uint32_t kDefaultTimeoutSeconds = 180;
constexpr uint32_t kLongestTimeoutSeconds = 24 * 60 * 60;
constexpr uint32_t kDefaultAttempts = 4;
constexpr DWORD kPollIntervalMs = 50;
constexpr DWORD kFirstRetryDelayMs = 1000;
constexpr DWORD kLongestRetryDelayMs = 8000;
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

uint32_t ConfiguredTimeoutMs() {
  wchar_t text[16] = {};
  const DWORD length = ::GetEnvironmentVariableW(kTimeoutVariable, text, 16);
  if (length == 0 || length >= 16) return kDefaultTimeoutSeconds * 1000;
  wchar_t* end = nullptr;
  const unsigned long seconds = std::wcstoul(text, &end, 10);
  if (seconds == 0 || *end != L'\0' || seconds > kLongestTimeoutSeconds) return kDefaultTimeoutSeconds * 1000;
  return static_cast<uint32_t>(seconds) * 1000;
}

// The service takes a drive root (C:\), a mount folder or a volume GUID path,
// not the long-path form that GetVolumePathNameW gives for a \\?\ path. It gets
// the GUID path, which names the volume however it is mounted.
HRESULT VssVolumeName(const std::wstring& mountPoint, std::wstring& name) {
  std::wstring path = mountPoint;
  if (path.size() >= 6 && path.compare(0, 4, L"\\\\?\\") == 0 && path[5] == L':') path.erase(0, 4);
  if (path.empty() || path.back() != L'\\') path += L'\\';
  if (path.compare(0, 11, L"\\\\?\\Volume{") == 0) {
    name = path;
    return S_OK;
  }
  wchar_t guidPath[64] = {};
  if (!::GetVolumeNameForVolumeMountPointW(path.c_str(), guidPath, 64)) {
    const DWORD error = ::GetLastError();
    return HRESULT_FROM_WIN32(error);
  }
  name = guidPath;
  return S_OK;
}

// Results after which the same set may well succeed a little later: writes
// could not be flushed or held in time, a provider declined for now, or
// another program's set was being made.
bool IsTransient(HRESULT hr) {
  return hr == VSS_E_FLUSH_WRITES_TIMEOUT || hr == VSS_E_HOLD_WRITES_TIMEOUT || hr == VSS_E_PROVIDER_VETO ||
         hr == VSS_E_SNAPSHOT_SET_IN_PROGRESS;
}

// The volume is not one that the service can copy (a FAT or exFAT volume, a
// volume it does not know).
bool IsRefusal(HRESULT hr) {
  return hr == VSS_E_VOLUME_NOT_SUPPORTED || hr == VSS_E_VOLUME_NOT_SUPPORTED_BY_PROVIDER ||
         hr == VSS_E_OBJECT_NOT_FOUND;
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

struct Snapshot {
  std::wstring volume;   // as the caller named it
  std::wstring vssName;  // the volume's GUID path
  VSS_ID id;
  std::wstring device;
};

// None: no set; Started: volumes are being added; Made: the snapshots exist
// until ReleaseSnapshots.
enum class SetState { None, Started, Made };

// Every COM and shadow-copy call runs on `thread_`; the public entries hand
// their work over and wait, so they may come from any thread of the host.
class VssSnapshotProvider final : public ISnapshotProvider {
public:
  VssSnapshotProvider() = default;
  VssSnapshotProvider(const VssSnapshotProvider&) = delete;
  VssSnapshotProvider& operator=(const VssSnapshotProvider&) = delete;
  ~VssSnapshotProvider() {
    thread_.Run([this] {
      EndSet(/*completed=*/false);
      components_.reset();
    });
  }

  const wchar_t* GetProviderName() override { return kProviderName; }
  uint32_t GetProviderVersion() override { return kProviderVersion; }

  bool IsVolumeSupported(const wchar_t* volume) override {
    return thread_.Run([this, volume] {
      std::wstring name;
      bool supported = false;
      const wchar_t* failedCall = nullptr;
      if (!vssapi_ || (!components_ && FAILED(CreateComponents(failedCall)))) return false;
      return SUCCEEDED(VssVolumeName(volume, name)) && SUCCEEDED(QueryVolumeSupport(name, supported)) &&
             supported;
    });
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
    if (state_ == SetState::None) return false;
    id = GuidText(setId_);
    return true;
  }

  // 0 restores the default: the environment's setting, else three minutes.
  void SetTimeout(uint32_t milliseconds) override {
    timeoutMs_ = milliseconds == 0 ? ConfiguredTimeoutMs() : milliseconds;
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
  bool IsSnapshotSetInProgress() override { return state_ == SetState::Started; }

  void AbortSnapshotSet() override {
    thread_.Run([this] { EndSet(/*completed=*/false); });
  }

  void Destroy(int flags) override { delete this; }

  int32_t Initialize() override {
    return thread_.Run([this]() -> int32_t {
      if (FAILED(thread_.Apartment())) return Remember(thread_.Apartment());
      if (!vssapi_) {
        const HRESULT hr = LoadVssApi();
        if (FAILED(hr)) return Remember(hr);
      }
      const wchar_t* failedCall = nullptr;
      return components_ ? S_OK : Remember(CreateComponents(failedCall));
    });
  }

  void StartSnapshotSet() override {
    thread_.Run([this] {
      if (!vssapi_) Fail(L"StartSnapshotSet", VSS_E_BAD_STATE, L"the provider is not initialized");
      if (state_ == SetState::Made) {
        Fail(L"StartSnapshotSet", VSS_E_BAD_STATE, L"the snapshots of the last set were not released");
      }
      // A set left open would make every later one on the system wait.
      EndSet(/*completed=*/false);
      BeginSet();
    });
  }

  bool AddVolume(const wchar_t* volume) override {
    return thread_.Run([this, volume] {
      if (state_ != SetState::Started) Fail(L"AddToSnapshotSet", VSS_E_BAD_STATE, L"no snapshot set was started");
      return AddToSet(volume);
    });
  }

  void CreateSnapshots(const std::list<std::wstring>& volumes,
                       std::list<std::wstring>& snapshotRoots) override {
    snapshotRoots.clear();
    thread_.Run([&] {
      if (state_ != SetState::Started) {
        Fail(L"DoSnapshotSet", VSS_E_BAD_STATE,
             state_ == SetState::Made ? L"the snapshots of this set were already created"
                                      : L"no snapshot set was started");
      }
      try {
        MakeSnapshots(volumes, snapshotRoots);
      } catch (...) {
        // Nothing of a failed set may keep the system's next set waiting.
        EndSet(/*completed=*/false);
        snapshotRoots.clear();
        throw;
      }
    });
  }

  // Never throws: whatever fails is reported through the message callable and
  // GetLastHResult, and the set is gone all the same.
  void ReleaseSnapshots(bool completed) override {
    thread_.Run([this, completed] { EndSet(completed); });
  }

  void SetMessageCallback(const SnapshotMessageCallback& callback) override { callback_ = callback; }

private:
  int32_t Remember(HRESULT hr) {
    if (FAILED(hr)) lastHr_ = hr;
    return hr;
  }

  std::wstring TimeoutText() const {
    const bool seconds = timeoutMs_ % 1000 == 0;
    return L"no answer within " + std::to_wstring(seconds ? timeoutMs_ / 1000 : timeoutMs_) +
           (seconds ? L" s (" : L" ms (") + kTimeoutVariable + L")";
  }

  [[noreturn]] void Fail(const wchar_t* call, HRESULT hr, const std::wstring& detail = std::wstring()) {
    Remember(hr);
    throw ProviderException::ForCall(call, hr, detail);
  }

  void Check(const wchar_t* call, HRESULT hr, const std::wstring& detail = std::wstring()) {
    if (hr == kTimedOut) Fail(call, hr, TimeoutText());
    if (FAILED(hr)) Fail(call, hr, detail);
  }

  void Report(const std::wstring& text) {
    if (callback_) callback_(text.c_str());
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

  void BeginSet() {
    writers_.clear();
    snapshots_.clear();
    try {
      const wchar_t* failedCall = nullptr;
      const HRESULT hr = components_ ? S_OK : CreateComponents(failedCall);
      if (FAILED(hr)) Fail(failedCall, hr);
      PrepareSnapshotSet();
    } catch (...) {
      // A half-configured backup session cannot be configured again.
      components_.reset();
      throw;
    }
    state_ = SetState::Started;
  }

  // The process's COM security is the host's to set, and this provider never
  // sets it: the writers' calls back into the process pass with Windows'
  // default (identify-level) security. A host that locks COM security down
  // further should turn writers off with SetIncludeWriters(false).
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
      Check(L"GatherWriterMetadata", AwaitAsync([this](IVssAsync** async) {
              return components_->GatherWriterMetadata(async);
            }));
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

  HRESULT QueryVolumeSupport(std::wstring& name, bool& supported) {
    BOOL answer = FALSE;
    const HRESULT hr = components_->IsVolumeSupported(GUID_NULL, &name[0], &answer);
    supported = SUCCEEDED(hr) && answer != FALSE;
    return hr;
  }

  // False when the service refuses the volume. The set is dropped then, so
  // that it keeps no other program's set waiting, and the caller starts anew.
  // A path that names no volume (a network drive) is refused as well.
  bool AddToSet(const std::wstring& volume) {
    std::wstring name;
    HRESULT hr = VssVolumeName(volume, name);
    bool refused = FAILED(hr);
    VSS_ID id = GUID_NULL;
    if (!refused) {
      if (FindSnapshot(name) != nullptr) return true;
      hr = components_->AddToSnapshotSet(&name[0], GUID_NULL, &id);
      refused = IsRefusal(hr);
    }
    if (SUCCEEDED(hr)) {
      snapshots_.push_back(Snapshot{volume, name, id, std::wstring()});
      return true;
    }
    Remember(hr);
    EndSet(/*completed=*/false);
    if (refused) return false;
    Fail(L"AddToSnapshotSet", hr, volume);
  }

  void AddAll(const std::list<std::wstring>& volumes) {
    for (const std::wstring& volume : volumes) {
      if (!AddToSet(volume)) {
        Fail(L"AddToSnapshotSet", lastHr_, volume + L" cannot be shadow-copied");
      }
    }
  }

  // After a failed DoSnapshotSet the service wants a new set, so a transient
  // failure is retried with a set made afresh, waiting longer each time.
  void MakeSnapshots(const std::list<std::wstring>& volumes, std::list<std::wstring>& snapshotRoots) {
    AddAll(volumes);
    for (const std::wstring& volume : volumes) Report(L"Creating shadow copy of " + volume + L" ...");
    DWORD delay = kFirstRetryDelayMs;
    for (uint32_t attempt = 1;; ++attempt) {
      const wchar_t* call = L"PrepareForBackup";
      HRESULT hr = AwaitAsync([this](IVssAsync** async) { return components_->PrepareForBackup(async); });
      if (SUCCEEDED(hr)) {
        call = L"DoSnapshotSet";
        hr = AwaitAsync([this](IVssAsync** async) { return components_->DoSnapshotSet(async); });
      }
      if (SUCCEEDED(hr)) break;
      if (!IsTransient(hr) || attempt >= retryCount_) {
        Check(call, hr, attempt > 1 ? L"still failing after " + std::to_wstring(attempt) + L" attempts" : L"");
      }
      Remember(hr);
      Report(ProviderException::CallFailureText(call, hr, L"trying again in " + std::to_wstring(delay / 1000) +
                                                              L" s"));
      EndSet(/*completed=*/false);
      ::Sleep(delay);
      delay = delay * 2 > kLongestRetryDelayMs ? kLongestRetryDelayMs : delay * 2;
      BeginSet();
      AddAll(volumes);
    }
    state_ = SetState::Made;

    for (Snapshot& snapshot : snapshots_) {
      SnapshotProperties properties(freeSnapshotProperties_);
      Check(L"GetSnapshotProperties", components_->GetSnapshotProperties(snapshot.id, properties.put()));
      snapshot.device = properties.get().m_pwszSnapshotDeviceObject;
    }
    for (const std::wstring& volume : volumes) {
      std::wstring name;
      VssVolumeName(volume, name);
      const Snapshot* snapshot = FindSnapshot(name);
      snapshotRoots.push_back(snapshot->device);
      Report(L"Shadow copy of " + volume + L" created: " + snapshot->device);
    }
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

  const Snapshot* FindSnapshot(const std::wstring& vssName) const {
    for (const Snapshot& snapshot : snapshots_) {
      if (::_wcsicmp(snapshot.vssName.c_str(), vssName.c_str()) == 0) return &snapshot;
    }
    return nullptr;
  }

  // Ends the current set whatever fails on the way: the service is told, the
  // snapshots are deleted and the components object is let go (its release
  // ends auto-release snapshots too). The first failure is reported.
  void EndSet(bool completed) {
    if (state_ == SetState::None) return;
    const wchar_t* failedCall = nullptr;
    HRESULT first = S_OK;
    const auto note = [&](const wchar_t* call, HRESULT hr) {
      if (FAILED(hr) && SUCCEEDED(first)) {
        first = hr;
        failedCall = call;
      }
    };
    // A set whose start failed has no components object left to tell.
    if (components_ && completed && state_ == SetState::Made) {
      note(L"BackupComplete", AwaitAsync([this](IVssAsync** async) {
             return components_->BackupComplete(async);
           }));
    } else if (components_) {
      note(L"AbortBackup", components_->AbortBackup());
    }
    if (components_ && state_ == SetState::Made) {
      LONG deleted = 0;
      VSS_ID notDeleted = GUID_NULL;
      const HRESULT hr = components_->DeleteSnapshots(setId_, VSS_OBJECT_SNAPSHOT_SET,
                                                      /*force=*/TRUE, &deleted, &notDeleted);
      if (hr != VSS_E_OBJECT_NOT_FOUND) note(L"DeleteSnapshots", hr);
    }
    components_.reset();
    snapshots_.clear();
    state_ = SetState::None;
    if (FAILED(first)) {
      Remember(first);
      Report(ProviderException::CallFailureText(failedCall, first, first == kTimedOut ? TimeoutText() : L""));
    }
  }

  // Declared in the order of acquisition. The components are released on the
  // thread by the destructor; the thread then leaves COM before the library
  // that made them is unloaded.
  VMLib::UniqueModule vssapi_;
  CreateComponentsFn createComponents_ = nullptr;
  FreeSnapshotPropertiesFn freeSnapshotProperties_ = nullptr;
  ComPtr<IVssBackupComponents> components_;

  SnapshotMessageCallback callback_;
  uint32_t timeoutMs_ = ConfiguredTimeoutMs();
  uint32_t retryCount_ = kDefaultAttempts;
  bool includeWriters_ = true;
  int32_t lastHr_ = S_OK;

  VSS_ID setId_ = GUID_NULL;
  SetState state_ = SetState::None;
  std::vector<Snapshot> snapshots_;
  std::vector<std::wstring> writers_;
  ComThread thread_;
};

} // namespace
} // namespace Providers

extern "C" __declspec(dllexport) ISnapshotProvider* GetInterface() {
  return new Providers::VssSnapshotProvider();
}
