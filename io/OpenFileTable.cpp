#include "io/OpenFileTable.h"

#include <utility>

#include "contract/LogTexts.h"
#include "vmlib/ExactItem.h"

VMLib::UniqueFile OpenFileTable::OpenForWriting(const std::wstring& realPath, uint32_t mode,
                                                std::optional<uint32_t>& savedAttributes) {
  const DWORD checkAccess = mode == OpenOverwriteKeepAttributes ? FILE_WRITE_ATTRIBUTES : 0;
  VMLib::ExactItem existing;
  uint32_t status = existing.Open(realPath, checkAccess);
  if (status == ERROR_FILE_NOT_FOUND) {
    // A name that is not there yet is created with CREATE_NEW, not
    // CREATE_ALWAYS, which truncates even a file it has just created; ext4
    // answers a truncate to zero by writing the whole file back when it is
    // closed, so under Wine every new large file's close waited on the disk.
    // CREATE_NEW also refuses any name that something answers to: a
    // long-named file's short name, and, with the reparse-point flag, a link
    // whose target is missing, which Windows would otherwise follow and
    // create (Wine refuses it either way). So a file made here is new and
    // named as asked, with no check of its final path to pay for.
    VMLib::UniqueFile created(::CreateFileW(realPath.c_str(), GENERIC_WRITE, /*share=*/0, /*security=*/nullptr,
                                            CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                                            /*templateFile=*/nullptr));
    if (created) return created;
    const DWORD error = ::GetLastError();
    if (error != ERROR_FILE_EXISTS) {
      status = error;
    } else if ((status = existing.Open(realPath, checkAccess)) == ERROR_FILE_NOT_FOUND) {
      // Taken, yet nothing opens: Wine's answer for a link whose target is
      // missing, which it would create if asked to replace the name.
      log_.LogMessage(Error,
                      L"Computer: cannot write '%s': the name is taken by an item that cannot be opened, such as a "
                      L"link whose target is missing; it is left as it is",
                      realPath.c_str());
      return VMLib::UniqueFile();
    }
  }
  if (status != 0) {
    log_.LogSystemError(Error, status, L"Cannot open file '%s'", realPath.c_str());
    return VMLib::UniqueFile();
  }
  if (existing.GetMatch() == VMLib::ExactItem::Match::Link) {
    log_.LogMessage(Error, L"Computer: cannot write '%s': it is a link, and nothing is written through one",
                    realPath.c_str());
    return VMLib::UniqueFile();
  }
  if (existing.GetMatch() == VMLib::ExactItem::Match::Elsewhere) {
    log_.LogOtherItem(L"write", realPath, existing.FinalPath());
    return VMLib::UniqueFile();
  }

  if (mode == OpenOverwriteKeepAttributes && !existing.IsFolder()) {
    // Clearing read-only, hidden and system lets CREATE_ALWAYS replace the file.
    savedAttributes = existing.Attributes();
    FILE_BASIC_INFO normal = {};
    normal.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    existing.SetBasicInfo(normal);
  }
  // The checked handle asks for no data access, so it does not stand in the
  // way of this exclusive open of the same file.
  VMLib::UniqueFile replaced(::CreateFileW(realPath.c_str(), GENERIC_WRITE, /*share=*/0, /*security=*/nullptr,
                                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, /*templateFile=*/nullptr));
  if (!replaced) {
    const DWORD error = ::GetLastError();
    log_.LogSystemError(Error, error, L"Cannot open file '%s'", realPath.c_str());
    return replaced;
  }
  // Replacing a file sets ERROR_ALREADY_EXISTS; hosts that look at the last
  // error must not take it for a failure.
  ::SetLastError(0);
  return replaced;
}

uint32_t OpenFileTable::Open(const std::wstring& realPath, uint32_t mode, uint32_t& id) {
  uint32_t freeId = 0;
  for (uint32_t candidate = 1; candidate <= MaxOpenFiles; ++candidate) {
    if (entries_.count(candidate) == 0) {
      freeId = candidate;
      break;
    }
  }
  id = freeId;
  if (freeId == 0) return StatusFailure;

  VMLib::UniqueFile handle;
  std::optional<uint32_t> savedAttributes;
  if (mode == OpenRead) {
    handle.reset(::CreateFileW(realPath.c_str(), GENERIC_READ, FILE_SHARE_READ, /*security=*/nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, /*templateFile=*/nullptr));
    const DWORD error = ::GetLastError();
    if (!handle && (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION)) {
      log_.LogMessage(Info, L"%s", LogText::LockedFileNotice(realPath).c_str());
      handle.reset(vss_.OpenSnapshotFile(realPath));
      if (!handle) {
        const std::wstring reason = vss_.GetLastErrorText();
        log_.LogMessage(Warning, L"%s", LogText::ShadowCopyFailure(reason).c_str());
      }
    } else if (!handle) {
      log_.LogSystemError(Warning, error, L"Cannot open file '%s'", realPath.c_str());
    }
  } else {
    handle = OpenForWriting(realPath, mode, savedAttributes);
  }

  if (!handle) {
    id = 0;
    if (savedAttributes) ::SetFileAttributesW(realPath.c_str(), *savedAttributes);
    return StatusFailure;
  }
  entries_[freeId] = OpenFileEntry{std::move(handle), realPath, savedAttributes, mode != OpenRead};
  return StatusSuccess;
}

OpenFileEntry* OpenFileTable::Find(uint32_t id, const wchar_t* verb) {
  const auto entry = entries_.find(id);
  if (entry != entries_.end() && entry->second.handle) return &entry->second;
  log_.LogMessage(Error, L"Attempting to %s an unopened file (%u).", verb, id);
  return nullptr;
}

uint32_t OpenFileTable::Read(void* buffer, uint32_t& size, uint32_t id) {
  OpenFileEntry* entry = Find(id, L"read");
  if (entry == nullptr) return StatusFailure;
  // Cleared first so that a successful read of zero bytes at the end of the
  // file is told apart from a failure.
  ::SetLastError(0);
  DWORD bytesRead = 0;
  const BOOL ok = ::ReadFile(entry->handle.get(), buffer, size, &bytesRead, /*overlapped=*/nullptr);
  const DWORD error = ok ? 0 : ::GetLastError();
  size = bytesRead;
  if (ok && bytesRead > 0) return StatusSuccess;
  if (error == ERROR_HANDLE_EOF || (error == 0 && bytesRead == 0)) return StatusEndOfData;
  log_.LogSystemError(Error, error, L"Error occurred while reading the file '%s'", entry->path.c_str());
  return StatusFailure;
}

uint32_t OpenFileTable::Write(const void* buffer, uint32_t& size, uint32_t id) {
  OpenFileEntry* entry = Find(id, L"write");
  if (entry == nullptr) return StatusFailure;
  DWORD bytesWritten = 0;
  const BOOL ok = ::WriteFile(entry->handle.get(), buffer, size, &bytesWritten, /*overlapped=*/nullptr);
  const DWORD error = ok ? 0 : ::GetLastError();
  size = bytesWritten;
  if (ok) return StatusSuccess;
  if (error == ERROR_HANDLE_DISK_FULL) return StatusDiskFull;
  log_.LogSystemError(Error, error, L"Error occurred while writing the file '%s'", entry->path.c_str());
  return StatusFailure;
}

uint32_t OpenFileTable::Seek(uint32_t id, int64_t offset) {
  OpenFileEntry* entry = Find(id, L"seek");
  if (entry == nullptr) return StatusFailure;
  LARGE_INTEGER distance;
  distance.QuadPart = offset;
  if (::SetFilePointerEx(entry->handle.get(), distance, /*newPosition=*/nullptr, FILE_BEGIN)) {
    return StatusSuccess;
  }
  const DWORD error = ::GetLastError();
  log_.LogSystemError(Error, error, L"Error occurred while seeking the file '%s'", entry->path.c_str());
  return StatusFailure;
}

uint32_t OpenFileTable::Close(uint32_t id) {
  const auto entry = entries_.find(id);
  if (entry == entries_.end()) return StatusSuccess;
  // Restored while the handle is still open, so no other writer can slip in
  // between with the file unprotected.
  if (entry->second.savedAttributes) {
    ::SetFileAttributesW(entry->second.path.c_str(), *entry->second.savedAttributes);
  }
  lastWrittenPath_.clear();
  if (entry->second.written && VMLib::FileIndexOf(entry->second.handle.get(), lastWritten_)) {
    lastWrittenPath_ = entry->second.path;
  }
  entry->second.handle.reset();
  entries_.erase(entry);
  return StatusSuccess;
}

const ULONGLONG* OpenFileTable::LastWritten(const std::wstring& realPath) const {
  return !lastWrittenPath_.empty() && lastWrittenPath_ == realPath ? &lastWritten_ : nullptr;
}

void OpenFileTable::CloseAll() {
  for (auto& [id, entry] : entries_) entry.handle.reset();
  entries_.clear();
}
