#include "vss/VSSWrapper.h"

#include <cstdarg>
#include <list>

#include <boost/bind/bind.hpp>

#include "logging/PluginBase.h"
#include "vmlib/ScopedHandle.h"
#include "vmlib/VMLib.h"

namespace {

constexpr DWORD kVolumePathLength = 260;

bool VolumePathOf(const std::wstring& path, std::wstring& volume) {
  wchar_t buffer[kVolumePathLength] = {};
  if (!::GetVolumePathNameW(path.c_str(), buffer, kVolumePathLength)) return false;
  volume = buffer;
  return true;
}

// The path that Windows finally opens, every junction and link on the way
// resolved: GetVolumePathNameW only reads the text (Wine's does, and Windows'
// stops at the first mount point), so a file behind a junction to another
// volume would otherwise be looked for in the wrong snapshot. Opening for no
// access passes whatever share mode the program holding the file chose.
bool FinalPathOf(const std::wstring& path, std::wstring& finalPath) {
  const VMLib::UniqueFile file(::CreateFileW(path.c_str(), /*access=*/0,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                             /*security=*/nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                             /*templateFile=*/nullptr));
  if (!file) return false;
  // A volume that has neither a drive letter nor a mount folder has only its GUID path.
  for (const DWORD form : {VOLUME_NAME_DOS, VOLUME_NAME_GUID}) {
    std::wstring buffer(kVolumePathLength, L'\0');
    DWORD length = ::GetFinalPathNameByHandleW(file.get(), &buffer[0], static_cast<DWORD>(buffer.size()), form);
    if (length >= buffer.size()) {
      buffer.resize(length);
      length = ::GetFinalPathNameByHandleW(file.get(), &buffer[0], static_cast<DWORD>(buffer.size()), form);
    }
    if (length != 0 && length < buffer.size()) {
      finalPath = buffer.substr(0, length);
      return true;
    }
  }
  return false;
}

// Names compare as Windows compares them: ordinally, ignoring case.
bool StartsWithName(const std::wstring& path, const std::wstring& prefix) {
  const int length = static_cast<int>(prefix.size());
  return path.size() >= prefix.size() &&
         ::CompareStringOrdinal(path.c_str(), length, prefix.c_str(), length, /*ignoreCase=*/TRUE) == CSTR_EQUAL;
}

} // namespace

VSSWrapper::VSSWrapper() : module(nullptr), provider(nullptr) {}

VSSWrapper::~VSSWrapper() {
  // Whatever the provider throws ends here: out of a destructor it would
  // terminate the host.
  try {
    if (provider != nullptr && !snapshots.empty()) DropSnapshots(true);
  } catch (...) {
    OnLibraryMessage(L"VSS: the shadow-copy library failed to release its snapshots");
  }
  if (provider != nullptr) Unload();
}

void VSSWrapper::Unload() {
  provider->Destroy(1);
  provider = nullptr;
  VMLib::UniqueModule(module).reset();
  module = nullptr;
}

// Where a snapshot ends, the provider's exception has no caller to tell: at
// teardown nobody reads the stored text, and after a failed open the reason
// already stored is the one the host must see. The map is emptied first, so a
// snapshot that a throwing provider may have lost is never offered for reuse.
void VSSWrapper::DropSnapshots(bool completed) {
  snapshots.clear();
  try {
    provider->ReleaseSnapshots(completed);
  } catch (IVssException* exception) {
    OnLibraryMessage((L"VSS: " + std::wstring(exception->GetText())).c_str());
    FreeVssException(exception);
  }
}

void VSSWrapper::Load() {
  VMLib::system::WinVersion version = VMLib::system::WinUnknown;
  VMLib::system::WinArchitecture architecture = VMLib::system::ArchUnknown;
  if (!VMLib::system::GetWinVersion(version, architecture)) {
    SetError(L"Cannot determine Windows version. Shadow copying will be unavailable");
    return;
  }

  const int32_t versionNumber = static_cast<int32_t>(version);
  if (versionNumber < VMLib::system::WinXP) {
    SetError(L"Volume Shadow Copy is not supported in this Windows version");
    return;
  }
  const wchar_t* library = L"vsnp_2003.dll";
  if (versionNumber == VMLib::system::WinXP) {
    library = L"vsnp_xp.dll";
  } else if (versionNumber >= VMLib::system::Win7 && VMLib::system::IsWow64()) {
    SetError(L"Shadow copying under WoW64 is unavailable. Please, use native x64 version in x64 Operating System.");
    return;
  }

  VMLib::UniqueModule loaded(::LoadLibraryW(library));
  if (!loaded) {
    SetError(L"VSS library '%s' not found. Shadow copying will be unavailable", library);
    return;
  }
  const auto getInterface = VMLib::GetFunction<GetInterfaceFn>(loaded.get(), "GetInterface");
  if (getInterface == nullptr) {
    SetError(L"Cannot load VSS library '%s'. Shadow copying will be unavailable", library);
    return;
  }
  ISnapshotProvider* candidate = getInterface();
  if (candidate == nullptr || candidate->Initialize() != 0) {
    SetError(L"Cannot load vssapi.dll. Shadow copying will be unavailable");
    if (candidate != nullptr) candidate->Destroy(1);
    return;
  }
  // Only an initialised provider gets the sink: providers are written for
  // this order and tell what fails inside Initialize on their own.
  candidate->SetMessageCallback(
      SnapshotMessageCallback(boost::bind(&VSSWrapper::OnLibraryMessage, this, boost::placeholders::_1)));

  module = loaded.release();
  provider = candidate;
}

HANDLE VSSWrapper::OpenSnapshotFile(const std::wstring& path) {
  if (module == nullptr || provider == nullptr) Load();
  if (module == nullptr || provider == nullptr) return INVALID_HANDLE_VALUE;
  std::wstring target;
  if (!FinalPathOf(path, target)) {
    SetSystemError(L"Cannot find the volume that holds '%s'", path.c_str());
    return INVALID_HANDLE_VALUE;
  }
  if (CreateSnapshot(target) != 0) return INVALID_HANDLE_VALUE;

  std::wstring volume;
  if (!VolumePathOf(target, volume)) {
    SetSystemError(L"Can't get volume path");
    return INVALID_HANDLE_VALUE;
  }
  // Only a mount point that leads the path may be cut off: anything else
  // would name another file of the snapshot.
  if (!StartsWithName(target, volume)) {
    SetError(L"Cannot open file from VSS snapshot '%s': '%s' is not below its volume's mount point '%s'",
             path.c_str(), target.c_str(), volume.c_str());
    return INVALID_HANDLE_VALUE;
  }

  // A provider that returned fewer roots than volumes leaves no entry. The
  // part below the mount point alone is a relative path, which Windows would
  // open in the current folder: some other file, or nothing.
  const auto snapshot = snapshots.find(volume);
  if (snapshot == snapshots.end()) {
    SetError(L"Cannot open file from VSS snapshot '%s': the snapshot has no entry for volume '%s'", path.c_str(),
             volume.c_str());
    // The set the provider made serves nothing; left unreleased, it would
    // stand in the way of the next one.
    DropSnapshots(false);
    return INVALID_HANDLE_VALUE;
  }
  std::wstring snapshotPath = snapshot->second;
  if (!snapshotPath.empty() && snapshotPath.back() != L'\\') snapshotPath += L'\\';
  snapshotPath += target.substr(volume.size());

  HANDLE handle = ::CreateFileW(snapshotPath.c_str(), GENERIC_READ, FILE_SHARE_READ, /*security=*/nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, /*templateFile=*/nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    SetSystemError(L"Cannot open file from VSS snapshot '%s'", path.c_str());
    // A snapshot that cannot serve this file is not trusted for the next one.
    if (!snapshots.empty()) DropSnapshots(false);
  }
  return handle;
}

uint32_t VSSWrapper::CreateSnapshot(const std::wstring& path) {
  if (module == nullptr || provider == nullptr) {
    SetError(L"VSSWrapper: VSS not loaded.");
    return 1;
  }
  std::wstring volume;
  if (!VolumePathOf(path, volume)) {
    SetSystemError(L"Can't get the volume mount point for the input path.");
    return 1;
  }
  if (snapshots.count(volume) != 0) {
    OnLibraryMessage((L"Snapshot for " + volume + L" already created. Reuse it.").c_str());
    return 0;
  }

  try {
    // One snapshot set at a time: the set of another volume goes first. The
    // map is emptied before the provider is asked, as in DropSnapshots.
    if (!snapshots.empty()) {
      snapshots.clear();
      provider->ReleaseSnapshots(true);
    }
    provider->StartSnapshotSet();
    if (!provider->AddVolume(volume.c_str())) return 6;
    const std::list<std::wstring> volumes{volume};
    std::list<std::wstring> roots;
    provider->CreateSnapshots(volumes, roots);
    auto root = roots.begin();
    for (auto mountPoint = volumes.begin(); mountPoint != volumes.end() && root != roots.end();
         ++mountPoint, ++root) {
      snapshots[*mountPoint] = *root;
    }
  } catch (IVssException* exception) {
    SetError(L"VSS: %s", exception->GetText());
    FreeVssException(exception);
    snapshots.clear();
    return 1;
  }
  return 0;
}

void VSSWrapper::SetError(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  lastError = FormatText(format, args);
  va_end(args);
}

void VSSWrapper::SetSystemError(const wchar_t* format, ...) {
  const DWORD error = ::GetLastError();
  va_list args;
  va_start(args, format);
  const std::wstring text = FormatText(format, args);
  va_end(args);
  lastError = ComposeErrorText(text, error);
}

std::wstring VSSWrapper::GetLastErrorText() const { return lastError; }

void VSSWrapper::OnLibraryMessage(const wchar_t* text) {
  WriteLine(stderr, text != nullptr ? text : L"");
}
