// Stands in for the system's vssapi.dll: a backup components object that keeps
// the service's order of calls and its error codes, makes non-persistent
// auto-release snapshots that show folders the test prepared, plays the
// writers the test names, and lets the test script failures and slow steps
// (VssApiControl.h).
#include <algorithm>
#include <atomic>
#include <cwchar>
#include <cwctype>
#include <initializer_list>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "vmlib/WindowsApi.h"
#include <objbase.h>
#include <oleauto.h>
#include <vss.h>
#include <vswriter.h>
#include <vsbackup.h>

#include "tests/doubles/vssapi/VssApiControl.h"

namespace {

struct Snapshot {
  VSS_ID id, set;
  std::wstring volume; // its GUID path
  const void* owner;   // the components object whose release ends it
};

struct Writer {
  std::wstring name;
  HRESULT metadata; // what GetWriterMetadata answers for it
  HRESULT failure;  // S_OK, or why it fails at freeze
};

using Guard = std::lock_guard<std::mutex>;

// The service is one per system: its state is shared by every object, and the
// provider calls from its own thread while the test scripts from another.
struct Service final : VssServiceControl {
  std::mutex lock;
  struct Script {
    std::map<std::wstring, std::map<int, HRESULT>> failures; // nth 0: every call
    std::map<std::wstring, int> calls;
    std::map<std::wstring, DWORD> slowness;
    std::map<std::wstring, std::vector<LONG>> arguments; // of the last call
    std::map<std::wstring, std::wstring> images; // volume GUID path -> folder
    std::vector<Writer> writers;
  } script; // what Reset forgets
  std::vector<Snapshot> snapshots;
  const void* creating = nullptr; // one snapshot set is made at a time on a system

  // Called with the lock held.
  HRESULT Count(const wchar_t* call) {
    const int nth = ++script.calls[call];
    const auto failures = script.failures.find(call);
    if (failures == script.failures.end()) return S_OK;
    for (const int key : {nth, 0}) {
      if (failures->second.count(key) != 0) return failures->second[key];
    }
    return S_OK;
  }

  void Reset() override {
    Guard guard(lock);
    script = {};
  }
  void Fail(const wchar_t* call, int nth, HRESULT result) override {
    Guard guard(lock);
    script.failures[call][nth] = result;
  }
  void Slow(const wchar_t* call, DWORD milliseconds) override {
    Guard guard(lock);
    script.slowness[call] = milliseconds;
  }
  void AddWriter(const wchar_t* name, HRESULT metadata, HRESULT failure) override {
    Guard guard(lock);
    script.writers.push_back(Writer{name, metadata, failure});
  }
  LONG Argument(const wchar_t* call, int index) override {
    Guard guard(lock);
    const std::vector<LONG>& arguments = script.arguments[call];
    return index >= 0 && static_cast<size_t>(index) < arguments.size() ? arguments[index] : -1;
  }
  void SetImage(const wchar_t* mountPoint, const wchar_t* folder) override;
  int Calls(const wchar_t* call) override {
    Guard guard(lock);
    return script.calls[call];
  }
  int LiveSnapshots() override {
    Guard guard(lock);
    return static_cast<int>(snapshots.size());
  }
};
Service service;

// One call of the service: counted, with the service's lock held until the
// call returns. It stands for what the test scripted for the call (S_OK when
// nothing).
class Scripted {
public:
  explicit Scripted(const wchar_t* call) : guard_(service.lock), result_(service.Count(call)) {}
  operator HRESULT() const { return result_; }

private:
  Guard guard_;
  const HRESULT result_;
};

// The forms of a volume name that the service documents: a drive root (D:\),
// a mounted folder (Y:\MountX\) or a volume GUID path (\\?\Volume{GUID}\),
// each with its trailing backslash. \\?\D:\ is none of them.
bool IsDocumentedVolumeName(const std::wstring& name) {
  if (name.empty() || name.back() != L'\\') return false;
  if (name.compare(0, 11, L"\\\\?\\Volume{") == 0) return name.size() == 49 && name[47] == L'}';
  return name.size() >= 3 && std::iswalpha(name[0]) && name[1] == L':' && name[2] == L'\\';
}

// The service names a volume by its GUID path; a name that reaches no volume
// is none it knows (empty).
std::wstring VolumeGuidPath(const wchar_t* name) {
  if (name != nullptr && std::wcsncmp(name, L"\\\\?\\Volume{", 11) == 0) return name;
  wchar_t buffer[64] = {};
  return name != nullptr && ::GetVolumeNameForVolumeMountPointW(name, buffer, 64) ? buffer : L"";
}

wchar_t* CoTaskText(const std::wstring& text) {
  auto* copy = static_cast<wchar_t*>(::CoTaskMemAlloc((text.size() + 1) * sizeof(wchar_t)));
  if (copy != nullptr) std::wmemcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

template <typename Interface>
class Unknown : public Interface {
public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    *object = iid == __uuidof(IUnknown) || iid == __uuidof(Interface) ? this : nullptr;
    if (*object == nullptr) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }
  virtual ~Unknown() = default;

private:
  std::atomic<ULONG> references_{1};
};

#define NOT_MODELLED(name, ...) \
  HRESULT STDMETHODCALLTYPE name(__VA_ARGS__) override { return E_NOTIMPL; }

// A step finishes when it is started, or after the time scripted for its
// call, or never; one scripted VSS_S_ASYNC_FINISHED finishes just as it is
// cancelled. The provider polls QueryStatus and never waits.
class Async final : public Unknown<IVssAsync> {
public:
  Async(HRESULT result, DWORD duration) : result_(result), started_(::GetTickCount()), duration_(duration) {}
  HRESULT STDMETHODCALLTYPE Cancel() override {
    Guard guard(service.lock);
    if (!Pending() || result_ == VSS_S_ASYNC_FINISHED) {
      if (result_ == VSS_S_ASYNC_FINISHED) result_ = S_OK;
      return result_ == VSS_S_ASYNC_CANCELLED ? result_ : VSS_S_ASYNC_FINISHED;
    }
    result_ = VSS_S_ASYNC_CANCELLED;
    return S_OK;
  }
  NOT_MODELLED(Wait, DWORD)
  HRESULT STDMETHODCALLTYPE QueryStatus(HRESULT* status, INT* reserved) override {
    Guard guard(service.lock);
    *status = Pending() ? VSS_S_ASYNC_PENDING : result_ == S_OK ? VSS_S_ASYNC_FINISHED : result_;
    return S_OK;
  }

private:
  bool Pending() const {
    return result_ == VSS_S_ASYNC_PENDING || result_ == VSS_S_ASYNC_FINISHED ||
           (result_ != VSS_S_ASYNC_CANCELLED && ::GetTickCount() - started_ < duration_);
  }

  HRESULT result_;
  DWORD started_, duration_;
};

// Called with the service's lock held.
HRESULT StartAsync(const wchar_t* call, HRESULT result, IVssAsync** async) {
  *async = new Async(result, service.script.slowness[call]);
  service.script.slowness.erase(call);
  return S_OK;
}

// Ends the snapshots that `ends` picks; how many. Called with the service's lock held.
template <typename Pick>
LONG EndSnapshots(Pick ends) {
  std::vector<Snapshot>& all = service.snapshots;
  const auto kept = std::remove_if(all.begin(), all.end(), ends);
  const LONG ended = static_cast<LONG>(all.end() - kept);
  all.erase(kept, all.end());
  return ended;
}

BSTR Text(const std::wstring& text) { return ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size())); }

// What a writer tells of itself; only its identity is modelled.
class WriterMetadata final : public Unknown<IVssExamineWriterMetadata> {
public:
  explicit WriterMetadata(const Writer& writer) : writer_(writer) {}
  HRESULT STDMETHODCALLTYPE GetIdentity(VSS_ID* instance, VSS_ID* writerClass, BSTR* name, VSS_USAGE_TYPE* usage,
                                        VSS_SOURCE_TYPE* source) override {
    *instance = *writerClass = GUID_NULL;
    *name = Text(writer_.name);
    *usage = VSS_UT_USERDATA;
    *source = VSS_ST_TRANSACTEDDB;
    return S_OK;
  }
  NOT_MODELLED(GetFileCounts, UINT*, UINT*, UINT*)
  NOT_MODELLED(GetIncludeFile, UINT, IVssWMFiledesc**)
  NOT_MODELLED(GetExcludeFile, UINT, IVssWMFiledesc**)
  NOT_MODELLED(GetComponent, UINT, IVssWMComponent**)
  NOT_MODELLED(GetRestoreMethod, VSS_RESTOREMETHOD_ENUM*, BSTR*, BSTR*, VSS_WRITERRESTORE_ENUM*, boolean*, UINT*)
  NOT_MODELLED(GetAlternateLocationMapping, UINT, IVssWMFiledesc**)
  NOT_MODELLED(GetBackupSchema, DWORD*)
  NOT_MODELLED(GetDocument, IXMLDOMDocument**)
  NOT_MODELLED(SaveAsXML, BSTR*)
  NOT_MODELLED(LoadFromXML, BSTR)

private:
  const Writer writer_;
};

class BackupComponents final : public Unknown<IVssBackupComponents> {
public:
  ~BackupComponents() override {
    Guard guard(service.lock);
    // Non-persistent auto-release snapshots end with the object that made them.
    EndSnapshots([this](const Snapshot& s) { return s.owner == this; });
    if (service.creating == this) service.creating = nullptr;
  }

  HRESULT STDMETHODCALLTYPE InitializeForBackup(BSTR xml) override {
    return Step(L"InitializeForBackup", {Stage::Created}, Stage::Initialized);
  }
  HRESULT STDMETHODCALLTYPE SetContext(LONG context) override {
    // Only the non-persistent contexts are modelled.
    if (context != VSS_CTX_BACKUP && context != VSS_CTX_FILE_SHARE_BACKUP) return E_INVALIDARG;
    return Step(L"SetContext", {Stage::Initialized}, Stage::Initialized, {context});
  }
  HRESULT STDMETHODCALLTYPE SetBackupState(boolean selectComponents, boolean bootableSystemState,
                                           VSS_BACKUP_TYPE type, boolean partialFiles) override {
    return Step(L"SetBackupState", {Stage::Initialized}, Stage::Initialized,
                {selectComponents, bootableSystemState, type, partialFiles});
  }
  // The writers answer while the step runs; their metadata is there once it
  // finished, until FreeWriterMetadata.
  HRESULT STDMETHODCALLTYPE GatherWriterMetadata(IVssAsync** async) override {
    const Scripted scripted(L"GatherWriterMetadata");
    if (stage_ != Stage::Initialized) return VSS_E_BAD_STATE;
    if (scripted == S_OK || scripted == VSS_S_ASYNC_FINISHED) metadata_ = service.script.writers;
    return StartAsync(L"GatherWriterMetadata", scripted, async);
  }
  HRESULT STDMETHODCALLTYPE GetWriterMetadataCount(UINT* count) override {
    return Listed(L"GetWriterMetadataCount", metadata_, count);
  }
  HRESULT STDMETHODCALLTYPE GetWriterMetadata(UINT index, VSS_ID* instance,
                                              IVssExamineWriterMetadata** metadata) override {
    const Scripted scripted(L"GetWriterMetadata");
    const Writer* writer = nullptr;
    *metadata = nullptr;
    const HRESULT hr = At(scripted, metadata_, index, writer);
    if (FAILED(hr) || FAILED(writer->metadata)) return FAILED(hr) ? hr : writer->metadata;
    *instance = GUID_NULL;
    *metadata = new WriterMetadata(*writer);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE FreeWriterMetadata() override { return Listed(L"FreeWriterMetadata", metadata_); }
  // Each writer's state as the last step left it: a writer scripted to fail
  // has failed once the writers were frozen.
  HRESULT STDMETHODCALLTYPE GatherWriterStatus(IVssAsync** async) override {
    const Scripted scripted(L"GatherWriterStatus");
    if (stage_ == Stage::Created) return VSS_E_BAD_STATE;
    if (scripted == S_OK) status_ = service.script.writers;
    frozen_ = stage_ == Stage::Made || stage_ == Stage::Ended;
    return StartAsync(L"GatherWriterStatus", scripted, async);
  }
  HRESULT STDMETHODCALLTYPE GetWriterStatusCount(UINT* count) override {
    return Listed(L"GetWriterStatusCount", status_, count);
  }
  HRESULT STDMETHODCALLTYPE GetWriterStatus(UINT index, VSS_ID* instance, VSS_ID* writerClass, BSTR* name,
                                            VSS_WRITER_STATE* state, HRESULT* failure) override {
    const Scripted scripted(L"GetWriterStatus");
    const Writer* writer = nullptr;
    const HRESULT hr = At(scripted, status_, index, writer);
    if (FAILED(hr)) return hr;
    const bool failed = frozen_ && FAILED(writer->failure);
    *instance = *writerClass = GUID_NULL;
    *name = Text(writer->name);
    *state = failed ? VSS_WS_FAILED_AT_FREEZE : VSS_WS_STABLE;
    *failure = failed ? writer->failure : S_OK;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE FreeWriterStatus() override { return Listed(L"FreeWriterStatus", status_); }

  HRESULT STDMETHODCALLTYPE StartSnapshotSet(VSS_ID* set) override {
    const Scripted scripted(L"StartSnapshotSet");
    if (service.creating != nullptr) return VSS_E_SNAPSHOT_SET_IN_PROGRESS;
    if (stage_ != Stage::Initialized) return VSS_E_BAD_STATE;
    if (FAILED(scripted)) return scripted;
    ::CoCreateGuid(&set_);
    *set = set_;
    service.creating = this;
    stage_ = Stage::Started;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE AddToSnapshotSet(VSS_PWSZ volume, VSS_ID, VSS_ID* snapshot) override {
    const Scripted scripted(L"AddToSnapshotSet");
    if (stage_ != Stage::Started) return VSS_E_BAD_STATE;
    if (!IsDocumentedVolumeName(volume != nullptr ? volume : L"")) return E_INVALIDARG;
    const std::wstring guidPath = VolumeGuidPath(volume);
    if (guidPath.empty()) return VSS_E_OBJECT_NOT_FOUND;
    if (FAILED(scripted)) return scripted;
    for (const Snapshot& added : volumes_) {
      if (added.volume == guidPath) return VSS_E_OBJECT_ALREADY_EXISTS;
    }
    Snapshot added{GUID_NULL, set_, guidPath, this};
    ::CoCreateGuid(&added.id);
    volumes_.push_back(added);
    *snapshot = added.id;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE PrepareForBackup(IVssAsync** async) override {
    return StepAsync(L"PrepareForBackup", {Stage::Started}, Stage::Prepared, Stage::Failed, async);
  }
  HRESULT STDMETHODCALLTYPE DoSnapshotSet(IVssAsync** async) override {
    const Scripted scripted(L"DoSnapshotSet");
    if (stage_ != Stage::Prepared || volumes_.empty()) return VSS_E_BAD_STATE;
    // One that finishes as it is cancelled has made its snapshots by then.
    const bool made = scripted == S_OK || scripted == VSS_S_ASYNC_FINISHED;
    stage_ = made ? Stage::Made : Stage::Failed;
    // A step that never finishes keeps the system's one set in the making.
    if (scripted != VSS_S_ASYNC_PENDING) service.creating = nullptr;
    if (made) service.snapshots.insert(service.snapshots.end(), volumes_.begin(), volumes_.end());
    return StartAsync(L"DoSnapshotSet", scripted, async);
  }
  HRESULT STDMETHODCALLTYPE GetSnapshotProperties(VSS_ID id, VSS_SNAPSHOT_PROP* properties) override {
    const Scripted scripted(L"GetSnapshotProperties");
    if (stage_ == Stage::Created) return VSS_E_BAD_STATE;
    for (const Snapshot& snapshot : service.snapshots) {
      if (snapshot.id != id) continue;
      if (FAILED(scripted)) return scripted;
      const auto image = service.script.images.find(snapshot.volume);
      *properties = VSS_SNAPSHOT_PROP{};
      // Only the identity and the device object: the provider reads no other field.
      properties->m_SnapshotId = snapshot.id;
      properties->m_pwszSnapshotDeviceObject =
          CoTaskText(image != service.script.images.end() ? image->second
                                                   : L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy1");
      return S_OK;
    }
    return VSS_E_OBJECT_NOT_FOUND;
  }
  HRESULT STDMETHODCALLTYPE BackupComplete(IVssAsync** async) override {
    return StepAsync(L"BackupComplete", {Stage::Made}, Stage::Ended, Stage::Ended, async);
  }
  HRESULT STDMETHODCALLTYPE AbortBackup() override {
    const Scripted scripted(L"AbortBackup");
    if (stage_ == Stage::Created) return VSS_E_BAD_STATE;
    if (FAILED(scripted)) return scripted;
    if (service.creating == this) service.creating = nullptr;
    stage_ = Stage::Ended;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE DeleteSnapshots(VSS_ID id, VSS_OBJECT_TYPE type, WINBOOL, LONG* deleted,
                                            VSS_ID* notDeleted) override {
    const Scripted scripted(L"DeleteSnapshots");
    *deleted = 0;
    *notDeleted = GUID_NULL;
    if (stage_ == Stage::Created) return VSS_E_BAD_STATE;
    if (type != VSS_OBJECT_SNAPSHOT_SET && type != VSS_OBJECT_SNAPSHOT) return E_INVALIDARG;
    if (FAILED(scripted)) return scripted;
    *deleted = EndSnapshots([&](const Snapshot& s) { return (type == VSS_OBJECT_SNAPSHOT_SET ? s.set : s.id) == id; });
    return *deleted == 0 ? VSS_E_OBJECT_NOT_FOUND : S_OK;
  }

  NOT_MODELLED(IsVolumeSupported, VSS_ID, VSS_PWSZ, WINBOOL*)
  NOT_MODELLED(GetWriterComponentsCount, UINT*)
  NOT_MODELLED(GetWriterComponents, UINT, IVssWriterComponentsExt**)
  NOT_MODELLED(InitializeForRestore, BSTR)
  NOT_MODELLED(SetRestoreState, VSS_RESTORE_TYPE)
  NOT_MODELLED(AddComponent, VSS_ID, VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR)
  NOT_MODELLED(SetBackupSucceeded, VSS_ID, VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, boolean)
  NOT_MODELLED(SetBackupOptions, VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, LPCWSTR)
  NOT_MODELLED(SetSelectedForRestore, VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, boolean)
  NOT_MODELLED(SetRestoreOptions, VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, LPCWSTR)
  NOT_MODELLED(SetAdditionalRestores, VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, boolean)
  NOT_MODELLED(SetPreviousBackupStamp, VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, LPCWSTR)
  NOT_MODELLED(SaveAsXML, BSTR*)
  NOT_MODELLED(AddAlternativeLocationMapping, VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR,
               boolean, LPCWSTR)
  NOT_MODELLED(AddRestoreSubcomponent, VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, boolean)
  NOT_MODELLED(SetFileRestoreStatus, VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, VSS_FILE_RESTORE_STATUS)
  NOT_MODELLED(AddNewTarget, VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, boolean, LPCWSTR)
  NOT_MODELLED(SetRangesFilePath, VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, UINT, LPCWSTR)
  NOT_MODELLED(PreRestore, IVssAsync**)
  NOT_MODELLED(PostRestore, IVssAsync**)
  NOT_MODELLED(ImportSnapshots, IVssAsync**)
  NOT_MODELLED(BreakSnapshotSet, VSS_ID)
  NOT_MODELLED(Query, VSS_ID, VSS_OBJECT_TYPE, VSS_OBJECT_TYPE, IVssEnumObject**)
  NOT_MODELLED(DisableWriterClasses, const VSS_ID*, UINT)
  NOT_MODELLED(EnableWriterClasses, const VSS_ID*, UINT)
  NOT_MODELLED(DisableWriterInstances, const VSS_ID*, UINT)
  NOT_MODELLED(ExposeSnapshot, VSS_ID, VSS_PWSZ, LONG, VSS_PWSZ, VSS_PWSZ*)
  NOT_MODELLED(RevertToSnapshot, VSS_ID, WINBOOL)
  NOT_MODELLED(QueryRevertStatus, VSS_PWSZ, IVssAsync**)

private:
  // Made: the snapshots exist; Ended: after BackupComplete or AbortBackup.
  enum class Stage { Created, Initialized, Started, Prepared, Made, Failed, Ended };

  // A call allowed only in `allowed`; it moves the object to `next`.
  HRESULT Step(const wchar_t* call, std::initializer_list<Stage> allowed, Stage next,
               std::initializer_list<LONG> arguments = {}) {
    const Scripted scripted(call);
    service.script.arguments[call] = arguments;
    if (std::find(allowed.begin(), allowed.end(), stage_) == allowed.end()) return VSS_E_BAD_STATE;
    if (FAILED(scripted)) return scripted;
    stage_ = next;
    return S_OK;
  }
  // What the writers told, from the step that gathered it until it is freed:
  // counted with `count`, freed without.
  HRESULT Listed(const wchar_t* call, std::optional<std::vector<Writer>>& list, UINT* count = nullptr) {
    const Scripted scripted(call);
    if (!list) return VSS_E_BAD_STATE;
    if (FAILED(scripted)) return scripted;
    if (count != nullptr) *count = static_cast<UINT>(list->size());
    if (count == nullptr) list.reset();
    return S_OK;
  }
  // One writer of what the writers told, for a call scripted to answer `scripted`.
  HRESULT At(HRESULT scripted, const std::optional<std::vector<Writer>>& list, UINT index, const Writer*& writer) {
    if (stage_ == Stage::Created || !list) return VSS_E_BAD_STATE;
    if (index >= list->size()) return E_INVALIDARG;
    writer = &(*list)[index];
    return scripted;
  }
  // An asynchronous step reports its scripted result through the async object.
  HRESULT StepAsync(const wchar_t* call, std::initializer_list<Stage> allowed, Stage done, Stage failed,
                    IVssAsync** async) {
    const Scripted scripted(call);
    if (std::find(allowed.begin(), allowed.end(), stage_) == allowed.end()) return VSS_E_BAD_STATE;
    stage_ = scripted == S_OK || scripted == VSS_S_ASYNC_FINISHED ? done : failed;
    return StartAsync(call, scripted, async);
  }

  Stage stage_ = Stage::Created;
  std::optional<std::vector<Writer>> metadata_; // from GatherWriterMetadata to FreeWriterMetadata
  std::optional<std::vector<Writer>> status_;   // from GatherWriterStatus to FreeWriterStatus
  bool frozen_ = false;
  VSS_ID set_ = GUID_NULL;
  std::vector<Snapshot> volumes_;
};

} // namespace

#define VSSAPI_EXPORT extern "C" __declspec(dllexport)

// The service's objects live in a COM apartment: a thread that joined none
// cannot make one.
VSSAPI_EXPORT HRESULT STDAPICALLTYPE CreateVssBackupComponentsInternal(IVssBackupComponents** components) {
  APTTYPE type;
  APTTYPEQUALIFIER qualifier;
  if (FAILED(::CoGetApartmentType(&type, &qualifier))) return CO_E_NOTINITIALIZED;
  const HRESULT scripted = Scripted(L"CreateVssBackupComponents");
  *components = SUCCEEDED(scripted) ? new BackupComponents() : nullptr;
  return scripted;
}

VSSAPI_EXPORT void APIENTRY VssFreeSnapshotPropertiesInternal(VSS_SNAPSHOT_PROP* properties) {
  ::CoTaskMemFree(properties->m_pwszSnapshotDeviceObject);
  *properties = VSS_SNAPSHOT_PROP{};
}

void Service::SetImage(const wchar_t* mountPoint, const wchar_t* folder) {
  const std::wstring guidPath = VolumeGuidPath(mountPoint);
  if (guidPath.empty()) return;
  Guard guard(lock);
  script.images[guidPath] = folder;
}

VSSAPI_EXPORT VssServiceControl* VssDoubleControl() { return &service; }
