#include "host/Arguments.h"

#include <utility>

#include "host/HostError.h"

namespace host {

namespace {

constexpr uint32_t kMaxBufferSize = 64u << 20;

// Which commands an option applies to.
enum Scope : unsigned {
  ScopeGlobal = 0,
  ScopeAcl = 1,
  ScopeTransfer = 2,
  ScopePut = 4,
  ScopeLocation = 8,
  ScopeCopy = 16,
};

struct OptionRule {
  const wchar_t* name;
  bool takesValue;
  unsigned scope;
};

const OptionRule kOptions[] = {
    {L"--data", true, ScopeGlobal},        {L"--log", true, ScopeGlobal},
    {L"--copy-acl", false, ScopeGlobal},   {L"--acl", false, ScopeAcl},
    {L"--buffer", true, ScopeTransfer},    {L"--keep-attributes", false, ScopePut},
    {L"--share", true, ScopeLocation},     {L"--drive", true, ScopeLocation},
    {L"--user", true, ScopeLocation},      {L"--password", true, ScopeLocation},
    {L"--incremental", false, ScopeCopy},  {L"--dry-run", false, ScopeCopy},
};

struct CommandRule {
  const wchar_t* name; // "locations add" for the subcommands
  Command command;
  size_t minOperands;
  size_t maxOperands;
  unsigned scopes;
};

const CommandRule kCommands[] = {
    {L"help", Command::Help, 0, 0, 0},
    {L"info", Command::Info, 0, 0, 0},
    {L"demo", Command::Demo, 0, 1, 0},
    {L"ls", Command::List, 0, 1, ScopeAcl},
    {L"stat", Command::Stat, 1, 1, ScopeAcl},
    {L"df", Command::FreeSpace, 1, 1, 0},
    {L"get", Command::Get, 2, 2, ScopeTransfer},
    {L"put", Command::Put, 2, 2, ScopeTransfer | ScopePut},
    {L"mkdir", Command::MakeFolder, 1, 1, 0},
    {L"rm", Command::Remove, 1, 1, 0},
    {L"mv", Command::Move, 2, 2, 0},
    {L"backup", Command::Backup, 2, 2, ScopeTransfer | ScopeCopy},
    {L"restore", Command::Restore, 2, 2, ScopeTransfer | ScopeCopy},
    {L"verify", Command::Verify, 2, 2, ScopeTransfer},
    {L"locations add", Command::LocationsAdd, 1, 1, ScopeLocation},
    {L"locations list", Command::LocationsList, 0, 0, 0},
    {L"locations remove", Command::LocationsRemove, 1, 1, 0},
};

const OptionRule* FindOption(const std::wstring& name) {
  for (const OptionRule& rule : kOptions) {
    if (name == rule.name) return &rule;
  }
  return nullptr;
}

const CommandRule& FindCommand(std::vector<std::wstring>& words) {
  if (words.empty()) throw UsageError(L"no command given");
  std::wstring name = words.front();
  words.erase(words.begin());
  if (name == L"locations") {
    if (words.empty()) throw UsageError(L"locations needs add, list or remove");
    name += L" " + words.front();
    words.erase(words.begin());
  }
  for (const CommandRule& rule : kCommands) {
    if (name == rule.name) return rule;
  }
  throw UsageError(L"unknown command '" + name + L"'");
}

void CheckOperandCount(const CommandRule& rule, size_t count) {
  if (count >= rule.minOperands && count <= rule.maxOperands) return;
  std::wstring expected = std::to_wstring(rule.minOperands);
  if (rule.maxOperands != rule.minOperands) expected += L" or " + std::to_wstring(rule.maxOperands);
  throw UsageError(std::wstring(rule.name) + L" takes " + expected + L" argument(s), got " +
                   std::to_wstring(count));
}

void ApplyOption(const OptionRule& option, const std::wstring& value, Options& options) {
  const std::wstring name = option.name;
  if (option.takesValue && value.empty()) throw UsageError(L"option " + name + L" needs a value");
  if (name == L"--data") options.dataFolder = value;
  else if (name == L"--log") options.logFile = value;
  else if (name == L"--copy-acl") options.copyAcl = true;
  else if (name == L"--acl") options.copyAcl = options.showAcl = true;
  else if (name == L"--buffer") options.bufferSize = ParseBufferSize(value);
  else if (name == L"--keep-attributes") options.keepAttributes = true;
  else if (name == L"--incremental") options.incremental = true;
  else if (name == L"--dry-run") options.dryRun = true;
  else if (name == L"--share") options.share = value;
  else if (name == L"--drive") options.drive = value;
  else if (name == L"--user") options.user = value;
  else if (name == L"--password") options.password = value;
}

} // namespace

uint32_t ParseBufferSize(const std::wstring& text) {
  size_t digits = 0;
  uint64_t number = 0;
  while (digits < text.size() && text[digits] >= L'0' && text[digits] <= L'9' && number <= kMaxBufferSize) {
    number = number * 10 + static_cast<uint64_t>(text[digits] - L'0');
    ++digits;
  }
  const std::wstring suffix = text.substr(digits);
  uint64_t multiplier = 1;
  if (suffix == L"K" || suffix == L"k") multiplier = 1024;
  else if (suffix == L"M" || suffix == L"m") multiplier = 1024 * 1024;
  else if (!suffix.empty()) digits = 0;
  if (digits == 0 || number == 0 || number > kMaxBufferSize / multiplier) {
    throw UsageError(L"buffer size '" + text + L"' is not a size from 1 to 64M (like 64K or 1M)");
  }
  return static_cast<uint32_t>(number * multiplier);
}

Options ParseArguments(const std::vector<std::wstring>& args) {
  std::vector<std::wstring> words;
  std::vector<std::pair<const OptionRule*, std::wstring>> given;
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::wstring& arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != L'-') {
      words.push_back(arg);
      continue;
    }
    if (arg == L"--") {
      optionsEnded = true;
      continue;
    }
    if (arg == L"-h" || arg == L"--help") return Options{};
    const size_t equals = arg.find(L'=');
    const std::wstring name = arg.substr(0, equals);
    const OptionRule* option = FindOption(name);
    if (option == nullptr) throw UsageError(L"unknown option " + name);
    std::wstring value;
    if (!option->takesValue) {
      if (equals != std::wstring::npos) throw UsageError(L"option " + name + L" takes no value");
    } else if (equals != std::wstring::npos) {
      value = arg.substr(equals + 1);
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      throw UsageError(L"option " + name + L" needs a value");
    }
    for (const auto& earlier : given) {
      if (earlier.first == option) throw UsageError(L"option " + name + L" given twice");
    }
    given.emplace_back(option, value);
  }

  const CommandRule& command = FindCommand(words);
  CheckOperandCount(command, words.size());
  Options options;
  options.command = command.command;
  options.operands = std::move(words);
  for (const auto& [option, value] : given) {
    if (option->scope != ScopeGlobal && (command.scopes & option->scope) == 0) {
      throw UsageError(L"option " + std::wstring(option->name) + L" does not apply to " + command.name);
    }
    ApplyOption(*option, value, options);
  }
  if (options.command == Command::LocationsAdd && (options.share.empty() || options.drive.empty())) {
    throw UsageError(L"locations add needs --share and --drive");
  }
  return options;
}

const wchar_t* UsageText() {
  return L"usage: diskway-host [--data DIR] [--log FILE] [--copy-acl] COMMAND [ARGS]\n"
         L"  backup SRC DST [--incremental] [--dry-run] [--buffer SIZE]\n"
         L"                                copy the folder tree SRC into DST (both virtual)\n"
         L"  restore SRC DST [--incremental] [--dry-run] [--buffer SIZE]\n"
         L"                                copy a backup SRC back to DST\n"
         L"  verify SRC DST [--buffer SIZE]  compare names, sizes, contents, times and attributes\n"
         L"  demo [FOLDER]                 back up and verify a generated sample tree\n"
         L"                                (in FOLDER, by default %TEMP%\\diskway-demo)\n"
         L"  info                          load the plug-in, show what it is and the drives it lists\n"
         L"  ls [VIRTUAL] [--acl]          list a folder (the root when omitted)\n"
         L"  stat VIRTUAL [--acl]          show everything known about one item\n"
         L"  df VIRTUAL                    size and free space of the drive holding VIRTUAL\n"
         L"  get VIRTUAL LOCAL [--buffer SIZE]\n"
         L"                                copy a file out of the namespace (SIZE like 256K, 1M)\n"
         L"  put LOCAL VIRTUAL [--buffer SIZE] [--keep-attributes]\n"
         L"                                copy a local file into the namespace\n"
         L"  mkdir VIRTUAL | rm VIRTUAL | mv SOURCE TARGET\n"
         L"  locations add NAME --share \\\\SERVER\\SHARE --drive Z: [--user USER] [--password PASSWORD]\n"
         L"  locations list | locations remove NAME\n"
         L"Virtual paths: \"\" is the root, C$ a drive, C$\\dir\\file an item below it.\n"
         L"Exit codes of backup, restore, verify and demo: 0 all copied or identical, 1 some items\n"
         L"failed or differ (listed in the summary), 2 bad usage or the job could not start.\n";
}

} // namespace host
