// The module's only contact with the host. Nothing here catches: an exception
// raised while an instance is built reaches the host, with the members built
// so far destroyed on the way out.
#include <new>

#include "instance/PluginImplementation.h"
#include "contract/PluginExports.h"
#include "plugin/PluginInfo.h"

IPluginInfo* GetPluginInfo() { return new (std::nothrow) PluginInfo(); }

IBackupDataRead* GetBackupDataRead(IPluginLog* log, IPluginHost* host) {
  PluginImplementation* instance = new (std::nothrow) PluginImplementation(log, host, InstanceRead);
  return instance;
}

IBackupDataWrite* GetBackupDataWrite(IPluginLog* log, IPluginHost* host) {
  return new (std::nothrow) PluginImplementation(log, host, InstanceWrite);
}
