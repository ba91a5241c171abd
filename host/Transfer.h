// File contents between the plug-in's namespace and local files, moved in
// buffers of the size the person chose.
#pragma once

#include <cstdint>
#include <string>

#include "host/HostLog.h"
#include "plugin/IBackupData.h"

namespace host {

struct TransferResult {
  uint64_t bytes = 0;
  bool fromShadowCopy = false; // the plug-in read a locked file from a shadow copy
};

// Reads `source` (virtual) into the local file `target`, replacing it. On
// failure throws HostError and leaves no `target` behind.
TransferResult CopyToLocal(IBackupDataRead& reader, const HostLog& log, const std::wstring& source,
                           const std::wstring& target, uint32_t bufferSize);

// Writes the local file `source` to `target` (virtual). On failure throws
// HostError after closing and removing the partial target.
TransferResult CopyFromLocal(IBackupDataWrite& writer, const HostLog& log, const std::wstring& source,
                             const std::wstring& target, uint32_t bufferSize, bool keepAttributes);

} // namespace host
