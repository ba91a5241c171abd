// listbench MODE REPEAT [FOLDER DATA]: times REPEAT listings of one folder and
// prints "entries N seconds S" (entries of the last listing, seconds for all).
//   raw         FindFirstFileW/FindNextFileW, keeping what a listing returns
//   plugin      ListFolder of Diskway.dll, loaded like a host, ACL copying off
//   plugin-acl  the same with ACL copying on
//   registry    no folder: the registry read the plug-in makes on every path
//               mapping, on its own, so its share of a call can be shown
// FOLDER is a Windows path ("Z:\data\flat"); the plug-in gets the matching
// virtual path ("Z$\data\flat"). DATA is the plug-in's data folder.
// Only the listings are timed, not loading the plug-in or creating instances.
#include <chrono>
#include <cstdint>
#include <cwchar>
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "bench/PluginCosts.h"
#include "host/session/HostError.h"
#include "host/session/HostLog.h"
#include "host/session/LoadedPlugin.h"
#include "host/session/LocationStore.h"
#include "host/session/Output.h"
#include "host/session/PluginHost.h"
#include "host/session/Text.h"
#include "vmlib/ScopedHandle.h"

namespace {

const wchar_t kUsage[] = L"usage: listbench raw|plugin|plugin-acl REPEAT FOLDER DATA\n"
                         L"       listbench registry REPEAT\n";

std::wstring Result(const wchar_t* unit, size_t count, double seconds) {
  wchar_t text[32];
  std::swprintf(text, 32, L"%.6f", seconds);
  return std::wstring(unit) + L" " + std::to_wstring(count) + L" seconds " + text + L"\n";
}

// Runs `list` `repeat` times; it returns the number of entries it saw.
double TimeRepeated(uint32_t repeat, const std::function<size_t()>& list, size_t& entries) {
  const auto start = std::chrono::steady_clock::now();
  for (uint32_t i = 0; i < repeat; ++i) entries = list();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The fields ListFolder hands back, in the leanest form: the baseline does
// the same work a lister must do, and nothing more.
struct RawEntry {
  std::wstring name;
  DWORD attributes;
  uint64_t size;
  FILETIME creation;
  FILETIME access;
  FILETIME write;
};

size_t ListRaw(const std::wstring& folder) {
  std::vector<RawEntry> entries;
  WIN32_FIND_DATAW data;
  VMLib::UniqueFind search(::FindFirstFileW((folder + L"\\*").c_str(), &data));
  if (!search) {
    const DWORD error = ::GetLastError();
    throw host::HostError(L"cannot list '" + folder + L"': " + host::SystemErrorText(error));
  }
  do {
    const std::wstring_view name(data.cFileName);
    if (name == L"." || name == L"..") continue;
    entries.push_back({std::wstring(name), data.dwFileAttributes,
                       (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow, data.ftCreationTime,
                       data.ftLastAccessTime, data.ftLastWriteTime});
  } while (::FindNextFileW(search.get(), &data));
  const DWORD error = ::GetLastError();
  if (error != ERROR_NO_MORE_FILES) {
    throw host::HostError(L"listing '" + folder + L"' stopped: " + host::SystemErrorText(error));
  }
  return entries.size();
}

size_t ListThroughPlugin(IBackupDataRead& reader, const std::wstring& virtualPath) {
  FolderList entries;
  const uint32_t status = reader.ListFolder(virtualPath, entries);
  if (status != StatusSuccess) {
    throw host::HostError(L"ListFolder('" + virtualPath + L"') returned " + std::to_wstring(status));
  }
  return entries.size();
}

// "Z:\x" becomes "Z$\x": the second character only marks a drive.
std::wstring VirtualPath(const std::wstring& windowsPath) {
  if (windowsPath.size() < 2 || windowsPath[1] != L':') {
    throw host::HostError(L"'" + windowsPath + L"' does not start with a drive letter");
  }
  std::wstring path = windowsPath;
  path[1] = L'$';
  return path;
}

int Run(const std::vector<std::wstring>& args, host::TextOutput& out, host::TextOutput& err) {
  const std::wstring mode = args.empty() ? std::wstring() : args[0];
  const bool registryOnly = mode == L"registry";
  if (args.size() != (registryOnly ? 2u : 4u) ||
      (!registryOnly && mode != L"raw" && mode != L"plugin" && mode != L"plugin-acl")) {
    err.Write(kUsage);
    return 2;
  }
  const uint32_t repeat = static_cast<uint32_t>(std::stoul(args[1]));
  size_t entries = 0;
  if (registryOnly) {
    out.Write(Result(L"calls", repeat, TimeRepeated(repeat, bench::ReadMappingRegistry, entries)));
    return 0;
  }
  const std::wstring& folder = args[2];
  if (mode == L"raw") {
    const double seconds = TimeRepeated(repeat, [&folder] { return ListRaw(folder); }, entries);
    out.Write(Result(L"entries", entries, seconds));
    return 0;
  }
  const host::DataFolder data = host::ChosenDataFolder(args[3]);
  const host::LocationStore locations(data.path);
  host::HostLog log(err);
  host::PluginHost settings(data.parameter, /*copyAcl=*/mode == L"plugin-acl", locations);
  host::LoadedPlugin plugin(host::ExecutableFolder() + L"\\Diskway.dll", log, settings);
  IBackupDataRead& reader = plugin.Reader();
  const std::wstring virtualPath = VirtualPath(folder);
  const double seconds =
      TimeRepeated(repeat, [&reader, &virtualPath] { return ListThroughPlugin(reader, virtualPath); }, entries);
  plugin.ReleaseInstances();
  out.Write(Result(L"entries", entries, seconds));
  return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
  host::ConsoleOutput out(STD_OUTPUT_HANDLE);
  host::ConsoleOutput err(STD_ERROR_HANDLE);
  try {
    return Run(std::vector<std::wstring>(argv + 1, argv + argc), out, err);
  } catch (const host::HostError& error) {
    err.Write(L"listbench: " + error.message() + L"\n");
  } catch (const std::exception& failure) {
    err.Write(L"listbench: " + host::FromUtf8(failure.what()) + L"\n");
  }
  return 1;
}
