// The object behind both data interfaces. One instance serves one host thread
// at a time; nothing here is locked. Each job lives in a part of its own; this
// class holds them, decides the order of their calls, and keeps every
// exception inside: results reach the host as status values only.
#pragma once

#include <cstdint>
#include <string>

#include "contract/IBackupData.h"
#include "contract/IPluginCallbacks.h"
#include "instance/LocationStore.h"
#include "io/OpenFileTable.h"
#include "items/HeldFolders.h"
#include "logging/PluginBase.h"
#include "modify/TreeRemoval.h"
#include "namespace/FolderListing.h"
#include "vss/VSSWrapper.h"

// Instance kinds passed by the exports; the constructor does not use them.
enum InstanceKind : uint32_t { InstanceRead = 1, InstanceWrite = 2 };

class PluginImplementation : public IBackupDataWrite, private PluginBase {
public:
  // Exceptions from the host's callbacks or an exhausted heap leave the
  // constructor, and the export, towards the host.
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

  // Read-only views for tests and diagnostics.
  const LocationStore& Locations() const { return locations; }
  const AclSettings& Acl() const { return acl; }
  bool LongPathsOn() const { return LongPathsEnabled; }

private:
  // Runs one data operation; whatever it throws becomes status 1 and one
  // Error message naming the operation.
  template <typename Operation>
  uint32_t Guarded(const wchar_t* operationName, Operation&& operation) noexcept;
  void ReportEscapedException(const wchar_t* operationName, const char* what) noexcept;

  void ListRoot(FolderList& list);

  // Declared first, destroyed last: snapshots are released after every
  // handle that may read from them is closed.
  VSSWrapper vss;
  // Folders the instance reached, held open so that every later act goes
  // through them; declared before everything that acts through them.
  items::HeldFolders folders;
  OpenFileTable openFiles;
  IPluginHost* host;
  LocationStore locations;
  bool browsingRoot;
  AclSettings acl;
  bool LongPathsEnabled;
  FolderListing listing;
  TreeRemoval removal;
};
