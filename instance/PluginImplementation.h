// The object behind both data interfaces. One instance serves one host thread
// at a time; nothing here is locked.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "instance/PluginBase.h"
#include "contract/IBackupData.h"
#include "contract/IPluginCallbacks.h"
#include "vmlib/ScopedHandle.h"
#include "vss/VSSWrapper.h"

// At most this many files are open per instance; ids are 1..MaxOpenFiles.
constexpr uint32_t MaxOpenFiles = 3;

struct OpenFileEntry {
  VMLib::UniqueFile handle;
  std::wstring path; // the real path, for messages and restoring attributes
  std::optional<uint32_t> savedAttributes; // mode 1 over an existing file only
};

// Instance kinds passed by the exports; the constructor does not use them.
enum InstanceKind : uint32_t { InstanceRead = 1, InstanceWrite = 2 };

class PluginImplementation : public IBackupDataWrite, private PluginBase {
public:
  PluginImplementation(IPluginLog* log, IPluginHost* host, uint32_t kind);
  ~PluginImplementation() override;
  PluginImplementation(const PluginImplementation&) = delete;
  PluginImplementation& operator=(const PluginImplementation&) = delete;

  // IBackupDataRead
  uint32_t Open(const std::wstring& path, uint32_t mode, uint32_t& id) override;
  uint32_t Read(void* buffer, uint32_t& size, const uint32_t& id) override;
  uint32_t Seek(uint32_t& id, int64_t& offset) override;
  uint32_t Close(uint32_t& id) override;
  uint32_t QueryFileInfo(const std::wstring& path, FileInfo& info) override;
  uint32_t ListFolder(const std::wstring& path, FolderList& list) override;
  void Reserved8() override;
  uint32_t GetFreeSpace(const std::wstring& path, uint64_t& total, uint64_t& free) override;
  std::wstring SanitizePath(const std::wstring& path) override;

  // IBackupDataWrite
  uint32_t Write(const void* buffer, uint32_t& size, const uint32_t& id) override;
  uint32_t ApplyFileInfo(const std::wstring& path, const FileInfo& info) override;
  uint32_t CreateFolder(const std::wstring& path) override;
  uint32_t RemoveFolder(const std::wstring& path) override;
  uint32_t RemoveFile(const std::wstring& path) override;
  uint32_t MoveItem(const std::wstring& source, const std::wstring& target) override;
  uint32_t Reserved6() override;
  uint32_t Reserved7() override;

  // Virtual path to Windows path: "\\?\C:\..." for local drives, the share's
  // UNC path for persistent network drives. Reads the registry on every call.
  std::wstring MapPath(const std::wstring& path) const;
  // True when the virtual path may be used for a change; reports what is wrong.
  bool ValidatePath(const std::wstring& path);

  // Network locations kept as files below the data folder.
  uint64_t CountLocationFiles() const;
  void ConnectLocations();
  void DisconnectLocations();

  // Read-only views for tests and diagnostics.
  const std::wstring& SettingsDirectory() const { return settingsDirectory; }
  const std::vector<std::wstring>& ConnectedDrives() const { return connectedDrives; }
  bool LocationsConnected() const { return locationsConnected; }
  bool AclCopyingOn() const { return CopyACL; }
  const std::array<bool, 4>& AclCopyFlags() const { return AclFlags; }
  bool LongPathsOn() const { return LongPathsEnabled; }

private:
  void ConfigureAclCopying();
  uint32_t ListDirectory(const std::wstring& path, FolderList& list);
  bool ListRoot(FolderList& list);
  void FillFileInfo(const WIN32_FIND_DATAW& data, FileInfo& info);
  // Reports a descriptor that cannot be read and goes on without it.
  void ReadAclRights(const std::wstring& itemPath, FileInfo& info);
  bool EnsureFolder(const std::wstring& candidate);
  uint32_t RemoveTree(const std::wstring& path);
  uint32_t DeleteRealFile(const std::wstring& path);
  bool RemoveLinkedFolder(const std::wstring& path);

  std::map<uint32_t, OpenFileEntry> openFiles;
  VSSWrapper vss;
  IPluginHost* host;
  std::wstring settingsDirectory;
  std::vector<std::wstring> connectedDrives;
  uint64_t knownLocationCount;
  bool locationsConnected;
  bool browsingRoot;
  bool CopyACL;
  std::array<bool, 4> AclFlags; // DACL, owner, primary group, SACL
  bool LongPathsEnabled;
};
