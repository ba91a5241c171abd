// What the commands need of the plug-in. The loaded Diskway.dll provides it;
// tests provide doubles.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "contract/IBackupData.h"
#include "contract/IPluginCallbacks.h"
#include "contract/IPluginInfo.h"

namespace host {

// Objects the plug-in hands out are destroyed with their own Release(), in the
// plug-in's module, never with delete in the host's.
struct Releaser {
  template <typename T>
  void operator()(T* object) const {
    object->Release();
  }
};

template <typename T>
using PluginPtr = std::unique_ptr<T, Releaser>;

struct PluginDescription {
  std::wstring name;
  std::wstring version;
  int32_t capabilities = 0;
};

class PluginSession {
public:
  virtual PluginDescription Describe() = 0;
  // The instance of each kind, created with the host's log and settings on
  // first use and kept until ReleaseInstances. Throw HostError when the
  // plug-in cannot make one.
  virtual IBackupDataRead& Reader() = 0;
  virtual IBackupDataWrite& Writer() = 0;
  virtual void ReleaseInstances() = 0;
  // Further instances, for other threads: each reports to `log` and is the
  // caller's to release. Throw HostError when the plug-in cannot make one.
  virtual PluginPtr<IBackupDataRead> NewReader(IPluginLog& log) = 0;
  virtual PluginPtr<IBackupDataWrite> NewWriter(IPluginLog& log) = 0;

protected:
  ~PluginSession() = default;
};

} // namespace host
