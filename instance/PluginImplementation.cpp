#include "instance/PluginImplementation.h"

#include <filesystem>
#include <system_error>

#include "vmlib/VMLib.h"

namespace {

// The host writes "//" where it means one backslash. The scan resumes after
// each replaced pair, so "///" becomes "\/" and "////" becomes "\\".
std::wstring RewriteDoubleSlashes(const std::wstring& value) {
  std::wstring result;
  result.reserve(value.size());
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] == L'/' && i + 1 < value.size() && value[i + 1] == L'/') {
      result += L'\\';
      ++i;
    } else {
      result += value[i];
    }
  }
  return result;
}

} // namespace

PluginImplementation::PluginImplementation(IPluginLog* log, IPluginHost* pluginHost, uint32_t /*kind*/)
    : PluginBase(log),
      host(pluginHost),
      knownLocationCount(0),
      locationsConnected(false),
      browsingRoot(false),
      CopyACL(false),
      AclFlags{false, false, false, false},
      LongPathsEnabled(false) {
  std::wstring dataStorage;
  host->GetParameter(L"GetDataStorage", dataStorage);
  settingsDirectory = RewriteDoubleSlashes(dataStorage);
  browsingRoot = false;

  // A folder that cannot be created is not an error: the instance simply has
  // no network locations.
  std::error_code ec;
  if (!std::filesystem::is_directory(std::filesystem::status(settingsDirectory, ec))) {
    std::filesystem::create_directories(settingsDirectory, ec);
  }

  knownLocationCount = CountLocationFiles();
  if (knownLocationCount != 0) ConnectLocations();

  ConfigureAclCopying();

  VMLib::system::CRegistry registry(HKEY_LOCAL_MACHINE);
  if (registry.Open(L"SYSTEM\\CurrentControlSet\\Control\\FileSystem")) {
    uint32_t value = 0;
    if (registry.Read(L"LongPathsEnabled", value)) LongPathsEnabled = (value == 1);
    registry.Close();
  }
}

PluginImplementation::~PluginImplementation() {
  // Handles go first, in id order, so nothing stays open on a network drive
  // when its connection is cancelled. Saved attributes are not restored here.
  for (auto& [id, entry] : openFiles) entry.handle.reset();
  DisconnectLocations();
  browsingRoot = false;
  openFiles.clear();
  // The shadow-copy wrapper, declared before the settings, is destroyed after
  // them and releases its snapshots last.
}

void PluginImplementation::Reserved8() {}

uint32_t PluginImplementation::Reserved6() { return 0; }

uint32_t PluginImplementation::Reserved7() { return 0; }
