// Records and status values shared by the host and the plug-in. Both sides are
// built against one C++ runtime and one heap: strings and list entries made by
// one side are freed by the other.
#pragma once

#include <cstdint>
#include <list>
#include <string>
#include <utility>

// Result of every data operation.
enum PluginStatus : uint32_t {
  StatusSuccess = 0,
  StatusFailure = 1,      // invalid path, failed Windows call, bad file id
  StatusNotFound = 3,     // QueryFileInfo: no item; ListFolder: no folder
  StatusEndOfData = 5,    // Read: nothing more to read
  StatusNotSupported = 6, // default GetFreeSpace
  StatusDiskFull = 7,     // Write: ERROR_HANDLE_DISK_FULL
};

// Bits of FileInfo::validFields.
enum FileInfoField : uint32_t {
  FieldCreationTime = 0x1,
  FieldLastAccessTime = 0x2,
  FieldLastWriteTime = 0x4,
  FieldReserved = 0x8, // set and cleared with the three above, never tested
  FieldAll = 0xF,
};

// Mode argument of Open.
enum OpenMode : uint32_t {
  OpenRead = 0,
  OpenOverwriteKeepAttributes = 1,
  OpenWrite = 2, // any value other than 0 and 1 behaves like this one
};

// Levels passed to IPluginLog::Log; rising with severity.
enum LogLevel : uint32_t {
  Info = 0,
  Warning = 1,
  Error = 2,
  Critical = 3,
};

// Times are VMLib time values (see vmlib/VMLib.h).
struct FileInfo {
  int64_t creationTime = 0;
  int64_t lastAccessTime = 0;
  int64_t lastWriteTime = 0;
  uint64_t size = 0;
  uint32_t attributes = 0; // Windows attribute bits; 0x10 marks a folder
  uint32_t validFields = 0;
  std::wstring aclRights;  // security descriptor text, empty unless ACL copying is on
  std::wstring hostText;   // never written by the plug-in
};

struct FolderEntry {
  FolderEntry() = default;
  FolderEntry(std::wstring entryName, FileInfo entryInfo)
      : info(std::move(entryInfo)), name(std::move(entryName)) {}

  FileInfo info;
  std::wstring name;     // name inside its folder, no path
  std::wstring hostText; // always left empty by the plug-in
};

typedef std::list<FolderEntry> FolderList;
