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
#include "logging/PluginBase.h"
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

constexpr uint32_t kProviderVersion = 0x00010200;
// Making one snapshot set, and releasing one, each take at most this long
// unless the process's environment says otherwise (seconds; providers/README.md).
constexpr wchar_t kTimeoutVariable[] = L"DISKWAY_VSS_TIMEOUT";
constexpr uint32_t kDefaultTimeoutSeconds = 180;
constexpr uint32_t kLongestTimeoutSeconds = 24 * 60 * 60;
// "0" leaves the writers out of every set (providers/README.md).
constexpr wchar_t kWritersVariable[] = L"DISKWAY_VSS_WRITERS";
constexpr uint32_t kDefaultAttempts = 4;
constexpr DWORD kPollIntervalMs = 50;
constexpr DWORD kFirstRetryDelayMs = 250;
constexpr DWORD kLongestRetryDelayMs = 8000;
const HRESULT kTimedOut = HRESULT_FROM_WIN32(ERROR_TIMEOUT);
constexpr wchar_t kAccessDenied[] =
    L"access denied: making shadow copies needs administrator rights (run the program as administrator, "
    L"elevated under UAC)";

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

bool ConfiguredWriters() {
  wchar_t text[4] = {};
  const DWORD length = ::GetEnvironmentVariableW(kWritersVariable, text, 4);
  return !(length == 1 && text[0] == L'0');
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

  // Fails only where the service cannot serve this process at all. A user
  // without administrator rights is refused each components object; the
  // plug-in would report any failure here as a missing vssapi.dll, so that
  // one is left for StartSnapshotSet to throw, where its text reaches the host.
  int32_t Initialize() override {
    return thread_.Run([this]() -> int32_t {
      if (FAILED(thread_.Apartment())) return Reported(L"CoInitializeEx", thread_.Apartment());
      SetComSecurity();
      if (!vssapi_) {
        const HRESULT hr = LoadVssApi();
        if (FAILED(hr)) return hr;
      }
      const wchar_t* failedCall = nullptr;
      const HRESULT hr = components_ ? S_OK : CreateComponents(failedCall);
      if (hr == E_ACCESSDENIED) {
        Reported(failedCall, hr, kAccessDenied);
        return S_OK;
      }
      return FAILED(hr) ? Reported(failedCall, hr) : S_OK;
    });
  }

  void StartSnapshotSet() override {
    thread_.Run([this] {
      ArmDeadline();
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
    thread_.Run([this, completed] {
      ArmDeadline();
      EndSet(completed);
    });
  }

  void SetMessageCallback(const SnapshotMessageCallback& callback) override { callback_ = callback; }

private:
  int32_t Remember(HRESULT hr) {
    if (FAILED(hr)) lastHr_ = hr;
    return hr;
  }

  // Every failure reaches the message callable, naming the call and its result.
  int32_t Reported(const wchar_t* call, HRESULT hr, const std::wstring& detail = std::wstring()) {
    Report(ProviderException::CallFailureText(call, hr, detail));
    return Remember(hr);
  }

  // COM security is the process's, set once, by whoever marshals first. Left
  // alone, the provider's first call into the service would fix the system
  // defaults, which refuse writers running under other accounts when they
  // call back. So where the host has set nothing, the provider sets what
  // Microsoft's requester guidance asks for; where it has (RPC_E_TOO_LATE),
  // the host's settings stand and decide which writers are heard.
  void SetComSecurity() {
    const HRESULT hr = ::CoInitializeSecurity(/*securityDescriptor=*/nullptr, /*authServices=*/-1,
                                              /*services=*/nullptr, /*reserved=*/nullptr,
                                              RPC_C_AUTHN_LEVEL_PKT_PRIVACY, RPC_C_IMP_LEVEL_IDENTIFY,
                                              /*authList=*/nullptr, EOAC_DYNAMIC_CLOAKING, /*reserved=*/nullptr);
    if (FAILED(hr) && hr != RPC_E_TOO_LATE) Reported(L"CoInitializeSecurity", hr, L"writers may not be heard");
  }

  void ArmDeadline() { armedAt_ = ::GetTickCount(); }

  // Time left of the deadline armed by the entry that is running.
  DWORD Remaining() const {
    const DWORD elapsed = ::GetTickCount() - armedAt_; // unsigned: right across the counter's wrap
    return elapsed >= timeoutMs_ ? 0 : timeoutMs_ - elapsed;
  }

  std::wstring TimeoutText() const {
    const bool seconds = timeoutMs_ % 1000 == 0;
    return L"no answer within " + std::to_wstring(seconds ? timeoutMs_ / 1000 : timeoutMs_) +
           (seconds ? L" s (" : L" ms (") + kTimeoutVariable + L")";
  }

  [[noreturn]] void Fail(const wchar_t* call, HRESULT hr, const std::wstring& detail = std::wstring()) {
    Reported(call, hr, detail);
    throw ProviderException::ForCall(call, hr, detail);
  }

  void Check(const wchar_t* call, HRESULT hr, const std::wstring& detail = std::wstring()) {
    if (hr == kTimedOut) Fail(call, hr, TimeoutText());
    if (hr == E_ACCESSDENIED) Fail(call, hr, kAccessDenied);
    if (FAILED(hr)) Fail(call, hr, detail);
  }

  // The plug-in registers its sink only after Initialize succeeded, so what
  // fails before then goes where the sink would write it: standard error.
  void Report(const std::wstring& text) {
    if (callback_) {
      callback_(text.c_str());
    } else {
      WriteLine(stderr, text);
    }
  }

  // Loaded at run time, from the system folder only, so that the provider
  // library itself loads on systems without the service.
  HRESULT LoadVssApi() {
    wchar_t system[MAX_PATH] = {};
    const UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
      const DWORD error = ::GetLastError();
      return Reported(L"GetSystemDirectoryW",
                      HRESULT_FROM_WIN32(error == ERROR_SUCCESS ? ERROR_BUFFER_OVERFLOW : error));
    }
    const std::wstring path = std::wstring(system) + L"\\vssapi.dll";
    VMLib::UniqueModule module(::LoadLibraryW(path.c_str()));
    if (!module) {
      const DWORD error = ::GetLastError();
      return Reported(L"LoadLibraryW", HRESULT_FROM_WIN32(error), path);
    }
    const auto create = FindExport<CreateComponentsFn>(module.get(), kCreateComponentsExports);
    const auto free = FindExport<FreeSnapshotPropertiesFn>(module.get(), kFreeSnapshotPropertiesExports);
    if (create == nullptr || free == nullptr) {
      return Reported(L"GetProcAddress", HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND), path);
    }
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
      if (FAILED(hr)) Check(failedCall, hr);
      PrepareSnapshotSet();
    } catch (...) {
      // A half-configured backup session cannot be configured again.
      components_.reset();
      throw;
    }
    state_ = SetState::Started;
  }

  // The set serves reads of files that programs hold open, not a restore of
  // the system: a copy backup of chosen volumes, no bootable system state, so
  // that writers keep to their own files and other products' backup history
  // stays as it was.
  void PrepareSnapshotSet() {
    if (!kXpService) {
      // Both contexts are non-persistent and auto-release: the snapshots go
      // with the components object, or with the process if it dies.
      const LONG context = includeWriters_ ? VSS_CTX_BACKUP : VSS_CTX_FILE_SHARE_BACKUP;
      Check(L"SetContext", components_->SetContext(context));
    }
    Check(L"SetBackupState", components_->SetBackupState(/*selectComponents=*/false,
                                                         /*bootableSystemState=*/false, VSS_BT_COPY,
                                                         /*partialFileSupport=*/false));
    if (WritersTakePart()) {
      Check(L"GatherWriterMetadata", AwaitAsync([this](IVssAsync** async) {
              return components_->GatherWriterMetadata(async);
            }));
      ReadWriterNames();
    }
    Check(L"StartSnapshotSet", WithRetries([this] { return components_->StartSnapshotSet(&setId_); }));
  }

  // A writer whose metadata cannot be read is left out of the names, not the
  // set: the service still asks it to freeze, and its status tells afterwards.
  void ReadWriterNames() {
    UINT count = 0;
    HRESULT hr = components_->GetWriterMetadataCount(&count);
    if (FAILED(hr)) {
      Reported(L"GetWriterMetadataCount", hr, L"the writers are not named");
      count = 0;
    }
    for (UINT index = 0; index < count; ++index) {
      VSS_ID instance = GUID_NULL;
      ComPtr<IVssExamineWriterMetadata> metadata;
      hr = components_->GetWriterMetadata(index, &instance, metadata.put());
      VSS_ID writerClass = GUID_NULL;
      UniqueBstr name;
      VSS_USAGE_TYPE usage = VSS_UT_UNDEFINED;
      VSS_SOURCE_TYPE source = VSS_ST_UNDEFINED;
      const wchar_t* call = L"GetWriterMetadata";
      if (SUCCEEDED(hr)) {
        call = L"GetIdentity";
        hr = metadata->GetIdentity(&instance, &writerClass, name.put(), &usage, &source);
      }
      if (FAILED(hr)) {
        Reported(call, hr, L"writer " + std::to_wstring(index + 1) + L" of " + std::to_wstring(count) + L" skipped");
        continue;
      }
      writers_.push_back(name ? name.get() : L"");
    }
    hr = components_->FreeWriterMetadata();
    if (FAILED(hr)) Reported(L"FreeWriterMetadata", hr);
  }

  // A writer that failed leaves its files in the snapshot as a crash would
  // have left them; the snapshot is used all the same, and the writer named.
  void ReportFailedWriters() {
    HRESULT hr = AwaitAsync([this](IVssAsync** async) { return components_->GatherWriterStatus(async); });
    if (FAILED(hr)) {
      Reported(L"GatherWriterStatus", hr, hr == kTimedOut ? TimeoutText() : L"the writers' status is unknown");
      return;
    }
    UINT count = 0;
    hr = components_->GetWriterStatusCount(&count);
    if (FAILED(hr)) Reported(L"GetWriterStatusCount", hr, L"the writers' status is unknown");
    for (UINT index = 0; SUCCEEDED(hr) && index < count; ++index) {
      VSS_ID instance = GUID_NULL;
      VSS_ID writerClass = GUID_NULL;
      UniqueBstr name;
      VSS_WRITER_STATE state = VSS_WS_UNKNOWN;
      HRESULT failure = S_OK;
      const HRESULT read = components_->GetWriterStatus(index, &instance, &writerClass, name.put(), &state, &failure);
      if (FAILED(read)) {
        Reported(L"GetWriterStatus", read, L"writer " + std::to_wstring(index + 1) + L" of " + std::to_wstring(count));
      } else if (FAILED(failure) || IsFailedState(state)) {
        Report(L"Warning: writer '" + std::wstring(name ? name.get() : L"") + L"' failed (state " +
               std::to_wstring(static_cast<int>(state)) + L", " + ProviderException::HexCode(failure) +
               L"); the shadow copy holds its files as a crash would have left them");
      }
    }
    hr = components_->FreeWriterStatus();
    if (FAILED(hr)) Reported(L"FreeWriterStatus", hr);
  }

  static bool IsFailedState(VSS_WRITER_STATE state) {
    return state == VSS_WS_UNKNOWN || (state >= VSS_WS_FAILED_AT_IDENTIFY && state <= VSS_WS_FAILED_AT_BACKUPSHUTDOWN);
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
    if (refused) Reported(L"AddToSnapshotSet", hr, volume + L" cannot be shadow-copied");
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
  // failure is retried with a set made afresh, while the deadline leaves room.
  void MakeSnapshots(const std::list<std::wstring>& volumes, std::list<std::wstring>& snapshotRoots) {
    AddAll(volumes);
    for (const std::wstring& volume : volumes) Report(L"Creating shadow copy of " + volume + L" ...");
    for (uint32_t attempt = 1;; ++attempt) {
      const wchar_t* call = L"PrepareForBackup";
      HRESULT hr = AwaitAsync([this](IVssAsync** async) { return components_->PrepareForBackup(async); });
      if (SUCCEEDED(hr)) {
        call = L"DoSnapshotSet";
        hr = AwaitAsync([this](IVssAsync** async) { return components_->DoSnapshotSet(async); });
      }
      if (SUCCEEDED(hr)) break;
      const DWORD pause = IsTransient(hr) && attempt < retryCount_ ? RetryPause(hr, attempt) : 0;
      if (pause == 0) {
        Check(call, hr, attempt > 1 ? L"still failing after " + std::to_wstring(attempt) + L" attempts" : L"");
      }
      Reported(call, hr, L"trying again in " + std::to_wstring(pause) + L" ms");
      EndSet(/*completed=*/false);
      ::Sleep(pause);
      BeginSet();
      AddAll(volumes);
    }
    state_ = SetState::Made;

    for (Snapshot& snapshot : snapshots_) {
      SnapshotProperties properties(freeSnapshotProperties_);
      Check(L"GetSnapshotProperties", components_->GetSnapshotProperties(snapshot.id, properties.put()));
      snapshot.device = properties.get().m_pwszSnapshotDeviceObject;
    }
    if (WritersTakePart()) ReportFailedWriters();
    for (const std::wstring& volume : volumes) {
      std::wstring name;
      VssVolumeName(volume, name);
      const Snapshot* snapshot = FindSnapshot(name);
      snapshotRoots.push_back(snapshot->device);
      Report(L"Shadow copy of " + volume + L" created: " + snapshot->device);
    }
  }

  // The pause before another attempt, within the deadline: another program's
  // set may take minutes, so attempts at it are spread over the time there
  // is; the other transient failures pass sooner. 0: no time for another.
  DWORD RetryPause(HRESULT hr, uint32_t attempt) const {
    DWORD pause = kFirstRetryDelayMs << (attempt < 6 ? attempt - 1 : 5);
    if (pause > kLongestRetryDelayMs) pause = kLongestRetryDelayMs;
    if (hr == VSS_E_SNAPSHOT_SET_IN_PROGRESS) pause = timeoutMs_ / retryCount_;
    const DWORD left = Remaining() / 2;
    if (pause > left) pause = left;
    return pause < kPollIntervalMs ? 0 : pause;
  }

  // Wait(timeout) takes no time limit before Vista (XP has no argument, 2003
  // insists on INFINITE), so the status is polled against the deadline.
  HRESULT AwaitAsync(const AsyncStart& start) {
    ComPtr<IVssAsync> async;
    HRESULT hr = start(async.put());
    if (FAILED(hr)) return hr;
    for (;;) {
      HRESULT status = S_OK;
      hr = async->QueryStatus(&status, /*reserved=*/nullptr);
      if (FAILED(hr)) return hr;
      if (status == VSS_S_ASYNC_CANCELLED) return E_ABORT;
      if (status != VSS_S_ASYNC_PENDING) return status;
      if (Remaining() == 0) {
        // A step may finish just as it is cancelled; it then counts as done.
        if (async->Cancel() != VSS_S_ASYNC_FINISHED) return kTimedOut;
        hr = async->QueryStatus(&status, /*reserved=*/nullptr);
        if (FAILED(hr)) return hr;
        return status == VSS_S_ASYNC_PENDING || status == VSS_S_ASYNC_CANCELLED ? kTimedOut : status;
      }
      ::Sleep(kPollIntervalMs);
    }
  }

  // Another requester's snapshot set blocks ours until it is done.
  HRESULT WithRetries(const std::function<HRESULT()>& attempt) {
    HRESULT hr = attempt();
    for (uint32_t tries = 1; hr == VSS_E_SNAPSHOT_SET_IN_PROGRESS && tries < retryCount_; ++tries) {
      const DWORD pause = RetryPause(hr, tries);
      if (pause == 0) break;
      ::Sleep(pause);
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
  DWORD armedAt_ = ::GetTickCount();
  uint32_t retryCount_ = kDefaultAttempts;
  bool includeWriters_ = ConfiguredWriters();
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
