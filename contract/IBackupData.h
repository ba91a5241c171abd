// The data interfaces an instance is handed out through. Slot order, argument
// types and record layouts are a binary contract with the host: do not reorder.
// Paths are virtual paths: "" is the root, "C$" a drive, "C$\dir\file" below it.
#pragma once

#include <cstdint>
#include <string>

#include "contract/PluginTypes.h"

// <windows.h> defines a 16-bit era macro of this name; hosts that include it
// first would otherwise get their calls rewritten.
#ifdef GetFreeSpace
#undef GetFreeSpace
#endif

class IBackupDataRead {
public:
  virtual ~IBackupDataRead() {}
  // Destroys the object; the pointer must not be used afterwards.
  virtual void Release() { delete this; }

  // Opens a file in `mode` (OpenMode) and writes its id (1..3) to `id`.
  // A path that fails validation leaves `id` untouched; any later failure sets 0.
  virtual uint32_t Open(const std::wstring& path, uint32_t mode, uint32_t& id) = 0;
  // `size`: in, bytes wanted; out, bytes read. Status 5 at end of data.
  virtual uint32_t Read(void* buffer, uint32_t& size, const uint32_t& id) = 0;
  // `offset` is absolute, from the start of the file.
  virtual uint32_t Seek(uint32_t& id, int64_t& offset) = 0;
  // Always 0, also for an id that is not open.
  virtual uint32_t Close(uint32_t& id) = 0;
  // Fills `info` without resetting it first; 3 when the item does not exist.
  virtual uint32_t QueryFileInfo(const std::wstring& path, FileInfo& info) = 0;
  // Appends folders, then other items, after what `list` holds; 3 when the
  // path is not a folder.
  virtual uint32_t ListFolder(const std::wstring& path, FolderList& list) = 0;
  virtual void Reserved8() = 0;
  // Size and free space of the drive holding `path`; outputs untouched on failure.
  virtual uint32_t GetFreeSpace(const std::wstring& path, uint64_t& total, uint64_t& free) {
    (void)path; (void)total; (void)free;
    return StatusNotSupported;
  }
  // `path` with characters Windows forbids in names replaced.
  virtual std::wstring SanitizePath(const std::wstring& path) { return path; }
};

// Its own table starts with the eight operations below; the destructor and the
// read operations are reached through the virtual IBackupDataRead base.
class IBackupDataWrite : public virtual IBackupDataRead {
public:
  // `size`: in, bytes to write; out, bytes written (also on failure).
  // Status 7 when the disk is full.
  virtual uint32_t Write(const void* buffer, uint32_t& size, const uint32_t& id) = 0;
  // Writes ACL, attributes and the times whose validFields bit is set (the
  // others become the time of the call).
  virtual uint32_t ApplyFileInfo(const std::wstring& path, const FileInfo& info) = 0;
  // Creates every missing level; 0 when the folder exists afterwards.
  virtual uint32_t CreateFolder(const std::wstring& path) = 0;
  // Removes the folder and everything below it; what cannot be removed stays.
  virtual uint32_t RemoveFolder(const std::wstring& path) = 0;
  // A file that is already gone counts as removed.
  virtual uint32_t RemoveFile(const std::wstring& path) = 0;
  // Replaces an existing target file; may copy across volumes.
  virtual uint32_t MoveItem(const std::wstring& source, const std::wstring& target) = 0;
  virtual uint32_t Reserved6() = 0;
  virtual uint32_t Reserved7() = 0;
};
