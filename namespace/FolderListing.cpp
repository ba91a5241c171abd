#include "namespace/FolderListing.h"

#include <utility>

#include "vmlib/DirectoryReader.h"
#include "vmlib/VMLib.h"

bool IsFolder(const std::wstring& realPath) {
  const DWORD attributes = ::GetFileAttributesW(realPath.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

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

void FolderListing::ListDirectory(const std::wstring& realPath, FolderList& list) {
  VMLib::DirectoryReader reader;
  if (!reader.Open(realPath)) {
    if (reader.Error() != 0) {
      log_.LogSystemError(Critical, reader.Error(), L"Can't get folder listing (%s)", realPath.c_str());
    }
    return;
  }
  // Folders go straight to the host's list, other items wait here so the
  // listing shows all folders first, each group in enumeration order.
  FolderList files;
  VMLib::DirectoryReader::Result result;
  while ((result = reader.Next()) == VMLib::DirectoryReader::Result::Entry) {
    std::wstring name = reader.Name();
    FileInfo info;
    FillFileInfo(reader.Entry(), info);
    // The item's full path is built only for its descriptor: with ACL
    // copying off, an entry costs no allocation beyond the entry itself.
    if (acl_.copy) ReadAclRights(realPath + L"\\" + name, info);
    FolderList& target = reader.IsFolder() ? list : files;
    target.emplace_back(std::move(name), std::move(info));
  }
  if (result == VMLib::DirectoryReader::Result::Error) {
    log_.LogSystemError(Critical, reader.Error(), L"Can't get folder listing (%s)", realPath.c_str());
  }
  list.splice(list.end(), files);
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
