#include "namespace/FolderListing.h"

#include <utility>

#include "vmlib/VMLib.h"

void FolderListing::FillFileInfo(const WIN32_FIND_DATAW& data, FileInfo& info) {
  info.attributes = data.dwFileAttributes;
  info.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  VMLib::time::FileTimeToTime(data.ftCreationTime, info.creationTime);
  VMLib::time::FileTimeToTime(data.ftLastAccessTime, info.lastAccessTime);
  VMLib::time::FileTimeToTime(data.ftLastWriteTime, info.lastWriteTime);
  info.validFields |= FieldAll;
}

void FolderListing::ReadAclRights(const std::wstring& itemPath, FileInfo& info) {
  const uint32_t status = VMLib::filesystem::GetAclRights(itemPath, info.aclRights, acl_.parts[0], acl_.parts[1],
                                                          acl_.parts[2], acl_.parts[3]);
  if (status != 0) {
    log_.LogSystemError(Warning, status, L"Can't get file ACL rights for '%s'", itemPath.c_str());
  }
}

void FolderListing::FillFileInfo(const items::FolderItem& item, FileInfo& info) {
  WIN32_FIND_DATAW data = {};
  data.dwFileAttributes = item.attributes;
  data.ftCreationTime = item.creationTime;
  data.ftLastAccessTime = item.lastAccessTime;
  data.ftLastWriteTime = item.lastWriteTime;
  data.nFileSizeHigh = static_cast<DWORD>(item.size >> 32);
  data.nFileSizeLow = static_cast<DWORD>(item.size);
  FillFileInfo(data, info);
}

uint32_t FolderListing::ListDirectory(const std::wstring& realPath, FolderList& list,
                                      const std::function<void()>& reconnect) {
  items::HeldFolder* folder = nullptr;
  items::Refusal refusal;
  DWORD status = folders_.Folder(realPath, folder, refusal);
  if (status != 0 && !refusal) {
    // The folder may sit on a network location whose connection dropped.
    reconnect();
    status = folders_.Folder(realPath, folder, refusal);
  }
  if (refusal) {
    log_.LogMessage(Critical, L"Can't get folder listing (%s): %s", realPath.c_str(), refusal.Reason().c_str());
    return StatusSuccess;
  }
  // A folder that is there but cannot be opened is reported as one whose
  // listing cannot start.
  if (status == ERROR_ACCESS_DENIED) {
    log_.LogSystemError(Critical, status, L"Can't get folder listing (%s)", realPath.c_str());
    return StatusSuccess;
  }
  if (status != 0) return StatusNotFound;

  // Read through the held folder, so what is listed is what later acts are
  // checked against. Folders go straight to the host's list, other items
  // wait here so the listing shows all folders first.
  // Through a handle of its own: Wine 8 keeps what a handle listed first
  // and answers every later listing, restarted or not, from that.
  VMLib::UniqueFile listed;
  const DWORD reopenStatus =
      items::Reopen(folder->handle.get(), items::kFolderAccess, items::kShareAll, FILE_DIRECTORY_FILE, listed);
  if (reopenStatus != 0) {
    log_.LogSystemError(Critical, reopenStatus, L"Can't get folder listing (%s)", realPath.c_str());
    return StatusSuccess;
  }
  folders_.ClearEntries(*folder);
  items::FolderReader reader(listed.get(), folder->wideIds);
  FolderList files;
  const size_t listedBefore = list.size();
  items::FolderReader::Result result;
  while ((result = reader.Next()) == items::FolderReader::Result::Entry) {
    const items::FolderItem& item = reader.Item();
    folders_.Record(*folder, item);
    FileInfo info;
    FillFileInfo(item, info);
    // The item's full path is built only for its descriptor, and only from
    // a name that is one component.
    if (acl_.copy && items::IsOneComponent(item.name)) ReadAclRights(realPath + L"\\" + item.name, info);
    FolderList& target = item.IsFolder() ? list : files;
    target.emplace_back(item.name, std::move(info));
  }
  // The root of an empty volume has no entry at all, not even "." and ".."
  // (Wine shows those two through a handle all the same), and a search by
  // name there fails with "file not found": the same report.
  const bool root = folder->path.back() == L'\\';
  const bool emptyRoot = reader.Empty() || (root && result == items::FolderReader::Result::Done &&
                                            list.size() == listedBefore && files.empty());
  const DWORD error = emptyRoot ? ERROR_FILE_NOT_FOUND : reader.Error();
  if (result == items::FolderReader::Result::Error || emptyRoot) {
    log_.LogSystemError(Critical, error, L"Can't get folder listing (%s)", realPath.c_str());
  }
  list.splice(list.end(), files);
  return StatusSuccess;
}

uint32_t FolderListing::QueryFileInfo(const std::wstring& path, const std::wstring& realPath, FileInfo& info) {
  WIN32_FIND_DATAW data = {};
  if (VMLib::filesystem::GetFileInfo(realPath.c_str(), data) == 0) {
    FillFileInfo(data, info);
    if (acl_.copy) ReadAclRights(realPath, info);
    return StatusSuccess;
  }
  // Some systems cannot describe a drive root; its attributes still answer.
  if (path.size() == 2) {
    const DWORD attributes = ::GetFileAttributesW(realPath.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return StatusNotFound;
    info.attributes = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN);
    return StatusSuccess;
  }
  return StatusNotFound;
}
