#include "namespace/FolderListing.h"

#include <cwchar>
#include <cwctype>
#include <set>
#include <vector>

#include "namespace/PathMapping.h"
#include "vmlib/VMLib.h"

namespace {

// 26 drives of four characters each: letter, colon, backslash, terminator.
constexpr DWORD kDriveStringsLength = 104;

wchar_t UpperFirst(const std::wstring& name) {
  return static_cast<wchar_t>(std::towupper(name.empty() ? L'\0' : name[0]));
}

FolderEntry MakeRootEntry(const std::wstring& name) {
  FileInfo info;
  info.attributes = FILE_ATTRIBUTE_DIRECTORY;
  return FolderEntry(name + L"$", info);
}

} // namespace

void AppendDriveEntries(FolderList& list) {
  wchar_t drives[kDriveStringsLength + 1] = {};
  const DWORD length = ::GetLogicalDriveStringsW(kDriveStringsLength, drives);
  // On failure, or when the buffer was too small, nothing was written that
  // could be walked.
  if (length != 0 && length <= kDriveStringsLength) {
    for (const wchar_t* drive = drives; *drive != L'\0'; drive += std::wcslen(drive) + 1) {
      const UINT type = ::GetDriveTypeW(drive);
      if (type == DRIVE_UNKNOWN || type == DRIVE_NO_ROOT_DIR || type == DRIVE_CDROM) continue;
      list.push_back(MakeRootEntry(std::wstring(1, drive[0])));
    }
  }

  VMLib::system::CRegistry registry(HKEY_CURRENT_USER);
  const std::vector<std::wstring> networkDrives = registry.EnumSubKeys(L"Network");
  std::set<wchar_t> listed;
  for (const FolderEntry& entry : list) listed.insert(UpperFirst(entry.name));
  for (const std::wstring& name : networkDrives) {
    if (listed.count(UpperFirst(name)) == 0) list.push_back(MakeRootEntry(name));
  }
}

uint32_t QueryFreeSpace(const std::wstring& path, uint64_t& total, uint64_t& free) {
  const std::vector<std::wstring> components = VMLib::strings::Split(path, L"\\");
  if (components.empty()) return StatusFailure;
  const std::wstring root = paths::MapPath(components[0] + L"\\");

  DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, totalClusters = 0;
  // No "insert a disk" box for an empty drive. The mode is left at 0, not at
  // what it was: other instances in the process share it.
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  const BOOL ok = ::GetDiskFreeSpaceW(root.c_str(), &sectorsPerCluster, &bytesPerSector,
                                      &freeClusters, &totalClusters);
  ::SetErrorMode(0);
  if (!ok) return StatusFailure;

  const uint64_t bytesPerCluster = static_cast<uint64_t>(sectorsPerCluster) * bytesPerSector;
  total = static_cast<uint64_t>(totalClusters) * bytesPerCluster;
  free = static_cast<uint64_t>(freeClusters) * bytesPerCluster;
  return StatusSuccess;
}
