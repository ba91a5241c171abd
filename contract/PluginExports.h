// The three exports, under plain undecorated names. Hosts that load the DLL at
// run time look them up with GetProcAddress and the typedefs below.
#pragma once

#include "contract/IBackupData.h"
#include "contract/IPluginCallbacks.h"
#include "contract/IPluginInfo.h"

#if defined(DISKWAY_BUILDING_PLUGIN)
#define DISKWAY_EXPORT extern "C" __declspec(dllexport)
#else
#define DISKWAY_EXPORT extern "C" __declspec(dllimport)
#endif

// Each call returns a new object that the caller releases with Release().
DISKWAY_EXPORT IPluginInfo* GetPluginInfo();
// `log` may be null; `host` must not be. Exceptions raised while the instance
// is built (a host callback that throws, an unreadable data folder) propagate.
DISKWAY_EXPORT IBackupDataRead* GetBackupDataRead(IPluginLog* log, IPluginHost* host);
DISKWAY_EXPORT IBackupDataWrite* GetBackupDataWrite(IPluginLog* log, IPluginHost* host);

typedef IPluginInfo* (*GetPluginInfoFn)();
typedef IBackupDataRead* (*GetBackupDataReadFn)(IPluginLog*, IPluginHost*);
typedef IBackupDataWrite* (*GetBackupDataWriteFn)(IPluginLog*, IPluginHost*);
