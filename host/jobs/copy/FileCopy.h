// One file of a tree copy: its contents, then its attributes and times, and
// what became of it when that did not work.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "host/session/HostLog.h"
#include "contract/IBackupData.h"

namespace host {

enum class FailureKind {
  Other,
  Locked,  // another program held it and no shadow copy could be read
  Changed, // it changed while it was read
  Space,   // no room for it on DST's disk, or in the user's quota there
  Metadata, // copied, but its attributes, times or ACL were not applied
};

struct ItemFailure {
  std::wstring relative; // below the source; "" is the source folder itself
  std::wstring reason;   // with the plug-in's own words where it gave any
  FailureKind kind = FailureKind::Other;
};

struct FileCopy {
  std::wstring from;                // in the source
  std::wstring to;                  // in the target
  FileInfo info;                    // the source's listing entry
  std::optional<FileInfo> existing; // the target's entry, when it has the file
};

struct FileCopyResult {
  bool copied = false;   // the copy is in place (its attributes may still have failed)
  bool diskFull = false; // the target's disk, or the user's quota there, had no room for it
  bool quota = false;    // that was the quota
  uint64_t bytes = 0;
  bool fromShadowCopy = false;
  std::optional<ItemFailure> failure; // `relative` left empty; kind Metadata when `copied`
};

// Copies one file and then its attributes and times: a new file straight
// under its name, a replacement under a temporary name that is moved over
// the old copy only once it arrived whole. A file whose size or last write
// time changed while it was read is not kept. A write the plug-in fails as
// a full disk counts as one only when DST's free space confirms it (FAT32
// says so of a file that reaches 4 GiB). Never throws for the file's own
// failures; `onChunk` hears each chunk read.
FileCopyResult CopyOneFile(IBackupDataRead& source, IBackupDataWrite& target, const HostLog& log,
                           const FileCopy& file, std::vector<char>& buffer,
                           const std::function<void(uint32_t)>& onChunk);

// Applies `info`'s attributes and times to `path`. Nothing when that worked;
// else a Metadata failure of `relative`: a failed status, or a warning the
// plug-in logged on the way (an ACL it could not set is only a warning, and
// still leaves the item without its permissions).
std::optional<ItemFailure> ApplyMetadata(IBackupDataWrite& target, const HostLog& log, const std::wstring& path,
                                         const FileInfo& info, const std::wstring& relative);

} // namespace host
