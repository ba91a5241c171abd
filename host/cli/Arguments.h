// The command line of diskway-host: one command, its operands and options.
// Global options (--data, --log, --copy-acl) may stand anywhere; "--" ends the
// options, so a virtual name may begin with "-".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace host {

enum class Command {
  Help,
  Info,
  Demo,
  List,
  Stat,
  FreeSpace,
  Get,
  Put,
  MakeFolder,
  Remove,
  Move,
  LocationsAdd,
  LocationsList,
  LocationsRemove,
  Backup,
  Restore,
  Verify,
};

inline constexpr unsigned kDefaultThreads = 4;
inline constexpr unsigned kMaxThreads = 32;

struct Options {
  Command command = Command::Help;
  std::vector<std::wstring> operands;
  std::wstring dataFolder; // --data: replaces the default data folder
  std::wstring logFile;    // --log: plug-in messages are appended there too
  bool copyAcl = false;    // "CopyACL" answered "True"
  bool showAcl = false;    // ls/stat print the security descriptor text
  bool keepAttributes = false;
  bool incremental = false; // backup/restore: skip files unchanged in DST
  bool dryRun = false;      // backup/restore: report what would be copied
  uint32_t bufferSize = 1u << 20;
  // backup/restore/verify: files copied or compared at a time, each by a
  // thread with instances of its own. Files are mostly waiting (opens,
  // closes, metadata writes), so a few threads keep the disk and the
  // processors busy; beyond that they only take turns.
  unsigned threads = kDefaultThreads;
  // locations add
  std::wstring share;
  std::wstring drive;
  std::wstring user;
  bool passwordFromInput = false; // --password-stdin: one line of standard input, not a prompt
};

// Throws UsageError with a one-line reason.
Options ParseArguments(const std::vector<std::wstring>& args);

// "65536", "64K", "1M" (case-insensitive suffix), from 1 byte to 64 MiB.
// Throws UsageError otherwise.
uint32_t ParseBufferSize(const std::wstring& text);

const wchar_t* UsageText();

} // namespace host
