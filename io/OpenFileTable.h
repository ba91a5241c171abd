// The instance's open files: at most three at a time, known to the host by
// ids 1 to 3. Handles belong to the table from Open to Close or teardown.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "items/HeldFolders.h"
#include "logging/PluginBase.h"
#include "vmlib/ScopedHandle.h"
#include "vss/VSSWrapper.h"

// At most this many files are open per instance; ids are 1..MaxOpenFiles.
constexpr uint32_t MaxOpenFiles = 3;

struct OpenFileEntry {
  VMLib::UniqueFile handle;
  std::wstring path; // the real path, for messages and restoring attributes
  std::optional<uint32_t> savedAttributes; // mode 1 over an existing file only
  items::ItemId made; // written: the file made or confirmed at `path`
};

class OpenFileTable {
public:
  // `vss` serves files that another process holds locked; it and `folders`
  // must outlive the table.
  OpenFileTable(PluginBase& log, VSSWrapper& vss, items::HeldFolders& folders)
      : log_(log), vss_(vss), folders_(folders) {}

  // Opens the Windows path `realPath` under the lowest free id, written to
  // `id` (0 when all three are taken or the open fails). A file locked by
  // another process is read from a shadow copy of its volume.
  uint32_t Open(const std::wstring& realPath, uint32_t mode, uint32_t& id);
  uint32_t Read(void* buffer, uint32_t& size, uint32_t id);
  uint32_t Write(const void* buffer, uint32_t& size, uint32_t id);
  uint32_t Seek(uint32_t id, int64_t offset);
  // Unknown ids are not an error: closing twice is harmless.
  uint32_t Close(uint32_t id);
  // Teardown: every handle closed in id order, saved attributes left as they are.
  void CloseAll();
  // The file written at `realPath`, when it is the last one this table
  // wrote and closed, for the metadata a host applies next.
  const items::WrittenFile* LastWritten(const std::wstring& realPath) const;

private:
  // Opens for reading, through the held folder; reports its failures.
  VMLib::UniqueFile OpenForReading(const std::wstring& realPath);
  // Creates the file, or empties the one the name stands for through the
  // handle that checked it; never writes through a link, into a file with
  // other names, or into another file that answers to the name. Saves the
  // attributes of a file replaced in mode 1. Reports its failures.
  VMLib::UniqueFile OpenForWriting(const std::wstring& realPath, uint32_t mode,
                                   std::optional<uint32_t>& savedAttributes, items::ItemId& made);
  // Empties the checked existing file `check` for writing; its attributes
  // are saved in mode 1.
  VMLib::UniqueFile Replace(const std::wstring& realPath, uint32_t mode, HANDLE check, const items::ItemFacts& facts,
                            std::optional<uint32_t>& savedAttributes);
  // The entry of `id`, or null after reporting "Attempting to <verb> an unopened file (id)."
  OpenFileEntry* Find(uint32_t id, const wchar_t* verb);

  PluginBase& log_;
  VSSWrapper& vss_;
  items::HeldFolders& folders_;
  std::map<uint32_t, OpenFileEntry> entries_;
  std::wstring lastWrittenPath_;
  items::WrittenFile lastWritten_;
};
