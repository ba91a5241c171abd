#include "host/cli/Arguments.h"

#include <algorithm>
#include <utility>

#include "host/session/HostError.h"

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
  ScopeTree = 32,
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
    {L"--password-stdin", false, ScopeLocation},
    {L"--incremental", false, ScopeCopy},  {L"--dry-run", false, ScopeCopy},
    {L"--threads", true, ScopeTree},
};

struct CommandRule {
  const wchar_t* name; // "locations add" for the subcommands
  Command command;
  size_t minOperands;
  size_t maxOperands;
  unsigned scopes;
  // One letter per operand: R the root or a virtual path, V a drive or below,
  // I an item below a drive, anything else not a virtual path.
  const wchar_t* operands;
};

const CommandRule kCommands[] = {
    {L"help", Command::Help, 0, 0, 0, L""},
    {L"info", Command::Info, 0, 0, 0, L""},
    {L"demo", Command::Demo, 0, 1, 0, L"-"},
    {L"ls", Command::List, 0, 1, ScopeAcl, L"R"},
    {L"stat", Command::Stat, 1, 1, ScopeAcl, L"V"},
    {L"df", Command::FreeSpace, 1, 1, 0, L"V"},
    {L"get", Command::Get, 2, 2, ScopeTransfer, L"I-"},
    {L"put", Command::Put, 2, 2, ScopeTransfer | ScopePut, L"-I"},
    {L"mkdir", Command::MakeFolder, 1, 1, 0, L"V"},
    {L"rm", Command::Remove, 1, 1, 0, L"I"},
    {L"mv", Command::Move, 2, 2, 0, L"II"},
    {L"backup", Command::Backup, 2, 2, ScopeTransfer | ScopeCopy | ScopeTree, L"VV"},
    {L"restore", Command::Restore, 2, 2, ScopeTransfer | ScopeCopy | ScopeTree, L"VV"},
    {L"verify", Command::Verify, 2, 2, ScopeTransfer | ScopeTree, L"VV"},
    {L"locations add", Command::LocationsAdd, 1, 1, ScopeLocation, L"-"},
    {L"locations list", Command::LocationsList, 0, 0, 0, L""},
    {L"locations remove", Command::LocationsRemove, 1, 1, 0, L"-"},
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

bool IsDriveLetter(wchar_t c) {
  return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

// 0 the root, 1 a drive, 2 an item below a drive; -1 not a virtual path.
int VirtualDepth(const std::wstring& path) {
  if (path.empty()) return 0;
  if (path.size() < 2 || !IsDriveLetter(path[0]) || path[1] != L'$') return -1;
  if (path.size() == 2 || path == path.substr(0, 2) + L"\\") return 1;
  if (path[2] != L'\\') return -1;
  // Names only: "." and ".." would be resolved by Windows, not listed by the
  // plug-in; one trailing separator is allowed.
  size_t start = 3;
  while (start < path.size()) {
    const size_t end = std::min(path.find(L'\\', start), path.size());
    const std::wstring name = path.substr(start, end - start);
    if ((name.empty() && end != path.size()) || name == L"." || name == L"..") return -1;
    start = end + 1;
  }
  return 2;
}

// Only virtual paths reach the plug-in: it would resolve anything else
// against the host's current folder.
void CheckVirtualPaths(const CommandRule& rule, const std::vector<std::wstring>& operands) {
  const std::wstring kinds = rule.operands;
  for (size_t i = 0; i < operands.size() && i < kinds.size(); ++i) {
    const int least = kinds[i] == L'R' ? 0 : kinds[i] == L'V' ? 1 : kinds[i] == L'I' ? 2 : -1;
    if (least < 0) continue;
    const int depth = VirtualDepth(operands[i]);
    if (depth >= least) continue;
    const std::wstring shown = L"'" + operands[i] + L"'";
    if (depth < 0) {
      throw UsageError(shown + L" is not a virtual path; give a drive such as C$ or an item below one such as "
                                  L"C$\\Users\\me (\"\" is the root, for ls)");
    }
    throw UsageError(std::wstring(rule.name) + L" needs " +
                     (least == 2 ? L"an item below a drive, such as C$\\Users\\me; " : L"a drive or an item below one; ") +
                     shown + L" is " + (depth == 0 ? L"the root" : L"a whole drive"));
  }
}

void CheckOperandCount(const CommandRule& rule, size_t count) {
  if (count >= rule.minOperands && count <= rule.maxOperands) return;
  std::wstring expected = std::to_wstring(rule.minOperands);
  if (rule.maxOperands != rule.minOperands) expected += L" or " + std::to_wstring(rule.maxOperands);
  throw UsageError(std::wstring(rule.name) + L" takes " + expected + L" argument(s), got " +
                   std::to_wstring(count));
}

unsigned ParseThreads(const std::wstring& text) {
  const bool digits = !text.empty() && text.size() <= 2 &&
                      text.find_first_not_of(L"0123456789") == std::wstring::npos;
  const unsigned threads = digits ? static_cast<unsigned>(std::stoul(text)) : 0;
  if (threads < 1 || threads > kMaxThreads) {
    throw UsageError(L"thread count '" + text + L"' is not a number from 1 to " + std::to_wstring(kMaxThreads));
  }
  return threads;
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
  else if (name == L"--threads") options.threads = ParseThreads(value);
  else if (name == L"--share") options.share = value;
  else if (name == L"--drive") options.drive = value;
  else if (name == L"--user") options.user = value;
  else if (name == L"--password-stdin") options.passwordFromInput = true;
  else if (name == L"--password") {
    throw UsageError(L"--password would leave the password in the process list and the shell's history; type it "
                     L"at the prompt, or pass it on standard input with --password-stdin");
  }
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
  CheckVirtualPaths(command, words);
  Options options;
  options.command = command.command;
  options.operands = std::move(words);
  for (const auto& [option, value] : given) {
    if (option->scope != ScopeGlobal && (command.scopes & option->scope) == 0) {
      throw UsageError(L"option " + std::wstring(option->name) + L" does not apply to " + command.name);
    }
    ApplyOption(*option, value, options);
  }
  if (options.passwordFromInput && options.user.empty()) throw UsageError(L"--password-stdin needs --user");
  if (options.command == Command::LocationsAdd && (options.share.empty() || options.drive.empty())) {
    throw UsageError(L"locations add needs --share and --drive");
  }
  return options;
}

const wchar_t* UsageText() {
  return L"usage: diskway-host [--data DIR] [--log FILE] [--copy-acl] COMMAND [ARGS]\n"
         L"  backup SRC DST [--incremental] [--dry-run] [--buffer SIZE] [--threads N]\n"
         L"                                copy the folder tree SRC into DST (both virtual)\n"
         L"  restore SRC DST [--incremental] [--dry-run] [--buffer SIZE] [--threads N]\n"
         L"                                copy a backup SRC back to DST\n"
         L"  verify SRC DST [--buffer SIZE] [--threads N]\n"
         L"                                compare names, sizes, contents, times and attributes\n"
         L"                                (and ACLs with --copy-acl)\n"
         L"                                (N files at a time, 1 to 32, by default 4)\n"
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
         L"  locations add NAME --share \\\\SERVER\\SHARE --drive Z: [--user USER [--password-stdin]]\n"
         L"                                the password is asked for, or read from standard input\n"
         L"  locations list | locations remove NAME\n"
         L"Virtual paths: \"\" is the root, C$ a drive, C$\\dir\\file an item below it.\n"
         L"Exit codes of backup, restore, verify and demo: 0 all copied or identical, 1 some items\n"
         L"failed or differ (listed in the summary), 2 bad usage or the job could not start.\n";
}

} // namespace host
