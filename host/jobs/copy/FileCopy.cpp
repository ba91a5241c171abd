#include "host/jobs/copy/FileCopy.h"

#include "host/jobs/Transfer.h"
#include "host/jobs/TreeWalk.h"
#include "host/session/Format.h"
#include "host/session/LocalFile.h"
#include "host/session/Text.h"

namespace host {

namespace {

// Throws ChangedWhileRead when the source no longer has the size and last
// write time it was listed with, or gave another number of bytes.
void RequireUnchanged(IBackupDataRead& source, const FileCopy& file, uint64_t bytes) {
  FileInfo now;
  const bool queried = source.QueryFileInfo(file.from, now) == StatusSuccess;
  const bool timeChanged = queried && (now.validFields & file.info.validFields & FieldLastWriteTime) &&
                           now.lastWriteTime != file.info.lastWriteTime;
  const uint64_t size = queried ? now.size : bytes;
  if (bytes == file.info.size && size == file.info.size && !timeChanged) return;
  std::wstring what = L"it changed while it was read (listed with " + std::to_wstring(file.info.size) +
                      L" bytes, " + std::to_wstring(bytes) + L" read";
  if (size != bytes) what += L", now " + std::to_wstring(size);
  if (timeChanged) what += L", written again since";
  throw ChangedWhileRead(what + L")");
}

// The writer of a copy. A new file is created in mode 2 alone: mode 1 first
// looks the name up for its attributes, and Wine looks up a name that is not
// there by reading the whole folder, so in a large folder that would double
// the cost of every file. One that appeared since the listing, read-only
// perhaps, refuses mode 2 and is still replaced in mode 1. The source's
// attributes follow once the copy is whole.
PluginFileWriter NewCopy(IBackupDataWrite& target, const HostLog& log, const FileCopy& file) {
  if (file.existing) return PluginFileWriter(target, log, file.to, OpenWrite, &*file.existing);
  try {
    return PluginFileWriter(target, log, file.to, OpenWrite);
  } catch (const DiskFullError&) {
    throw;
  } catch (const HostError&) {
    return PluginFileWriter(target, log, file.to, OpenOverwriteKeepAttributes);
  }
}

} // namespace

std::optional<ItemFailure> ApplyMetadata(IBackupDataWrite& target, const HostLog& log, const std::wstring& path,
                                         const FileInfo& info, const std::wstring& relative) {
  const uint64_t mark = log.MessageCount();
  const uint32_t status = target.ApplyFileInfo(path, info);
  const std::wstring problem =
      status == StatusSuccess
          ? log.LastProblemSince(mark)
          : PluginFailure(log, mark, L"cannot set the attributes and times of " + Quoted(path), status).message();
  if (problem.empty()) return std::nullopt;
  return ItemFailure{relative, L"copied, metadata not applied: " + problem, FailureKind::Metadata};
}

FileCopyResult CopyOneFile(IBackupDataRead& source, IBackupDataWrite& target, const HostLog& log,
                           const FileCopy& file, std::vector<char>& buffer,
                           const std::function<void(uint32_t)>& onChunk) {
  FileCopyResult result;
  const std::wstring unusable = UnusableName(LeafName(file.from));
  if (!unusable.empty()) {
    result.failure = ItemFailure{L"", unusable};
    return result;
  }
  try {
    PluginFileReader from(source, log, file.from);
    PluginFileWriter to = NewCopy(target, log, file);
    const uint64_t bytes = Pump(from, to, buffer, onChunk, file.info.size);
    result.fromShadowCopy = from.fromShadowCopy();
    from.Close();
    RequireUnchanged(source, file, bytes);
    to.Commit();
    result.copied = true;
    result.bytes = bytes;
  } catch (const LockedFileError& failure) {
    result.failure = ItemFailure{L"", failure.reason(), FailureKind::Locked};
    return result;
  } catch (const ChangedWhileRead& failure) {
    result.failure = ItemFailure{L"", failure.message() + L"; the copy was not kept, and the next run copies it again",
                                 FailureKind::Changed};
    return result;
  } catch (const DiskFullError& failure) {
    // Taken now that the partial copy is gone. FAT32 refuses a file that
    // reaches 4 GiB as a full disk (ERROR_DISK_FULL), with room to spare.
    // Asked of the folder, not of the drive: a full volume may be mounted
    // in a folder of one that has room.
    const std::optional<uint64_t> free =
        failure.quota() ? std::nullopt : FreeSpaceOf(TrimmedPath(WithLeaf(file.to, L"")));
    const bool room = free && *free >= file.info.size;
    result.diskFull = !room;
    result.quota = failure.quota();
    // With several workers a small file can meet a disk that others' copies
    // fill for a moment: that one is not counted either.
    const std::wstring reason =
        room ? L"DST refused it as if its disk were full, yet its folder's volume has " + FormatSize(*free) +
                   L" free, room for the whole file (not counted as a full disk): " + failure.message()
             : failure.message();
    result.failure = ItemFailure{L"", reason + (file.existing ? L"; the old copy is kept" : L""),
                                 room ? FailureKind::Other : FailureKind::Space};
    return result;
  } catch (const HostError& failure) {
    result.failure = ItemFailure{L"", failure.message()};
    return result;
  }
  result.failure = ApplyMetadata(target, log, file.to, file.info, L"");
  return result;
}

} // namespace host
