// The commands of diskway-host and the top level that runs one.
#pragma once

#include <string>
#include <vector>

#include "host/cli/Arguments.h"
#include "host/session/HostLog.h"
#include "host/session/LocationStore.h"
#include "host/session/Output.h"
#include "host/session/PluginHost.h"
#include "host/session/PluginSession.h"

namespace host {

struct CommandContext {
  const Options& options;
  PluginSession& plugin;
  HostLog& log;
  TextOutput& out;
  const DataFolder& dataFolder;
};

// A command that talks to the plug-in; returns the exit code. Throws
// HostError when it fails (the tree commands: when they cannot start).
int RunPluginCommand(const CommandContext& context);

// backup, restore, verify: 0 when every item was copied or matched, 1 when
// some were not (each listed in the summary).
int RunTreeCommand(const CommandContext& context);

// The main job on generated sample data: backup, then verify. 0 when all
// matches except the one file the demo holds open, if no shadow copy could
// be made of it.
int RunDemo(const CommandContext& context);

// Shows a tree command's closing lines and keeps them in the log file.
void ReportSummary(const CommandContext& context, const std::wstring& summary);

bool IsTreeCommand(Command command);

// locations add / list / remove. Throws HostError when it fails.
void RunLocationCommand(const Options& options, const LocationStore& store, TextOutput& out);

// Parses `args` (without the program name), runs the command against the
// Diskway.dll beside the executable and reports. Returns the exit code:
// 0 done, 1 failed (tree commands: some items failed), 2 bad usage (tree
// commands: also anything that keeps them from starting).
int Run(const std::vector<std::wstring>& args, TextOutput& out, TextOutput& err);

} // namespace host
