#include "host/Transfer.h"

#include <vector>

#include "host/Format.h"
#include "host/LocalFile.h"

namespace host {

TransferResult CopyToLocal(IBackupDataRead& reader, const HostLog& log, const std::wstring& source,
                           const std::wstring& target, uint32_t bufferSize) {
  const uint64_t mark = log.MessageCount();
  const uint32_t noticesBefore = log.ShadowCopyNotices();
  uint32_t id = 0;
  const uint32_t opened = reader.Open(source, OpenRead, id);
  if (opened != StatusSuccess) throw PluginFailure(log, mark, L"cannot open '" + source + L"'", opened);

  TransferResult result;
  VMLib::UniqueFile file;
  try {
    file = CreateLocalFile(target, /*replace=*/true);
    std::vector<char> buffer(bufferSize);
    for (;;) {
      uint32_t size = bufferSize;
      const uint32_t status = reader.Read(buffer.data(), size, id);
      if (status != StatusSuccess && status != StatusEndOfData) {
        throw PluginFailure(log, mark, L"reading '" + source + L"' failed after " + FormatSize(result.bytes),
                            status);
      }
      WriteLocal(file, target, buffer.data(), size);
      result.bytes += size;
      // A plug-in that reports success with no bytes would keep this loop
      // spinning; treat it like the end of the data.
      if (status == StatusEndOfData || size == 0) break;
    }
  } catch (...) {
    reader.Close(id);
    if (file) {
      file.reset();
      ::DeleteFileW(target.c_str());
    }
    throw;
  }
  reader.Close(id);
  result.fromShadowCopy = log.ShadowCopyNotices() > noticesBefore;
  return result;
}

TransferResult CopyFromLocal(IBackupDataWrite& writer, const HostLog& log, const std::wstring& source,
                             const std::wstring& target, uint32_t bufferSize, bool keepAttributes) {
  const VMLib::UniqueFile file = OpenLocalForReading(source);
  const uint64_t mark = log.MessageCount();
  uint32_t id = 0;
  const uint32_t opened = writer.Open(target, keepAttributes ? OpenOverwriteKeepAttributes : OpenWrite, id);
  if (opened != StatusSuccess) throw PluginFailure(log, mark, L"cannot open '" + target + L"'", opened);

  TransferResult result;
  try {
    std::vector<char> buffer(bufferSize);
    for (uint32_t got; (got = ReadLocal(file, source, buffer.data(), bufferSize)) > 0;) {
      // Write may take less than it was given; hand it the rest again.
      for (uint32_t done = 0; done < got;) {
        uint32_t size = got - done;
        const uint32_t status = writer.Write(buffer.data() + done, size, id);
        done += size;
        result.bytes += size;
        if (status == StatusDiskFull) {
          throw HostError(L"the disk holding '" + target + L"' is full after " + FormatSize(result.bytes));
        }
        if (status != StatusSuccess || size == 0) {
          throw PluginFailure(log, mark, L"writing '" + target + L"' failed after " + FormatSize(result.bytes),
                              status);
        }
      }
    }
  } catch (...) {
    // Close first: the plug-in opened the target without sharing, so it
    // cannot be removed while the handle is open.
    writer.Close(id);
    writer.RemoveFile(target);
    throw;
  }
  writer.Close(id);
  return result;
}

} // namespace host
