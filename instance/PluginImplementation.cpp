#include "instance/PluginImplementation.h"

#include <exception>
#include <filesystem>
#include <system_error>

#include "modify/DirectoryOperations.h"
#include "modify/FileMetadata.h"
#include "modify/PathValidation.h"
#include "namespace/PathMapping.h"
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

std::wstring ReadDataStorage(IPluginHost* host) {
  std::wstring dataStorage;
  host->GetParameter(L"GetDataStorage", dataStorage);
  return RewriteDoubleSlashes(dataStorage);
}

// A network drive maps to a plain UNC path, which Windows normalises: it
// drops a trailing period or blank of a component ("N$\x\photos." would
// reach "photos") and resolves "." and "..". Local paths carry the "\\?\"
// prefix, which keeps every name as it is spelled.
bool IsUnprefixed(const std::wstring& realPath) {
  return realPath.compare(0, 4, L"\\\\?\\") != 0;
}

bool HasDotComponent(const std::wstring& path) {
  for (const std::wstring& component : VMLib::strings::Split(path, L"\\")) {
    if (component == L"." || component == L"..") return true;
  }
  return false;
}

} // namespace

PluginImplementation::PluginImplementation(IPluginLog* log, IPluginHost* pluginHost, uint32_t /*kind*/)
    : PluginBase(log),
      openFiles(*this, vss, folders),
      host(pluginHost),
      locations(pluginHost, *this, ReadDataStorage(pluginHost)),
      browsingRoot(false),
      LongPathsEnabled(false),
      listing(*this, acl, folders),
      removal(*this, folders) {
  // A folder that cannot be created is not an error: the instance simply has
  // no network locations.
  std::error_code ec;
  const std::filesystem::path settingsDirectory(locations.SettingsDirectory());
  if (!std::filesystem::is_directory(std::filesystem::status(settingsDirectory, ec))) {
    std::filesystem::create_directories(settingsDirectory, ec);
  }

  locations.SetKnownLocationCount(locations.CountLocationFiles());
  if (locations.KnownLocationCount() != 0) locations.ConnectLocations();

  acl = ConfigureAclCopying(host, *this);

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
  openFiles.CloseAll();
  folders.Clear();
  locations.DisconnectLocations();
  browsingRoot = false;
}

void PluginImplementation::ReportEscapedException(const wchar_t* operationName, const char* what) noexcept {
  try {
    std::wstring reason = L"an unexpected error";
    if (what != nullptr && *what != '\0') {
      const int length = ::MultiByteToWideChar(CP_ACP, 0, what, -1, nullptr, 0);
      if (length > 1) {
        reason.assign(static_cast<size_t>(length), L'\0');
        ::MultiByteToWideChar(CP_ACP, 0, what, -1, &reason[0], length);
        reason.resize(static_cast<size_t>(length - 1));
      }
    }
    LogMessage(Error, L"%s failed: %s", operationName, reason.c_str());
  } catch (...) {
    // Out of memory while reporting: the status still tells the host.
  }
}

template <typename Operation>
uint32_t PluginImplementation::Guarded(const wchar_t* operationName, Operation&& operation) noexcept {
  try {
    return operation();
  } catch (const std::exception& exception) {
    ReportEscapedException(operationName, exception.what());
  } catch (...) {
    ReportEscapedException(operationName, nullptr);
  }
  return StatusFailure;
}

uint32_t PluginImplementation::Open(const std::wstring& path, uint32_t mode, uint32_t& id) {
  return Guarded(L"Open", [&] {
    if (!ValidatePath(*this, path, LongPathsEnabled)) return static_cast<uint32_t>(StatusFailure);
    return openFiles.Open(paths::MapPath(path), mode, id);
  });
}

uint32_t PluginImplementation::Read(void* buffer, uint32_t& size, const uint32_t& id) {
  return Guarded(L"Read", [&] { return openFiles.Read(buffer, size, id); });
}

uint32_t PluginImplementation::Write(const void* buffer, uint32_t& size, const uint32_t& id) {
  return Guarded(L"Write", [&] { return openFiles.Write(buffer, size, id); });
}

uint32_t PluginImplementation::Seek(uint32_t& id, int64_t& offset) {
  return Guarded(L"Seek", [&] { return openFiles.Seek(id, offset); });
}

uint32_t PluginImplementation::Close(uint32_t& id) {
  return Guarded(L"Close", [&] { return openFiles.Close(id); });
}

uint32_t PluginImplementation::QueryFileInfo(const std::wstring& path, FileInfo& info) {
  return Guarded(L"QueryFileInfo", [&] { return listing.QueryFileInfo(path, paths::MapPath(path), info); });
}

uint32_t PluginImplementation::ListFolder(const std::wstring& path, FolderList& list) {
  return Guarded(L"ListFolder", [&] {
    if (path.empty()) {
      ListRoot(list);
      browsingRoot = true;
      return static_cast<uint32_t>(StatusSuccess);
    }
    const uint32_t status = listing.ListDirectory(paths::MapPath(path), list, [this] { locations.Reconnect(); });
    if (status == StatusSuccess && locations.LocationsConnected() && browsingRoot) locations.DisconnectLocations();
    return status;
  });
}

void PluginImplementation::ListRoot(FolderList& list) {
  // The host gets whatever was appended before a failure; the root listing
  // itself never fails towards it.
  try {
    if (locations.LocationsConnected() || locations.KnownLocationCount() == 0) {
      const uint64_t count = locations.CountLocationFiles();
      if (count > locations.KnownLocationCount()) {
        locations.SetKnownLocationCount(count);
        locations.ConnectLocations();
      }
    } else {
      locations.ConnectLocations();
    }
    AppendDriveEntries(list);
    if (locations.LocationsConnected()) locations.DisconnectLocations();
  } catch (...) {
  }
}

uint32_t PluginImplementation::GetFreeSpace(const std::wstring& path, uint64_t& total, uint64_t& free) {
  return Guarded(L"GetFreeSpace", [&] { return QueryFreeSpace(path, total, free); });
}

std::wstring PluginImplementation::SanitizePath(const std::wstring& path) {
  try {
    return paths::SanitizePath(path);
  } catch (const std::exception& exception) {
    ReportEscapedException(L"SanitizePath", exception.what());
  }
  return std::wstring();
}

uint32_t PluginImplementation::ApplyFileInfo(const std::wstring& path, const FileInfo& info) {
  return Guarded(L"ApplyFileInfo", [&] {
    if (!ValidatePath(*this, path, LongPathsEnabled)) return static_cast<uint32_t>(StatusFailure);
    const std::wstring realPath = paths::MapPath(path);
    return ApplyRealFileInfo(*this, acl, folders, realPath, info, openFiles.LastWritten(realPath));
  });
}

uint32_t PluginImplementation::CreateFolder(const std::wstring& path) {
  return Guarded(L"CreateFolder", [&] {
    if (!ValidatePath(*this, path, LongPathsEnabled)) return static_cast<uint32_t>(StatusFailure);
    return CreateFolderTree(*this, folders, paths::MapPath(path), [this] { locations.Reconnect(); });
  });
}

uint32_t PluginImplementation::RemoveFolder(const std::wstring& path) {
  return Guarded(L"RemoveFolder", [&] {
    // A shorter path would reach Windows unchanged and resolve against the
    // current drive or folder: never remove that.
    if (path.size() < 2) return static_cast<uint32_t>(StatusFailure);
    const std::wstring realPath = paths::MapPath(path);
    if (paths::IsDriveRoot(path)) {
      LogMessage(Error, L"Computer: cannot delete directory '%s': a whole drive is never deleted", realPath.c_str());
      return static_cast<uint32_t>(StatusFailure);
    }
    // A network drive maps to a plain UNC path, where Windows resolves "."
    // and "..": "N$\\x\\.." would remove the share's whole content.
    if (HasDotComponent(path)) {
      LogMessage(Error, L"Computer: cannot delete directory '%s': the path has a \".\" or \"..\" component",
                 realPath.c_str());
      return static_cast<uint32_t>(StatusFailure);
    }
    if (IsUnprefixed(realPath) && !ValidatePath(*this, path, LongPathsEnabled)) {
      return static_cast<uint32_t>(StatusFailure);
    }
    return removal.RemoveTree(realPath);
  });
}

uint32_t PluginImplementation::RemoveFile(const std::wstring& path) {
  return Guarded(L"RemoveFile", [&] {
    if (path.size() < 2) return static_cast<uint32_t>(StatusFailure);
    const std::wstring realPath = paths::MapPath(path);
    if (IsUnprefixed(realPath) && !ValidatePath(*this, path, LongPathsEnabled)) {
      return static_cast<uint32_t>(StatusFailure);
    }
    return removal.DeleteRealFile(realPath);
  });
}

uint32_t PluginImplementation::MoveItem(const std::wstring& source, const std::wstring& target) {
  return Guarded(L"MoveItem", [&] {
    if (!ValidatePath(*this, source, LongPathsEnabled) || !ValidatePath(*this, target, LongPathsEnabled)) {
      return static_cast<uint32_t>(StatusFailure);
    }
    const std::wstring realSource = paths::MapPath(source);
    return MoveRealItem(*this, folders, realSource, paths::MapPath(target));
  });
}

void PluginImplementation::Reserved8() {}

uint32_t PluginImplementation::Reserved6() { return 0; }

uint32_t PluginImplementation::Reserved7() { return 0; }
