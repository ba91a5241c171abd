#include "host/jobs/Transfer.h"

#include <cstdio>
#include <cwctype>
#include <utility>

#include "contract/LogTexts.h"
#include "host/session/Format.h"
#include "host/session/LocalFile.h"
#include "host/session/Text.h"

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
    const Shortage shortage = mode != OpenRead ? ShortageSince(log, mark) : Shortage::None;
    if (shortage != Shortage::None) {
      throw DiskFullError(NoRoomFor(path_, shortage) + PluginFailure(log, mark, L"", status).message(),
                          shortage == Shortage::Quota);
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

PluginFileWriter::PluginFileWriter(IBackupDataWrite& data, const HostLog& log, std::wstring target, uint32_t mode,
                                   const FileInfo* existing)
    : OpenPluginFile(data, log, existing != nullptr ? TemporaryPathFor(target) : target,
                     existing != nullptr ? OpenWrite : mode),
      writer_(data), target_(std::move(target)) {
  if (existing != nullptr) existing_ = *existing;
}

PluginFileWriter::~PluginFileWriter() {
  if (committed_) return;
  // Closed first: the plug-in opened the file without sharing, so it cannot
  // be removed while the handle is open.
  Close();
  writer_.RemoveFile(path_);
}

void PluginFileWriter::Commit() {
  Close();
  if (existing_) {
    const uint64_t mark = log_.MessageCount();
    uint32_t status = writer_.MoveItem(path_, target_);
    // The plug-in replaces a read-only file where the system lets a rename
    // ignore it (Windows 10 1809 and later; Wine). Elsewhere the old copy
    // is made writable for a second try, through the plug-in, which refuses
    // a file with other names, and gets its attributes back if that fails.
    FileInfo old = *existing_;
    old.aclRights.clear();
    if (status != StatusSuccess && (old.attributes & FILE_ATTRIBUTE_READONLY) != 0) {
      FileInfo writable = old;
      writable.attributes &= ~static_cast<uint32_t>(FILE_ATTRIBUTE_READONLY);
      if (writer_.ApplyFileInfo(target_, writable) == StatusSuccess) {
        status = writer_.MoveItem(path_, target_);
        if (status != StatusSuccess) writer_.ApplyFileInfo(target_, old);
      }
    }
    if (status != StatusSuccess) {
      throw PluginFailure(log_, mark, L"cannot put the new copy in place of " + Quoted(target_), status);
    }
  }
  committed_ = true;
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
    if (status == StatusSuccess && taken > 0) continue;
    const Shortage shortage = status == StatusDiskFull ? Shortage::Disk : ShortageSince(log_, mark);
    if (shortage != Shortage::None) {
      const std::wstring reason = status == StatusDiskFull ? L"" : PluginFailure(log_, mark, L"", status).message();
      throw DiskFullError(NoRoomFor(target_, shortage) + L" after " + FormatSize(done_) + reason,
                          shortage == Shortage::Quota);
    }
    throw PluginFailure(log_, mark, L"writing " + Quoted(path_) + L" failed after " + FormatSize(done_), status);
  }
}

namespace {

const wchar_t kTemporaryPrefix[] = L"~diskway-";
const wchar_t kTemporarySuffix[] = L".partial";
constexpr size_t kTemporaryDigits = 16;

} // namespace

std::wstring TemporaryPathFor(const std::wstring& target) {
  const size_t separator = target.rfind(L'\\');
  const size_t leaf = separator == std::wstring::npos ? 0 : separator + 1;
  // A fixed length whatever the name's: the target may already be as long
  // as a name can be. The same name gives the same temporary name, so a run
  // that was killed leaves at most one behind for each file.
  uint64_t hash = 14695981039346656037ull;
  for (size_t i = leaf; i < target.size(); ++i) {
    hash = (hash ^ static_cast<uint16_t>(target[i])) * 1099511628211ull;
  }
  wchar_t digits[kTemporaryDigits + 1];
  std::swprintf(digits, kTemporaryDigits + 1, L"%016llx", static_cast<unsigned long long>(hash));
  return target.substr(0, leaf) + kTemporaryPrefix + digits + kTemporarySuffix;
}

bool IsTemporaryName(const std::wstring& name) {
  const std::wstring prefix = kTemporaryPrefix;
  const std::wstring suffix = kTemporarySuffix;
  if (name.size() != prefix.size() + kTemporaryDigits + suffix.size()) return false;
  if (name.compare(0, prefix.size(), prefix) != 0 || name.compare(name.size() - suffix.size(), suffix.size(), suffix)) {
    return false;
  }
  for (size_t i = prefix.size(); i < prefix.size() + kTemporaryDigits; ++i) {
    if (!std::iswxdigit(name[i])) return false;
  }
  return true;
}

std::wstring NoRoomFor(const std::wstring& path, Shortage shortage) {
  return shortage == Shortage::Quota ? L"this user's disk quota on the drive holding " + Quoted(path) + L" is used up"
                                     : L"the disk holding " + Quoted(path) + L" is full";
}

Shortage ShortageSince(const HostLog& log, uint64_t mark) {
  const std::wstring problem = log.LastProblemSince(mark);
  const auto endsWith = [&problem](const std::wstring& suffix) {
    return problem.size() >= suffix.size() && problem.compare(problem.size() - suffix.size(), suffix.size(), suffix) == 0;
  };
  if (endsWith(L"(0x00000070)") || endsWith(L"(0x00000027)")) return Shortage::Disk;
  return endsWith(L"(0x0000050F)") ? Shortage::Quota : Shortage::None;
}

LocalFileReader::LocalFileReader(std::wstring path) : path_(std::move(path)), file_(OpenLocalForReading(path_)) {}

uint32_t LocalFileReader::ReadSome(void* buffer, uint32_t size) {
  return ReadLocal(file_, path_, buffer, size);
}

LocalFileWriter::LocalFileWriter(std::wstring path) : path_(std::move(path)), temporary_(TemporaryPathFor(path_)) {
  std::wstring name;
  items::Refusal refusal;
  DWORD error = folders_.Parent(temporary_, folder_, name, refusal);
  if (error == 0) {
    // One that a killed run left is removed through the handle that
    // checked it, never written into: under that name may now stand a
    // link, or another name of a file elsewhere.
    items::OpenRequest stale;
    stale.access = DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;
    VMLib::UniqueFile old;
    items::ItemFacts facts;
    if (folders_.OpenChild(*folder_, name, stale, old, facts, refusal) == 0 && !facts.IsLink()) {
      items::DeleteThrough(old.get(), facts);
    }
    // FILE_CREATE refuses any name something answers to, a dangling link's
    // included, which a creation by name would follow under Wine.
    items::OpenRequest create;
    create.access = GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES;
    create.share = 0;
    create.disposition = items::kCreateNew;
    create.options = FILE_NON_DIRECTORY_FILE;
    error = items::OpenRelative(folder_->handle.get(), name, create, file_);
  }
  if (error != 0) {
    throw HostError(L"cannot write beside " + Quoted(path_) + L": " + Quoted(temporary_) +
                    L" cannot be made: " + (refusal ? refusal.Reason() : SystemErrorText(error)) +
                    L"; nothing was written");
  }
}

LocalFileWriter::~LocalFileWriter() {
  if (!committed_ && file_) items::DeleteThrough(file_.get(), items::ItemFacts());
}

void LocalFileWriter::WriteAll(const void* data, uint32_t size) {
  WriteLocal(file_.get(), temporary_, data, size);
}

void LocalFileWriter::Commit() {
  std::wstring folder;
  std::wstring name;
  items::SplitParent(path_, folder, name);
  const DWORD error = items::RenameThrough(file_.get(), folder_->handle.get(), name, /*replaceExisting=*/true);
  if (error != ERROR_SUCCESS) {
    throw HostError(L"cannot put the copy in place of " + Quoted(path_) + L": " + SystemErrorText(error));
  }
  committed_ = true;
}

uint64_t Pump(ByteSource& from, ByteSink& to, std::vector<char>& buffer,
              const std::function<void(uint32_t)>& onChunk, uint64_t listedSize) {
  uint64_t moved = 0;
  const uint32_t chunk = static_cast<uint32_t>(buffer.size());
  for (uint32_t got; (got = from.ReadSome(buffer.data(), chunk)) > 0;) {
    to.WriteAll(buffer.data(), got);
    moved += got;
    if (onChunk) onChunk(got);
    if (moved > listedSize + kGrowthMargin) {
      throw ChangedWhileRead(L"it changed while it was read (listed with " + std::to_wstring(listedSize) +
                             L" bytes, the read was stopped after " + std::to_wstring(moved) + L" bytes)");
    }
  }
  return moved;
}

TransferResult CopyToLocal(IBackupDataRead& reader, const HostLog& log, const std::wstring& source,
                           const std::wstring& target, uint32_t bufferSize) {
  PluginFileReader from(reader, log, source);
  // The read stops a little past the size listed, as the tree jobs' do: a
  // source that never ends (a device, a link to one) would fill the disk.
  const uint64_t mark = log.MessageCount();
  FileInfo listed;
  const uint32_t status = reader.QueryFileInfo(source, listed);
  if (status != StatusSuccess) {
    throw PluginFailure(log, mark, L"cannot learn the size of " + Quoted(source) + L", which bounds the read", status);
  }
  LocalFileWriter to(target);
  std::vector<char> buffer(bufferSize);
  TransferResult result;
  result.bytes = Pump(from, to, buffer, nullptr, listed.size);
  to.Commit();
  result.fromShadowCopy = from.fromShadowCopy();
  return result;
}

TransferResult CopyFromLocal(IBackupDataWrite& writer, const HostLog& log, const std::wstring& source,
                             const std::wstring& target, uint32_t bufferSize, bool keepAttributes) {
  LocalFileReader from(source);
  const uint64_t mark = log.MessageCount();
  FileInfo existing;
  const uint32_t found = writer.QueryFileInfo(target, existing);
  if (found != StatusSuccess && found != StatusNotFound) {
    throw PluginFailure(log, mark, L"cannot query " + Quoted(target), found);
  }
  const bool replacing = found == StatusSuccess;
  if (replacing && (existing.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    throw HostError(Quoted(target) + L" is a folder");
  }
  // Making a read-only link writable for the move would change the file it
  // leads to; and the copy would not be where the person looks for it.
  const std::wstring link = replacing ? LinkAt(target) : L"";
  if (!link.empty()) throw HostError(link + L"; it is left alone, and nothing is written through it");
  PluginFileWriter to(writer, log, target, keepAttributes ? OpenOverwriteKeepAttributes : OpenWrite,
                      replacing ? &existing : nullptr);
  std::vector<char> buffer(bufferSize);
  TransferResult result;
  result.bytes = Pump(from, to, buffer);
  to.Commit();
  if (replacing && keepAttributes) {
    // The new file took the old one's place, not its attributes; the times
    // are the new file's own.
    FileInfo attributes;
    attributes.attributes = existing.attributes & ~static_cast<uint32_t>(FILE_ATTRIBUTE_REPARSE_POINT);
    const uint64_t applied = log.MessageCount();
    const uint32_t status = writer.ApplyFileInfo(target, attributes);
    if (status != StatusSuccess) throw PluginFailure(log, applied, L"cannot keep the attributes of " + Quoted(target), status);
  }
  return result;
}

} // namespace host
