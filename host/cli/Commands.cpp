#include "host/cli/Commands.h"

#include <cstdio>
#include <iterator>

#include "host/cli/PasswordInput.h"
#include "host/jobs/Transfer.h"
#include "host/session/Format.h"
#include "host/session/LoadedPlugin.h"
#include "host/session/LocalFile.h"
#include "host/session/Text.h"

namespace host {

namespace {

const std::wstring kExpectedName = L"Computer";
const std::wstring kExpectedVersion = L"1.0";

std::wstring Hex(uint32_t value) {
  wchar_t text[16];
  std::swprintf(text, std::size(text), L"0x%08X", static_cast<unsigned>(value));
  return text;
}

std::wstring TimeText(const FileInfo& info, uint32_t field, int64_t time) {
  return (info.validFields & field) != 0 ? FormatFileTime(FileTimeFromTime(time)) : L"-";
}

bool IsFolder(const FileInfo& info) {
  return (info.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::wstring TypeName(const FileInfo& info, bool rootEntry) {
  if (rootEntry) return L"DRIVE";
  return IsFolder(info) ? L"DIR" : L"FILE";
}

std::wstring CapabilityText(int32_t capabilities) {
  std::wstring kinds;
  if (capabilities & 1) kinds += L"read";
  if (capabilities & 2) kinds += kinds.empty() ? L"write" : L", write";
  return std::to_wstring(capabilities) + (kinds.empty() ? L"" : L" (" + kinds + L")");
}

void RequireSuccess(const CommandContext& context, uint64_t mark, uint32_t status, const std::wstring& what) {
  if (status != StatusSuccess) throw PluginFailure(context.log, mark, what, status);
}

// The plug-in answers "not found" for an item it cannot reach as well, so
// the host asks Windows which it is.
void RequireFound(uint32_t status, const std::wstring& path) {
  if (status != StatusNotFound) return;
  WIN32_FILE_ATTRIBUTE_DATA data;
  const std::wstring local = LocalPathOf(path);
  const bool found = !local.empty() && ::GetFileAttributesExW(local.c_str(), GetFileExInfoStandard, &data);
  const DWORD error = found ? ERROR_SUCCESS : ::GetLastError();
  if (found || local.empty() || error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
    throw HostError(Quoted(path) + L": not found");
  }
  throw HostError(Quoted(path) + L" cannot be read: " + SystemErrorText(error));
}

// A listing or query that succeeded with a problem of `level` or worse in
// the log is incomplete: an unreadable folder lists as empty (an error), an
// item whose ACL could not be read has none (a warning).
void RequireNoProblem(const CommandContext& context, uint64_t mark, const std::wstring& what,
                      uint32_t level = Warning) {
  const std::wstring problem = context.log.LastProblemSince(mark, level);
  if (!problem.empty()) throw HostError(what + L": " + problem);
}

std::wstring ListingRow(const std::wstring& type, const std::wstring& size, const std::wstring& modified,
                        const std::wstring& created, const std::wstring& attributes, const std::wstring& name) {
  return Pad(type, 6) + std::wstring(size.size() < 10 ? 10 - size.size() : 0, L' ') + size + L"  " +
         Pad(modified, 21) + Pad(created, 21) + Pad(attributes, 6) + name + L"\n";
}

void RunInfo(const CommandContext& context) {
  const PluginDescription description = context.plugin.Describe();
  context.out.Write(Field(L"Plug-in", description.name + L" " + description.version) +
                    Field(L"Capabilities", CapabilityText(description.capabilities)));
  if (description.name != kExpectedName || description.version != kExpectedVersion) {
    throw HostError(L"expected the plug-in " + kExpectedName + L" " + kExpectedVersion);
  }
  IBackupDataRead& reader = context.plugin.Reader();
  context.plugin.Writer();
  const uint64_t mark = context.log.MessageCount();
  FolderList root;
  RequireSuccess(context, mark, reader.ListFolder(L"", root), L"cannot list the root");
  context.plugin.ReleaseInstances();
  std::wstring drives;
  for (const FolderEntry& entry : root) drives += (drives.empty() ? L"" : L" ") + entry.name;
  context.out.Write(Field(L"Instances", L"read and write created and released") +
                    Field(L"Data folder", context.dataFolder.path) +
                    Field(L"Drives", drives.empty() ? L"(none)" : drives));
}

void RunList(const CommandContext& context) {
  const std::wstring path = context.options.operands.empty() ? std::wstring() : context.options.operands.front();
  const uint64_t mark = context.log.MessageCount();
  FolderList entries;
  const uint32_t status = context.plugin.Reader().ListFolder(path, entries);
  RequireFound(status, path);
  RequireSuccess(context, mark, status, L"cannot list " + Quoted(path));
  RequireNoProblem(context, mark, L"cannot list " + Quoted(path), Error);
  std::wstring table = ListingRow(L"TYPE", L"SIZE", L"MODIFIED", L"CREATED", L"ATTR", L"NAME");
  for (const FolderEntry& entry : entries) {
    const FileInfo& info = entry.info;
    const bool rootEntry = path.empty();
    table += ListingRow(TypeName(info, rootEntry), rootEntry || IsFolder(info) ? L"" : FormatSize(info.size),
                        TimeText(info, FieldLastWriteTime, info.lastWriteTime),
                        TimeText(info, FieldCreationTime, info.creationTime), FormatAttributes(info.attributes),
                        entry.name);
    if (context.options.showAcl && !info.aclRights.empty()) table += L"      ACL " + info.aclRights + L"\n";
  }
  context.out.Write(table);
  RequireNoProblem(context, mark, L"cannot list all of " + Quoted(path));
}

void RunStat(const CommandContext& context) {
  const std::wstring& path = context.options.operands.front();
  const uint64_t mark = context.log.MessageCount();
  FileInfo info;
  const uint32_t status = context.plugin.Reader().QueryFileInfo(path, info);
  RequireFound(status, path);
  RequireSuccess(context, mark, status, L"cannot query " + Quoted(path));
  context.out.Write(
      Field(L"Path", path) + Field(L"Type", TypeName(info, false)) +
      Field(L"Size", std::to_wstring(info.size) + L" bytes (" + FormatSize(info.size) + L")") +
      Field(L"Attributes", FormatAttributes(info.attributes) + L" (" + Hex(info.attributes) + L")") +
      Field(L"Created", TimeText(info, FieldCreationTime, info.creationTime)) +
      Field(L"Accessed", TimeText(info, FieldLastAccessTime, info.lastAccessTime)) +
      Field(L"Modified", TimeText(info, FieldLastWriteTime, info.lastWriteTime)) +
      Field(L"Valid times", Hex(info.validFields)) +
      Field(L"ACL", info.aclRights.empty() ? (context.options.copyAcl ? L"-" : L"- (not read; use --acl)")
                                           : info.aclRights));
  RequireNoProblem(context, mark, L"cannot read all of " + Quoted(path));
}

void RunFreeSpace(const CommandContext& context) {
  const std::wstring& path = context.options.operands.front();
  const uint64_t mark = context.log.MessageCount();
  uint64_t total = 0;
  uint64_t free = 0;
  const uint32_t status = context.plugin.Reader().GetFreeSpace(path, total, free);
  if (status == StatusNotSupported) throw HostError(L"the plug-in does not report free space");
  RequireSuccess(context, mark, status, L"cannot get the free space of " + Quoted(path));
  context.out.Write(Field(L"Total", FormatSize(total)) + Field(L"Free", FormatSize(free)) +
                    Field(L"Used", FormatSize(total > free ? total - free : 0)));
}

void ReportTransfer(const CommandContext& context, const TransferResult& result) {
  const auto& operands = context.options.operands;
  context.out.Write(L"Copied " + FormatSize(result.bytes) + L" (" + std::to_wstring(result.bytes) +
                    L" bytes) from " + Quoted(operands[0]) + L" to " + Quoted(operands[1]) + L"\n");
  if (result.fromShadowCopy) context.out.Write(L"The file was locked; it was read from a shadow copy.\n");
}

void RunGet(const CommandContext& context) {
  const auto& operands = context.options.operands;
  ReportTransfer(context, CopyToLocal(context.plugin.Reader(), context.log, operands[0], operands[1],
                                      context.options.bufferSize));
}

void RunPut(const CommandContext& context) {
  const auto& operands = context.options.operands;
  ReportTransfer(context, CopyFromLocal(context.plugin.Writer(), context.log, operands[0], operands[1],
                                        context.options.bufferSize, context.options.keepAttributes));
}

void RunMakeFolder(const CommandContext& context) {
  const std::wstring& path = context.options.operands.front();
  const uint64_t mark = context.log.MessageCount();
  RequireSuccess(context, mark, context.plugin.Writer().CreateFolder(path), L"cannot create " + Quoted(path));
  context.out.Write(L"Created " + Quoted(path) + L"\n");
}

void RunRemove(const CommandContext& context) {
  const std::wstring& path = context.options.operands.front();
  IBackupDataWrite& writer = context.plugin.Writer();
  const uint64_t mark = context.log.MessageCount();
  FileInfo info;
  const uint32_t queried = writer.QueryFileInfo(path, info);
  RequireFound(queried, path);
  RequireSuccess(context, mark, queried, L"cannot query " + Quoted(path));
  const bool folder = IsFolder(info);
  const uint32_t status = folder ? writer.RemoveFolder(path) : writer.RemoveFile(path);
  RequireSuccess(context, mark, status, L"cannot remove " + Quoted(path));
  context.out.Write(std::wstring(folder ? L"Removed folder " : L"Removed file ") + Quoted(path) + L"\n");
}

void RunMove(const CommandContext& context) {
  const std::wstring& source = context.options.operands[0];
  const std::wstring& target = context.options.operands[1];
  IBackupDataWrite& writer = context.plugin.Writer();
  const std::wstring what = L"cannot move " + Quoted(source) + L" to " + Quoted(target);
  FileInfo existing;
  if (writer.QueryFileInfo(target, existing) == StatusSuccess && !IsFolder(existing)) {
    // A move to another drive is a copy, which would overwrite the existing
    // target before it knows the copy fits: it goes beside the target first,
    // and only a whole one is renamed over it.
    const std::wstring beside = TemporaryPathFor(target);
    const uint64_t mark = context.log.MessageCount();
    if (writer.MoveItem(source, beside) != StatusSuccess) {
      writer.RemoveFile(beside);
      throw PluginFailure(context.log, mark, what, StatusFailure);
    }
    if (writer.MoveItem(beside, target) != StatusSuccess) {
      const HostError failure = PluginFailure(context.log, mark, what, StatusFailure);
      writer.MoveItem(beside, source);
      throw failure;
    }
  } else {
    const uint64_t mark = context.log.MessageCount();
    RequireSuccess(context, mark, writer.MoveItem(source, target), what);
  }
  const auto& operands = context.options.operands;
  context.out.Write(L"Moved " + Quoted(operands[0]) + L" to " + Quoted(operands[1]) + L"\n");
}

std::wstring LocationTable(const LocationStore& store) {
  const std::vector<LocationEntry> entries = store.List();
  if (entries.empty()) return L"No network locations in " + store.Folder() + L"\n";
  std::wstring table = Pad(L"NAME", 20) + Pad(L"SHARE", 30) + Pad(L"DRIVE", 7) + Pad(L"USER", 20) + L"PASSWORD\n";
  for (const LocationEntry& entry : entries) {
    table += Pad(entry.name, 20);
    if (!entry.readable) {
      table += L"(not a location file: " + entry.fileName + L")\n";
      continue;
    }
    table += Pad(entry.share, 30) + Pad(entry.drive, 7) + Pad(entry.user.empty() ? L"-" : entry.user, 20) +
             (entry.passwordSet ? L"(password set)" : L"-") + L"\n";
  }
  return table;
}

bool IsLocationCommand(Command command) {
  return command == Command::LocationsAdd || command == Command::LocationsList ||
         command == Command::LocationsRemove;
}

} // namespace

bool IsTreeCommand(Command command) {
  return command == Command::Backup || command == Command::Restore || command == Command::Verify ||
         command == Command::Demo;
}

int RunPluginCommand(const CommandContext& context) {
  switch (context.options.command) {
  case Command::Backup:
  case Command::Restore:
  case Command::Verify: return RunTreeCommand(context);
  case Command::Demo: return RunDemo(context);
  case Command::Info: RunInfo(context); return 0;
  case Command::List: RunList(context); return 0;
  case Command::Stat: RunStat(context); return 0;
  case Command::FreeSpace: RunFreeSpace(context); return 0;
  case Command::Get: RunGet(context); return 0;
  case Command::Put: RunPut(context); return 0;
  case Command::MakeFolder: RunMakeFolder(context); return 0;
  case Command::Remove: RunRemove(context); return 0;
  case Command::Move: RunMove(context); return 0;
  case Command::Help:
  case Command::LocationsAdd:
  case Command::LocationsList:
  case Command::LocationsRemove:
    break;
  }
  throw HostError(L"this command does not use the plug-in");
}

void RunLocationCommand(const Options& options, const LocationStore& store, TextOutput& out) {
  if (options.command == Command::LocationsAdd) {
    const std::wstring& name = options.operands.front();
    const std::optional<std::wstring> password =
        options.user.empty() ? std::nullopt
                             : ReadPassword(out, L"Password of " + options.user + L" for " + options.share +
                                                     L" (empty for none): ",
                                            options.passwordFromInput);
    store.Add(name, {options.share, options.drive, options.user, password});
    out.Write(L"Added location " + Quoted(name) + L" in " + store.Folder() + L"\n");
  } else if (options.command == Command::LocationsRemove) {
    const std::wstring& name = options.operands.front();
    store.Remove(name);
    out.Write(L"Removed location " + Quoted(name) + L"\n");
  } else {
    out.Write(LocationTable(store));
  }
}

int Run(const std::vector<std::wstring>& args, TextOutput& out, TextOutput& err) {
  Command command = Command::Help;
  try {
    const Options options = ParseArguments(args);
    command = options.command;
    if (options.command == Command::Help) {
      out.Write(UsageText());
      return 0;
    }
    const DataFolder dataFolder =
        options.dataFolder.empty() ? DefaultDataFolder() : ChosenDataFolder(options.dataFolder);
    const LocationStore locations(dataFolder.path);
    if (IsLocationCommand(options.command)) {
      RunLocationCommand(options, locations, out);
      return 0;
    }
    // Declared before the plug-in, so that both outlive its instances.
    HostLog log(out);
    if (!options.logFile.empty()) log.OpenFile(options.logFile);
    PluginHost host(dataFolder.parameter, options.copyAcl, locations);
    LoadedPlugin plugin(ExecutableFolder() + L"\\Diskway.dll", log, host);
    const int exitCode = RunPluginCommand({options, plugin, log, out, dataFolder});
    return exitCode == 0 && log.FileFailed() ? 1 : exitCode;
  } catch (const UsageError& error) {
    err.Write(L"diskway-host: " + error.message() + L"\n" + UsageText());
    return 2;
  } catch (const HostError& error) {
    err.Write(L"diskway-host: " + error.message() + L"\n");
    // The tree commands report failed items in their summary; what reaches
    // here kept them from starting.
    return IsTreeCommand(command) ? 2 : 1;
  }
}

} // namespace host
