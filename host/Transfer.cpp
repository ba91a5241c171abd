#include "host/Transfer.h"

#include <utility>

#include "contract/LogTexts.h"
#include "host/Format.h"
#include "host/LocalFile.h"
#include "host/Text.h"

namespace host {

LockedFileError::LockedFileError(std::wstring message, std::wstring reason)
    : HostError(std::move(message)), reason_(std::move(reason)) {}

OpenPluginFile::OpenPluginFile(IBackupDataRead& data, const HostLog& log, std::wstring path, uint32_t mode)
    : data_(data), log_(log), path_(std::move(path)) {
  const uint64_t mark = log.MessageCount();
  const uint32_t noticesBefore = log.ShadowCopyNotices();
  const uint32_t status = data_.Open(path_, mode, id_);
  const bool locked = log.ShadowCopyNotices() > noticesBefore;
  if (status != StatusSuccess) {
    id_ = 0;
    if (locked) {
      const std::wstring reason = LogText::ShadowCopyFailureReason(log.LastProblemSince(mark));
      throw LockedFileError(
          Quoted(path_) + L" is locked by another program and could not be read from a shadow copy: " + reason, reason);
    }
    throw PluginFailure(log, mark, L"cannot open " + Quoted(path_), status);
  }
  fromShadowCopy_ = locked;
}

OpenPluginFile::~OpenPluginFile() {
  Close();
}

void OpenPluginFile::Close() {
  if (id_ != 0) data_.Close(id_);
  id_ = 0;
}

PluginFileReader::PluginFileReader(IBackupDataRead& data, const HostLog& log, std::wstring path)
    : OpenPluginFile(data, log, std::move(path), OpenRead) {}

uint32_t PluginFileReader::ReadSome(void* buffer, uint32_t size) {
  if (ended_) return 0;
  const uint64_t mark = log_.MessageCount();
  uint32_t got = size;
  const uint32_t status = data_.Read(buffer, got, id_);
  if (status != StatusSuccess && status != StatusEndOfData) {
    throw PluginFailure(log_, mark, L"reading " + Quoted(path_) + L" failed after " + FormatSize(done_), status);
  }
  // A plug-in that reports success with no bytes would keep a copy loop
  // spinning; treat it like the end of the data.
  ended_ = status == StatusEndOfData || got == 0;
  done_ += got;
  return got;
}

PluginFileWriter::PluginFileWriter(IBackupDataWrite& data, const HostLog& log, std::wstring path, uint32_t mode)
    : OpenPluginFile(data, log, std::move(path), mode), writer_(data) {}

void PluginFileWriter::Discard() {
  // Closed first: the plug-in opened the file without sharing, so it cannot
  // be removed while the handle is open.
  Close();
  writer_.RemoveFile(path_);
}

void PluginFileWriter::WriteAll(const void* data, uint32_t size) {
  const char* bytes = static_cast<const char*>(data);
  for (uint32_t done = 0; done < size;) {
    const uint64_t mark = log_.MessageCount();
    const uint32_t wanted = size - done;
    uint32_t taken = wanted;
    const uint32_t status = writer_.Write(bytes + done, taken, id_);
    done += taken;
    done_ += taken;
    if (status == StatusDiskFull) {
      throw DiskFullError(L"the disk holding " + Quoted(path_) + L" is full after " + FormatSize(done_));
    }
    if (status == StatusSuccess && taken > 0) continue;
    // Windows reports a full disk on a write as ERROR_DISK_FULL, which the
    // plug-in returns as a plain failure; the free space tells it apart.
    uint64_t total = 0;
    uint64_t free = 0;
    if (status != StatusSuccess && writer_.GetFreeSpace(path_, total, free) == StatusSuccess &&
        free < wanted - taken) {
      const HostError failure = PluginFailure(log_, mark, L"", status);
      throw DiskFullError(L"the disk holding " + Quoted(path_) + L" is full after " + FormatSize(done_) +
                          failure.message());
    }
    throw PluginFailure(log_, mark, L"writing " + Quoted(path_) + L" failed after " + FormatSize(done_), status);
  }
}

LocalFileReader::LocalFileReader(std::wstring path) : path_(std::move(path)), file_(OpenLocalForReading(path_)) {}

uint32_t LocalFileReader::ReadSome(void* buffer, uint32_t size) {
  return ReadLocal(file_, path_, buffer, size);
}

LocalFileWriter::LocalFileWriter(std::wstring path)
    : path_(std::move(path)), file_(CreateLocalFile(path_, /*replace=*/true)) {}

void LocalFileWriter::WriteAll(const void* data, uint32_t size) {
  WriteLocal(file_, path_, data, size);
}

void LocalFileWriter::Discard() {
  file_.reset();
  ::DeleteFileW(path_.c_str());
}

uint64_t Pump(ByteSource& from, ByteSink& to, std::vector<char>& buffer,
              const std::function<void(uint32_t)>& onChunk) {
  uint64_t moved = 0;
  const uint32_t chunk = static_cast<uint32_t>(buffer.size());
  for (uint32_t got; (got = from.ReadSome(buffer.data(), chunk)) > 0;) {
    to.WriteAll(buffer.data(), got);
    moved += got;
    if (onChunk) onChunk(got);
  }
  return moved;
}

TransferResult CopyToLocal(IBackupDataRead& reader, const HostLog& log, const std::wstring& source,
                           const std::wstring& target, uint32_t bufferSize) {
  PluginFileReader from(reader, log, source);
  LocalFileWriter to(target);
  std::vector<char> buffer(bufferSize);
  TransferResult result;
  try {
    result.bytes = Pump(from, to, buffer);
  } catch (...) {
    to.Discard();
    throw;
  }
  result.fromShadowCopy = from.fromShadowCopy();
  return result;
}

TransferResult CopyFromLocal(IBackupDataWrite& writer, const HostLog& log, const std::wstring& source,
                             const std::wstring& target, uint32_t bufferSize, bool keepAttributes) {
  LocalFileReader from(source);
  PluginFileWriter to(writer, log, target, keepAttributes ? OpenOverwriteKeepAttributes : OpenWrite);
  std::vector<char> buffer(bufferSize);
  TransferResult result;
  try {
    result.bytes = Pump(from, to, buffer);
  } catch (...) {
    to.Discard();
    throw;
  }
  return result;
}

} // namespace host
