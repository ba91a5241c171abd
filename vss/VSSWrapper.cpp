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

} // namespace

VSSWrapper::VSSWrapper() : module(nullptr), provider(nullptr) {}

VSSWrapper::~VSSWrapper() {
  if (provider != nullptr && !snapshots.empty()) ReleaseSnapshots(true);
  if (provider != nullptr) Unload();
}

void VSSWrapper::Unload() {
  provider->Destroy(1);
  provider = nullptr;
  VMLib::UniqueModule(module).reset();
  module = nullptr;
}

void VSSWrapper::ReleaseSnapshots(bool completed) {
  provider->ReleaseSnapshots(completed);
  snapshots.clear();
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

  module = loaded.release();
  provider = candidate;
  provider->SetMessageCallback(
      SnapshotMessageCallback(boost::bind(&VSSWrapper::OnLibraryMessage, this, boost::placeholders::_1)));
}

HANDLE VSSWrapper::OpenSnapshotFile(const std::wstring& path) {
  if (module == nullptr || provider == nullptr) Load();
  if (module == nullptr || provider == nullptr) return INVALID_HANDLE_VALUE;
  if (CreateSnapshot(path) != 0) return INVALID_HANDLE_VALUE;

  std::wstring volume;
  if (!VolumePathOf(path, volume)) {
    SetSystemError(L"Can't get volume path");
    return INVALID_HANDLE_VALUE;
  }

  // A provider that returned fewer roots than volumes leaves no entry: the
  // open below then fails on a path that cannot exist.
  const auto snapshot = snapshots.find(volume);
  std::wstring snapshotPath = snapshot != snapshots.end() ? snapshot->second : std::wstring();
  if (!snapshotPath.empty() && snapshotPath.back() != L'\\') snapshotPath += L'\\';
  if (path.size() >= volume.size()) snapshotPath += path.substr(volume.size());

  HANDLE handle = ::CreateFileW(snapshotPath.c_str(), GENERIC_READ, FILE_SHARE_READ, /*security=*/nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, /*templateFile=*/nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    SetSystemError(L"Cannot open file from VSS snapshot '%s'", path.c_str());
    // A snapshot that cannot serve this file is not trusted for the next one.
    if (!snapshots.empty()) ReleaseSnapshots(false);
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
    // One snapshot set at a time: the set of another volume goes first.
    if (!snapshots.empty()) ReleaseSnapshots(true);
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
