#include "host/session/LoadedPlugin.h"

#include <exception>
#include <vector>

#include "host/session/HostError.h"
#include "host/session/Text.h"

namespace host {

namespace {

template <typename Fn>
Fn RequireExport(HMODULE module, const char* name, const std::wstring& modulePath) {
  const Fn function = VMLib::GetFunction<Fn>(module, name);
  if (function == nullptr) {
    const DWORD error = ::GetLastError();
    throw HostError(modulePath + L" has no export " + FromUtf8(name) + L": " + SystemErrorText(error));
  }
  return function;
}

// Instance construction may throw out of the plug-in (its contract allows it).
template <typename T, typename Create>
PluginPtr<T> CreateInstance(Create create, const wchar_t* kind) {
  T* instance = nullptr;
  try {
    instance = create();
  } catch (const std::exception& failure) {
    throw HostError(std::wstring(L"the plug-in could not create a ") + kind + L" instance: " +
                    FromUtf8(failure.what()));
  }
  if (instance == nullptr) throw HostError(std::wstring(L"the plug-in returned no ") + kind + L" instance");
  return PluginPtr<T>(instance);
}

} // namespace

std::wstring ExecutableFolder() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(/*module=*/nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) {
      const DWORD error = ::GetLastError();
      throw HostError(L"cannot find the host's own folder: " + SystemErrorText(error));
    }
    // A full buffer means the name was cut short.
    if (length < buffer.size()) {
      const std::wstring path(buffer.data(), length);
      return path.substr(0, path.find_last_of(L"\\/"));
    }
    buffer.resize(buffer.size() * 2);
  }
}

LoadedPlugin::LoadedPlugin(const std::wstring& modulePath, IPluginLog& log, IPluginHost& host)
    : modulePath_(modulePath), log_(log), host_(host) {
  module_.reset(::LoadLibraryW(modulePath.c_str()));
  if (!module_) {
    const DWORD error = ::GetLastError();
    throw HostError(L"cannot load " + modulePath + L": " + SystemErrorText(error));
  }
  getPluginInfo_ = RequireExport<GetPluginInfoFn>(module_.get(), "GetPluginInfo", modulePath);
  getBackupDataRead_ = RequireExport<GetBackupDataReadFn>(module_.get(), "GetBackupDataRead", modulePath);
  getBackupDataWrite_ = RequireExport<GetBackupDataWriteFn>(module_.get(), "GetBackupDataWrite", modulePath);
}

PluginDescription LoadedPlugin::Describe() {
  const PluginPtr<IPluginInfo> info(getPluginInfo_());
  if (!info) throw HostError(modulePath_ + L" returned no plug-in information");
  const wchar_t* name = info->GetName();
  const wchar_t* version = info->GetVersion();
  return {name != nullptr ? name : L"", version != nullptr ? version : L"", info->GetCapabilities()};
}

IBackupDataRead& LoadedPlugin::Reader() {
  if (!reader_) reader_ = NewReader(log_);
  return *reader_;
}

IBackupDataWrite& LoadedPlugin::Writer() {
  if (!writer_) writer_ = NewWriter(log_);
  return *writer_;
}

PluginPtr<IBackupDataRead> LoadedPlugin::NewReader(IPluginLog& log) {
  return CreateInstance<IBackupDataRead>([this, &log] { return getBackupDataRead_(&log, &host_); }, L"read");
}

PluginPtr<IBackupDataWrite> LoadedPlugin::NewWriter(IPluginLog& log) {
  return CreateInstance<IBackupDataWrite>([this, &log] { return getBackupDataWrite_(&log, &host_); }, L"write");
}

void LoadedPlugin::ReleaseInstances() {
  writer_.reset();
  reader_.reset();
}

} // namespace host
