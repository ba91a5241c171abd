#include "io/OpenFileTable.h"

#include <utility>

#include "contract/LogTexts.h"

namespace {

constexpr ULONG kNonFolder = FILE_NON_DIRECTORY_FILE;

} // namespace

VMLib::UniqueFile OpenFileTable::OpenForReading(const std::wstring& realPath) {
  items::HeldFolder* folder = nullptr;
  std::wstring name;
  items::Refusal refusal;
  VMLib::UniqueFile handle;
  // Links are followed as any program reading the name follows them; the
  // file must still be the one its folder listed.
  items::ItemFacts facts;
  const DWORD status =
      folders_.OpenItem(realPath, items::OpenRequest::ForReading(), handle, facts, refusal, folder, name);
  if (refusal) {
    log_.LogRefused(L"read", realPath, refusal.Reason());
  } else if (status == ERROR_SHARING_VIOLATION || status == ERROR_LOCK_VIOLATION) {
    log_.LogMessage(Info, L"%s", LogText::LockedFileNotice(realPath).c_str());
    handle.reset(vss_.OpenSnapshotFile(realPath));
    if (!handle) {
      const std::wstring reason = vss_.GetLastErrorText();
      log_.LogMessage(Warning, L"%s", LogText::ShadowCopyFailure(reason).c_str());
    }
  } else if (status != 0) {
    log_.LogSystemError(Warning, status, L"Cannot open file '%s'", realPath.c_str());
  }
  return handle;
}

VMLib::UniqueFile OpenFileTable::OpenForWriting(const std::wstring& realPath, uint32_t mode,
                                                std::optional<uint32_t>& savedAttributes, items::ItemId& made) {
  items::HeldFolder* folder = nullptr;
  std::wstring name;
  items::Refusal refusal;
  DWORD status = folders_.Parent(realPath, folder, name, refusal);
  VMLib::UniqueFile handle;
  items::ItemFacts facts;
  if (status == 0) {
    // A new name is created with FILE_CREATE, not CREATE_ALWAYS, which
    // truncates even a file it has just created (ext4 answers a truncate to
    // zero by writing the whole file back when it is closed). FILE_CREATE
    // also refuses any name that something answers to: a long-named file's
    // short name, and a link, dangling or not. A file made here is new and
    // named as asked.
    items::OpenRequest create;
    create.access = GENERIC_WRITE | FILE_READ_ATTRIBUTES;
    create.share = 0;
    create.disposition = items::kCreateNew;
    create.options = kNonFolder;
    status = items::OpenRelative(folder->handle.get(), name, create, handle);
    if (status == 0 && items::ReadFacts(handle.get(), folder->wideIds, facts) == 0) {
      folders_.RecordMade(*folder, name, facts);
    }
    made = facts.id;
    if (status == 0) return handle;
  }
  if (status == ERROR_ALREADY_EXISTS) {
    items::OpenRequest check;
    check.access = FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;
    status = folders_.OpenChild(*folder, name, check, handle, facts, refusal);
    if (status == ERROR_FILE_NOT_FOUND) {
      // Taken, yet nothing opens: Wine's answer for a link whose target is
      // missing, which it would create if asked to replace the name.
      log_.LogMessage(Error,
                      L"Computer: cannot write '%s': the name is taken by an item that cannot be opened, such as a "
                      L"link whose target is missing; it is left as it is",
                      realPath.c_str());
      return VMLib::UniqueFile();
    }
  }
  if (status == 0 && facts.IsLink()) {
    log_.LogMessage(Error, L"Computer: cannot write '%s': it is a link, and nothing is written through one",
                    realPath.c_str());
    return VMLib::UniqueFile();
  }
  if (status == 0 && !facts.IsFolder() && facts.links > 1) {
    log_.LogMessage(Error,
                    L"Computer: cannot write '%s': the file has %lu names (hard links), and writing it in place "
                    L"would change it under every other name too; it is left as it is",
                    realPath.c_str(), static_cast<unsigned long>(facts.links));
    return VMLib::UniqueFile();
  }
  if (refusal) {
    log_.LogRefused(L"write", realPath, refusal.Reason());
    return VMLib::UniqueFile();
  }
  made = facts.id;
  if (status == 0) return Replace(realPath, mode, handle.get(), facts, savedAttributes);
  log_.LogSystemError(Error, status, L"Cannot open file '%s'", realPath.c_str());
  return VMLib::UniqueFile();
}

VMLib::UniqueFile OpenFileTable::Replace(const std::wstring& realPath, uint32_t mode, HANDLE check,
                                         const items::ItemFacts& facts, std::optional<uint32_t>& savedAttributes) {
  // What a replacing open by name refuses: a folder, and a read-only,
  // hidden or system file unless mode 1 clears those first.
  DWORD status = facts.IsFolder() ? ERROR_ACCESS_DENIED : 0;
  if (status == 0 && mode == OpenOverwriteKeepAttributes) {
    savedAttributes = facts.attributes;
    status = items::SetAttributes(check, FILE_ATTRIBUTE_NORMAL);
  } else if (status == 0 && (facts.attributes & items::kProtectingAttributes) != 0) {
    status = ERROR_ACCESS_DENIED;
  }
  VMLib::UniqueFile written;
  // Opened again through the checked handle, never by name: the name may by
  // now reach another file.
  if (status == 0) status = items::Reopen(check, GENERIC_WRITE, /*share=*/0, kNonFolder, written);
  if (status == 0) status = items::Truncate(written.get());
  if (status == 0) {
    // A replacing open by name leaves ERROR_ALREADY_EXISTS behind; hosts
    // that look at the last error must not take it for a failure.
    ::SetLastError(0);
    return written;
  }
  if (savedAttributes) items::SetAttributes(check, *savedAttributes);
  savedAttributes.reset();
  log_.LogSystemError(Error, status, L"Cannot open file '%s'", realPath.c_str());
  return VMLib::UniqueFile();
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

  std::optional<uint32_t> savedAttributes;
  items::ItemId made;
  VMLib::UniqueFile handle =
      mode == OpenRead ? OpenForReading(realPath) : OpenForWriting(realPath, mode, savedAttributes, made);
  if (!handle) {
    id = 0;
    return StatusFailure;
  }
  entries_[freeId] = OpenFileEntry{std::move(handle), realPath, savedAttributes, made};
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
  // Through the handle, not the path: the name may by now reach another file.
  if (entry->second.savedAttributes) items::SetAttributes(entry->second.handle.get(), *entry->second.savedAttributes);
  lastWrittenPath_.clear();
  if (entry->second.made.Known()) {
    lastWrittenPath_ = entry->second.path;
    // Read last, through the handle: what the name must still show for the
    // metadata to follow without opening the file again.
    items::ItemLook look;
    lastWritten_.id = entry->second.made;
    lastWritten_.look.reset();
    if (items::ReadLook(entry->second.handle.get(), look) == 0) lastWritten_.look = look;
  }
  entry->second.handle.reset();
  entries_.erase(entry);
  return StatusSuccess;
}

const items::WrittenFile* OpenFileTable::LastWritten(const std::wstring& realPath) const {
  return !lastWrittenPath_.empty() && lastWrittenPath_ == realPath ? &lastWritten_ : nullptr;
}

void OpenFileTable::CloseAll() {
  for (auto& [id, entry] : entries_) entry.handle.reset();
  entries_.clear();
}
