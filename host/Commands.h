// The commands of diskway-host and the top level that runs one.
#pragma once

#include <string>
#include <vector>

#include "host/Arguments.h"
#include "host/HostLog.h"
#include "host/LocationStore.h"
#include "host/Output.h"
#include "host/PluginHost.h"
#include "host/PluginSession.h"

namespace host {

struct CommandContext {
  const Options& options;
  PluginSession& plugin;
  HostLog& log;
  TextOutput& out;
  const DataFolder& dataFolder;
};

// A command that talks to the plug-in. Throws HostError when it fails.
void RunPluginCommand(const CommandContext& context);

// locations add / list / remove. Throws HostError when it fails.
void RunLocationCommand(const Options& options, const LocationStore& store, TextOutput& out);

// Parses `args` (without the program name), runs the command against the
// Diskway.dll beside the executable and reports. Returns the exit code:
// 0 done, 1 failed, 2 bad usage.
int Run(const std::vector<std::wstring>& args, TextOutput& out, TextOutput& err);

} // namespace host
