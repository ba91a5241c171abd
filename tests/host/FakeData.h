// An in-memory namespace behind the data interfaces, with the failures a real
// plug-in can produce, and a session that hands it out for both kinds.
#pragma once

#include <cstdint>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "host/PluginSession.h"
#include "plugin/IBackupData.h"
#include "plugin/IPluginCallbacks.h"

namespace hosttest {

class FakeData final : public IBackupDataWrite {
public:
  explicit FakeData(IPluginLog& log) : log_(log) {}

  // Contents and records the host sees.
  std::map<std::wstring, std::string> files;
  std::map<std::wstring, FileInfo> infos;
  std::map<std::wstring, FolderList> folders;

  // Failures to produce.
  size_t readFailsAt = std::numeric_limits<size_t>::max(); // Read fails once this many bytes were read
  size_t capacity = std::numeric_limits<size_t>::max();    // Write returns 7 beyond this many bytes
  uint32_t writeChunk = std::numeric_limits<uint32_t>::max(); // Write takes at most this much a call
  bool locked = false;                                        // Open for reading meets a locked file
  uint32_t changeStatus = StatusSuccess;                      // CreateFolder, RemoveFolder, MoveItem

  // Calls received, in order: "Open <path> <mode>", "Close", "RemoveFile <path>", ...
  std::vector<std::wstring> calls;

  uint32_t Open(const std::wstring& path, uint32_t mode, uint32_t& id) override;
  uint32_t Read(void* buffer, uint32_t& size, const uint32_t& id) override;
  uint32_t Seek(uint32_t& id, int64_t& offset) override;
  uint32_t Close(uint32_t& id) override;
  uint32_t QueryFileInfo(const std::wstring& path, FileInfo& info) override;
  uint32_t ListFolder(const std::wstring& path, FolderList& list) override;
  void Reserved8() override {}
  uint32_t Write(const void* buffer, uint32_t& size, const uint32_t& id) override;
  uint32_t ApplyFileInfo(const std::wstring& path, const FileInfo& info) override;
  uint32_t CreateFolder(const std::wstring& path) override;
  uint32_t RemoveFolder(const std::wstring& path) override;
  uint32_t RemoveFile(const std::wstring& path) override;
  uint32_t MoveItem(const std::wstring& source, const std::wstring& target) override;
  uint32_t Reserved6() override { return StatusSuccess; }
  uint32_t Reserved7() override { return StatusSuccess; }

private:
  uint32_t Change(const std::wstring& call);

  IPluginLog& log_;
  std::wstring openPath_;
  size_t position_ = 0;
};

class FakeSession final : public host::PluginSession {
public:
  explicit FakeSession(FakeData& data) : data_(data) {}

  host::PluginDescription description{L"Computer", L"1.0", 3};
  int released = 0;

  host::PluginDescription Describe() override { return description; }
  IBackupDataRead& Reader() override { return data_; }
  IBackupDataWrite& Writer() override { return data_; }
  void ReleaseInstances() override { ++released; }

private:
  FakeData& data_;
};

} // namespace hosttest
