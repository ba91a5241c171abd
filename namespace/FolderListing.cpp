#include "instance/PluginImplementation.h"
#include "vmlib/VMLib.h"

#include <utility>

namespace {

bool IsFolder(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

} // namespace

void PluginImplementation::FillFileInfo(const WIN32_FIND_DATAW& data, FileInfo& info) {
  info.attributes = data.dwFileAttributes;
  info.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  VMLib::time::FileTimeToTime(data.ftCreationTime, info.creationTime);
  VMLib::time::FileTimeToTime(data.ftLastAccessTime, info.lastAccessTime);
  VMLib::time::FileTimeToTime(data.ftLastWriteTime, info.lastWriteTime);
  info.validFields |= FieldAll;
}

void PluginImplementation::ReadAclRights(const std::wstring& itemPath, FileInfo& info) {
  const uint32_t status = VMLib::filesystem::GetAclRights(itemPath, info.aclRights, AclFlags[0], AclFlags[1],
                                                          AclFlags[2], AclFlags[3]);
  if (status != 0) {
    LogSystemError(Warning, status, L"Can't get file ACL rights for '%s'", itemPath.c_str());
  }
}

uint32_t PluginImplementation::ListFolder(const std::wstring& path, FolderList& list) {
  if (path.empty()) {
    ListRoot(list);
    browsingRoot = true;
    return StatusSuccess;
  }
  return ListDirectory(MapPath(path), list);
}

uint32_t PluginImplementation::ListDirectory(const std::wstring& path, FolderList& list) {
  if (!IsFolder(::GetFileAttributesW(path.c_str()))) {
    // The folder may sit on a network location whose connection dropped.
    if (locationsConnected) DisconnectLocations();
    ConnectLocations();
    if (!IsFolder(::GetFileAttributesW(path.c_str()))) return StatusNotFound;
  }

  // A drive root already ends in "\"; the doubled separator is what Windows
  // expects to see for it as well.
  WIN32_FIND_DATAW data;
  VMLib::UniqueFind search(::FindFirstFileW((path + L"\\*").c_str(), &data));
  if (!search) {
    const DWORD error = ::GetLastError();
    if (error != 0) {
      LogSystemError(Critical, error, L"Can't get folder listing (%s)", path.c_str());
    }
  } else {
    // Folders go straight to the host's list, other items wait here so the
    // listing shows all folders first, each group in enumeration order.
    FolderList files;
    do {
      std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      FileInfo info;
      FillFileInfo(data, info);
      // The item's full path is built only for its descriptor: with ACL
      // copying off, an entry costs no allocation beyond the entry itself.
      if (CopyACL) ReadAclRights(path + L"\\" + name, info);
      FolderList& target = (info.attributes & FILE_ATTRIBUTE_DIRECTORY) ? list : files;
      target.emplace_back(std::move(name), std::move(info));
    } while (::FindNextFileW(search.get(), &data));
    search.reset();
    list.splice(list.end(), files);
  }

  if (locationsConnected && browsingRoot) DisconnectLocations();
  return StatusSuccess;
}

uint32_t PluginImplementation::QueryFileInfo(const std::wstring& path, FileInfo& info) {
  const std::wstring realPath = MapPath(path);
  WIN32_FIND_DATAW data = {};
  if (VMLib::filesystem::GetFileInfo(realPath.c_str(), data) == 0) {
    FillFileInfo(data, info);
    if (CopyACL) ReadAclRights(realPath, info);
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
