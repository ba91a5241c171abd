// File contents between the plug-in's namespace and local files, moved in
// buffers of the size the person chose: files of either kind opened as byte
// sources and sinks, and the loop that moves bytes from one to the other.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "items/HeldFolders.h"
#include "host/session/HostLog.h"
#include "contract/IBackupData.h"
#include "vmlib/ScopedHandle.h"

namespace host {

// Another program holds the file, and no shadow copy could be read instead.
class LockedFileError : public HostError {
public:
  LockedFileError(std::wstring message, std::wstring reason);
  // Why the shadow copy could not help, in the plug-in's words.
  const std::wstring& reason() const noexcept { return reason_; }

private:
  std::wstring reason_;
};

// The target's disk has no room for the rest of the file, or (`quota`) the
// user has used up the share of it a disk quota allows.
class DiskFullError : public HostError {
public:
  DiskFullError(std::wstring message, bool quota) : HostError(std::move(message)), quota_(quota) {}
  bool quota() const noexcept { return quota_; }

private:
  bool quota_;
};

// Every failure throws HostError (or one of the kinds above) with the path
// and, for the plug-in's files, the plug-in's own reason.
class ByteSource {
public:
  // Up to `size` bytes into `buffer`; 0 at the end.
  virtual uint32_t ReadSome(void* buffer, uint32_t size) = 0;

protected:
  ~ByteSource() = default;
};

class ByteSink {
public:
  virtual void WriteAll(const void* data, uint32_t size) = 0;

protected:
  ~ByteSink() = default;
};

// A file of the namespace open under an id of the plug-in; closed with the
// object.
class OpenPluginFile {
public:
  OpenPluginFile(const OpenPluginFile&) = delete;
  OpenPluginFile& operator=(const OpenPluginFile&) = delete;

  // The plug-in found the file locked and opened it in a shadow copy.
  bool fromShadowCopy() const { return fromShadowCopy_; }
  void Close();

protected:
  // Throws LockedFileError when the plug-in found the file locked and could
  // not read a shadow copy, HostError for any other failure.
  OpenPluginFile(IBackupDataRead& data, const HostLog& log, std::wstring path, uint32_t mode);
  ~OpenPluginFile();

  IBackupDataRead& data_;
  const HostLog& log_;
  const std::wstring path_;
  uint32_t id_ = 0;
  uint64_t done_ = 0; // bytes read or written so far
  bool fromShadowCopy_ = false;
};

class PluginFileReader final : public ByteSource, public OpenPluginFile {
public:
  PluginFileReader(IBackupDataRead& data, const HostLog& log, std::wstring path);
  uint32_t ReadSome(void* buffer, uint32_t size) override;

private:
  bool ended_ = false;
};

// A file written into the namespace. A new file is written under its own
// name (`mode`: OpenWrite, or OpenOverwriteKeepAttributes). A file that
// replaces `existing` is written under TemporaryPathFor(target) and moved
// over the target by Commit only once it is whole, so a failed or killed
// copy never costs the good one. Until Commit, destroying the writer closes
// and removes what it wrote, so a partial file is never left to be taken
// for a whole one.
class PluginFileWriter final : public ByteSink, public OpenPluginFile {
public:
  PluginFileWriter(IBackupDataWrite& data, const HostLog& log, std::wstring target, uint32_t mode,
                   const FileInfo* existing = nullptr);
  ~PluginFileWriter();
  // Write may take less than it was given; the rest is handed over again.
  // A full disk (also out of inodes) or a used-up quota throws DiskFullError.
  void WriteAll(const void* data, uint32_t size) override;
  // Closes the file and puts a replacement in place. Throws HostError when
  // the move fails; the old file then stays as it was.
  void Commit();

private:
  IBackupDataWrite& writer_;
  std::wstring target_;
  std::optional<FileInfo> existing_;
  bool committed_ = false;
};

// Where a file that replaces `target` is written first: beside it, so that
// putting it in place is a rename within one folder.
std::wstring TemporaryPathFor(const std::wstring& target);
// A name TemporaryPathFor gives: left behind by a run that did not finish.
bool IsTemporaryName(const std::wstring& name);

enum class Shortage { None, Disk, Quota };
// What the plug-in's last problem since `mark` says of the room left: the
// disk is out of space (ERROR_DISK_FULL, ERROR_HANDLE_DISK_FULL) or out of
// inodes, which Windows reports the same way; or the user's disk quota is
// used up (ERROR_DISK_QUOTA_EXCEEDED).
Shortage ShortageSince(const HostLog& log, uint64_t mark);
// "the disk holding 'PATH' is full", or that the user's quota there is used up.
std::wstring NoRoomFor(const std::wstring& path, Shortage shortage);

class LocalFileReader final : public ByteSource {
public:
  explicit LocalFileReader(std::wstring path);
  uint32_t ReadSome(void* buffer, uint32_t size) override;

private:
  std::wstring path_;
  VMLib::UniqueFile file_;
};

// A local file replaced only by a whole copy: written under
// TemporaryPathFor(path), created new and confirmed through its handle, and
// moved over `path` through that handle by Commit. Until then, destroying
// the writer removes the temporary file, so a failed copy leaves `path` as
// it was, and a link at `path` is replaced, never written through.
class LocalFileWriter final : public ByteSink {
public:
  explicit LocalFileWriter(std::wstring path);
  ~LocalFileWriter();
  LocalFileWriter(const LocalFileWriter&) = delete;
  LocalFileWriter& operator=(const LocalFileWriter&) = delete;
  void WriteAll(const void* data, uint32_t size) override;
  void Commit();

private:
  std::wstring path_;
  std::wstring temporary_;
  // The folder of `path`, held, and the temporary file made in it.
  items::HeldFolders folders_;
  items::HeldFolder* folder_ = nullptr;
  VMLib::UniqueFile file_;
  bool committed_ = false;
};

// A file that did not stay as it was listed while it was read.
class ChangedWhileRead : public HostError {
public:
  using HostError::HostError;
};

// Moves everything `from` has into `to` through `buffer` (its size is the
// chunk size); `onChunk` hears the size of each chunk moved. Returns the bytes
// moved. Once more than kGrowthMargin bytes past `listedSize` were moved it
// stops and throws ChangedWhileRead: a file still being written fails as
// changed either way, and one that never ends (a device, a link to one)
// would otherwise be read until the target's disk is full.
constexpr uint64_t kGrowthMargin = 1u << 20;
uint64_t Pump(ByteSource& from, ByteSink& to, std::vector<char>& buffer,
              const std::function<void(uint32_t)>& onChunk = nullptr, uint64_t listedSize = UINT64_MAX - kGrowthMargin);

struct TransferResult {
  uint64_t bytes = 0;
  bool fromShadowCopy = false; // the plug-in read a locked file from a shadow copy
};

// Reads `source` (virtual) into the local file `target`, replacing it; a
// read that passes the size `source` is listed with by kGrowthMargin stops
// there and fails. On failure throws HostError and leaves `target` as it was.
TransferResult CopyToLocal(IBackupDataRead& reader, const HostLog& log, const std::wstring& source,
                           const std::wstring& target, uint32_t bufferSize);

// Writes the local file `source` to `target` (virtual). An existing target is
// replaced only by a whole copy. On failure throws HostError and leaves the
// target as it was.
TransferResult CopyFromLocal(IBackupDataWrite& writer, const HostLog& log, const std::wstring& source,
                             const std::wstring& target, uint32_t bufferSize, bool keepAttributes);

} // namespace host
