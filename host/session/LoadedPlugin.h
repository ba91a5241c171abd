// Diskway.dll loaded at run time, the way the backup application loads it:
// LoadLibraryW by full path and the three exports by name.
#pragma once

#include <string>

#include "host/session/PluginSession.h"
#include "contract/PluginExports.h"
#include "vmlib/ScopedHandle.h"

namespace host {

// The folder of the running executable, without a trailing backslash.
std::wstring ExecutableFolder();

class LoadedPlugin final : public PluginSession {
public:
  // Throws HostError when the module or one of its exports is missing. `log`
  // and `host` must outlive this object.
  LoadedPlugin(const std::wstring& modulePath, IPluginLog& log, IPluginHost& host);
  LoadedPlugin(const LoadedPlugin&) = delete;
  LoadedPlugin& operator=(const LoadedPlugin&) = delete;

  PluginDescription Describe() override;
  IBackupDataRead& Reader() override;
  IBackupDataWrite& Writer() override;
  void ReleaseInstances() override;
  PluginPtr<IBackupDataRead> NewReader(IPluginLog& log) override;
  PluginPtr<IBackupDataWrite> NewWriter(IPluginLog& log) override;

private:
  // Declared first so that it is unloaded last, after every instance is gone.
  VMLib::UniqueModule module_;
  std::wstring modulePath_;
  GetPluginInfoFn getPluginInfo_ = nullptr;
  GetBackupDataReadFn getBackupDataRead_ = nullptr;
  GetBackupDataWriteFn getBackupDataWrite_ = nullptr;
  IPluginLog& log_;
  IPluginHost& host_;
  PluginPtr<IBackupDataRead> reader_;
  PluginPtr<IBackupDataWrite> writer_;
};

} // namespace host
