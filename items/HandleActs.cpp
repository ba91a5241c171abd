#include "items/HandleActs.h"

#include <cstring>
#include <vector>

#include <winternl.h>

// Declared by the driver kit's headers only.
extern "C" NTSTATUS NTAPI NtQueryFullAttributesFile(POBJECT_ATTRIBUTES attributes, PVOID information);

namespace items {

namespace {

// Information classes that only the driver kit's headers declare.
constexpr auto kFileInternalInformation = static_cast<FILE_INFORMATION_CLASS>(6);
constexpr auto kFileRenameInformation = static_cast<FILE_INFORMATION_CLASS>(10);
constexpr auto kFileDispositionInformation = static_cast<FILE_INFORMATION_CLASS>(13);
constexpr auto kFileDispositionInformationEx = static_cast<FILE_INFORMATION_CLASS>(64);
constexpr auto kFileRenameInformationEx = static_cast<FILE_INFORMATION_CLASS>(65);
constexpr ULONG kDispositionDelete = 0x1;
constexpr ULONG kDispositionPosixSemantics = 0x2;
constexpr ULONG kDispositionIgnoreReadOnly = 0x10;
constexpr ULONG kRenameReplaceIfExists = 0x1;
constexpr ULONG kRenamePosixSemantics = 0x2;
constexpr ULONG kRenameIgnoreReadOnly = 0x40;
constexpr ULONG kSynchronousOptions = 0x20 /*FILE_SYNCHRONOUS_IO_NONALERT*/ | 0x4000 /*FILE_OPEN_FOR_BACKUP_INTENT*/;
constexpr NTSTATUS kStatusInvalidParameter = static_cast<NTSTATUS>(0xC000000D);
constexpr NTSTATUS kStatusInvalidInfoClass = static_cast<NTSTATUS>(0xC0000003);
constexpr NTSTATUS kStatusNotImplemented = static_cast<NTSTATUS>(0xC0000002);

// FILE_ID_INFO and its class, which MinGW declares only for Windows 8 and
// later: the only system with 128-bit ids (ReFS) came with it.
constexpr auto kFileIdInfo = static_cast<FILE_INFO_BY_HANDLE_CLASS>(18);
struct FileIdInformation {
  ULONGLONG volumeSerialNumber;
  BYTE fileId[16];
};

// FILE_RENAME_INFORMATION: the Ex class reads the first member as flags.
struct RenameInformation {
  ULONG flags;
  HANDLE rootDirectory;
  ULONG fileNameLength;
  WCHAR fileName[1];
};

// FILE_NETWORK_OPEN_INFORMATION, what NtQueryFullAttributesFile fills.
struct NetworkOpenInformation {
  LARGE_INTEGER creationTime;
  LARGE_INTEGER lastAccessTime;
  LARGE_INTEGER lastWriteTime;
  LARGE_INTEGER changeTime;
  LARGE_INTEGER allocationSize;
  LARGE_INTEGER endOfFile;
  ULONG fileAttributes;
};

ItemLook LookOf(const LARGE_INTEGER& creation, const LARGE_INTEGER& lastWrite, const LARGE_INTEGER& change,
                const LARGE_INTEGER& size, DWORD attributes) {
  return ItemLook{creation.QuadPart, lastWrite.QuadPart, change.QuadPart, size.QuadPart, attributes};
}

DWORD ToWin32(NTSTATUS status) { return NT_SUCCESS(status) ? 0 : ::RtlNtStatusToDosError(status); }

// The classes a system does not know (Wine 8, Windows before 10 1809)
// answer with one of these.
bool Unsupported(NTSTATUS status) {
  return status == kStatusInvalidParameter || status == kStatusInvalidInfoClass || status == kStatusNotImplemented;
}

NTSTATUS CreateRelative(HANDLE root, const std::wstring& name, ACCESS_MASK access, ULONG share, ULONG disposition,
                        ULONG options, ULONG objectAttributes, HANDLE* handle) {
  UNICODE_STRING objectName;
  objectName.Buffer = const_cast<PWSTR>(name.c_str());
  objectName.Length = objectName.MaximumLength = static_cast<USHORT>(name.size() * sizeof(wchar_t));
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &objectName, objectAttributes, root, /*security=*/nullptr);
  IO_STATUS_BLOCK io = {};
  return ::NtCreateFile(handle, access | SYNCHRONIZE, &attributes, &io, /*allocationSize=*/nullptr,
                        FILE_ATTRIBUTE_NORMAL, share, disposition, options | kSynchronousOptions,
                        /*eaBuffer=*/nullptr, /*eaLength=*/0);
}

} // namespace

bool IsOneComponent(const std::wstring& name) {
  if (name.empty() || name == L"." || name == L"..") return false;
  return name.find_first_of(L"\\/") == std::wstring::npos;
}

DWORD OpenRoot(const std::wstring& root, VMLib::UniqueFile& folder) {
  folder.reset(::CreateFileW(root.c_str(), kFolderAccess, kShareAll, /*security=*/nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS, /*templateFile=*/nullptr));
  if (folder) return 0;
  const DWORD error = ::GetLastError();
  return error;
}

DWORD OpenRelative(HANDLE folder, const std::wstring& name, const OpenRequest& request, VMLib::UniqueFile& item) {
  if (!IsOneComponent(name)) return ERROR_INVALID_NAME;
  const ULONG options = request.options | (request.linkItself ? FILE_OPEN_REPARSE_POINT : 0);
  HANDLE handle = nullptr;
  NTSTATUS status = 0;
  if (request.linkItself) {
    // Windows 10 1709 and later refuse a link met on the way; earlier
    // systems refuse the flag itself, and Wine 8 ignores it.
    status = CreateRelative(folder, name, request.access, request.share, request.disposition, options,
                            OBJ_CASE_INSENSITIVE | OBJ_DONT_REPARSE, &handle);
  }
  if (!request.linkItself || status == kStatusInvalidParameter) {
    status = CreateRelative(folder, name, request.access, request.share, request.disposition, options,
                            OBJ_CASE_INSENSITIVE, &handle);
  }
  if (!NT_SUCCESS(status)) return ToWin32(status);
  item.reset(handle);
  return 0;
}

DWORD Reopen(HANDLE item, ACCESS_MASK access, ULONG share, ULONG options, VMLib::UniqueFile& reopened) {
  // An empty name relative to a file handle opens that same file: what
  // ReOpenFile does on Windows, and what Wine 8 takes where its ReOpenFile
  // refuses a narrower sharing.
  HANDLE handle = nullptr;
  const NTSTATUS status = CreateRelative(item, std::wstring(), access, share, kOpenExisting, options,
                                         /*objectAttributes=*/0, &handle);
  if (!NT_SUCCESS(status)) return ToWin32(status);
  reopened.reset(handle);
  return 0;
}

bool NeedsWideIds(HANDLE root) {
  wchar_t fileSystem[MAX_PATH + 1] = {};
  if (!::GetVolumeInformationByHandleW(root, /*name=*/nullptr, 0, /*serial=*/nullptr, /*maxComponent=*/nullptr,
                                       /*flags=*/nullptr, fileSystem, MAX_PATH + 1)) {
    return false;
  }
  return ::CompareStringOrdinal(fileSystem, -1, L"ReFS", -1, /*ignoreCase=*/TRUE) == CSTR_EQUAL;
}

DWORD ReadId(HANDLE item, bool wideIds, ItemId& id) {
  id.wide = wideIds;
  if (wideIds) {
    FileIdInformation info = {};
    if (!::GetFileInformationByHandleEx(item, kFileIdInfo, &info, sizeof(info))) {
      const DWORD error = ::GetLastError();
      return error;
    }
    std::memcpy(&id.low, info.fileId, sizeof(id.low));
    std::memcpy(&id.high, info.fileId + sizeof(id.low), sizeof(id.high));
    return 0;
  }
  // The 64-bit index, read without the volume serial number, which Wine
  // asks its mount manager for on every FILE_ID_INFO call.
  IO_STATUS_BLOCK io = {};
  LARGE_INTEGER index = {};
  const NTSTATUS status = ::NtQueryInformationFile(item, &io, &index, sizeof(index), kFileInternalInformation);
  if (!NT_SUCCESS(status)) return ToWin32(status);
  id.high = 0;
  id.low = static_cast<uint64_t>(index.QuadPart);
  return 0;
}

DWORD ReadFacts(HANDLE item, bool wideIds, ItemFacts& facts) {
  FILE_ATTRIBUTE_TAG_INFO tag = {};
  FILE_STANDARD_INFO standard = {};
  if (!::GetFileInformationByHandleEx(item, FileAttributeTagInfo, &tag, sizeof(tag)) ||
      !::GetFileInformationByHandleEx(item, FileStandardInfo, &standard, sizeof(standard))) {
    const DWORD error = ::GetLastError();
    return error;
  }
  facts.attributes = tag.FileAttributes;
  facts.reparseTag = tag.ReparseTag;
  facts.links = standard.NumberOfLinks;
  return ReadId(item, wideIds, facts.id);
}

DWORD ReadLook(HANDLE item, ItemLook& look) {
  // Two classes read from the open file, where Wine answers the one class
  // that holds them all by asking its server for the file's name.
  FILE_BASIC_INFO basic = {};
  FILE_STANDARD_INFO standard = {};
  if (!::GetFileInformationByHandleEx(item, FileBasicInfo, &basic, sizeof(basic)) ||
      !::GetFileInformationByHandleEx(item, FileStandardInfo, &standard, sizeof(standard))) {
    const DWORD error = ::GetLastError();
    return error;
  }
  look = LookOf(basic.CreationTime, basic.LastWriteTime, basic.ChangeTime, standard.EndOfFile, basic.FileAttributes);
  return 0;
}

bool LooksAsBefore(const std::wstring& path, const ItemLook& look) {
  UNICODE_STRING ntPath = {};
  if (!::RtlDosPathNameToNtPathName_U(path.c_str(), &ntPath, /*filePart=*/nullptr, /*reserved=*/nullptr)) return false;
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &ntPath, OBJ_CASE_INSENSITIVE, /*root=*/nullptr, /*security=*/nullptr);
  NetworkOpenInformation info = {};
  const NTSTATUS status = ::NtQueryFullAttributesFile(&attributes, &info);
  ::RtlFreeUnicodeString(&ntPath);
  return NT_SUCCESS(status) &&
         LookOf(info.creationTime, info.lastWriteTime, info.changeTime, info.endOfFile, info.fileAttributes) == look;
}

DWORD PathOnVolume(HANDLE item, std::wstring& path) {
  // FILE_NAME_INFO ends in a name of variable length; DWORD elements keep
  // the structure aligned.
  std::vector<DWORD> buffer(16384 + 2);
  auto* name = reinterpret_cast<FILE_NAME_INFO*>(buffer.data());
  if (!::GetFileInformationByHandleEx(item, FileNameInfo, name, static_cast<DWORD>(buffer.size() * sizeof(DWORD)))) {
    const DWORD error = ::GetLastError();
    return error;
  }
  path.assign(name->FileName, name->FileNameLength / sizeof(wchar_t));
  return 0;
}

DWORD SetBasicInfo(HANDLE item, const FILE_BASIC_INFO& info) {
  FILE_BASIC_INFO basic = info;
  if (::SetFileInformationByHandle(item, FileBasicInfo, &basic, sizeof(basic))) return 0;
  const DWORD error = ::GetLastError();
  return error;
}

DWORD SetAttributes(HANDLE item, DWORD attributes) {
  FILE_BASIC_INFO basic = {};
  const DWORD settable = attributes & kSettableAttributes;
  // Zero would mean "leave unchanged"; NORMAL clears them all.
  basic.FileAttributes = settable != 0 ? settable : FILE_ATTRIBUTE_NORMAL;
  return SetBasicInfo(item, basic);
}

DWORD Truncate(HANDLE item) {
  FILE_END_OF_FILE_INFO end = {};
  if (::SetFileInformationByHandle(item, FileEndOfFileInfo, &end, sizeof(end))) return 0;
  const DWORD error = ::GetLastError();
  return error;
}

DWORD DeleteThrough(HANDLE item, const ItemFacts& facts) {
  IO_STATUS_BLOCK io = {};
  ULONG flags = kDispositionDelete | kDispositionPosixSemantics | kDispositionIgnoreReadOnly;
  NTSTATUS status = ::NtSetInformationFile(item, &io, &flags, sizeof(flags), kFileDispositionInformationEx);
  if (!Unsupported(status)) return ToWin32(status);

  // Without the Ex class (Wine 8, older Windows) read-only refuses the
  // deletion, so it is cleared through this handle, never by name: the
  // name may by now reach another file. Its other names keep the file,
  // and must keep its protection too.
  const DWORD protecting = facts.attributes & kProtectingAttributes;
  if (protecting != 0) {
    const DWORD clearStatus = SetAttributes(item, facts.attributes & ~kProtectingAttributes);
    if (clearStatus != 0) return clearStatus;
  }
  BOOLEAN deleteFile = TRUE;
  status = ::NtSetInformationFile(item, &io, &deleteFile, sizeof(deleteFile), kFileDispositionInformation);
  if (protecting != 0 && (facts.links > 1 || !NT_SUCCESS(status))) SetAttributes(item, facts.attributes);
  return ToWin32(status);
}

DWORD RenameThrough(HANDLE item, HANDLE targetFolder, const std::wstring& name, bool replaceExisting) {
  if (!IsOneComponent(name)) return ERROR_INVALID_NAME;
  const size_t nameBytes = name.size() * sizeof(wchar_t);
  // A name of variable length ends the structure; pointer-sized elements
  // keep it aligned.
  std::vector<ULONG_PTR> buffer((sizeof(RenameInformation) + nameBytes) / sizeof(ULONG_PTR) + 1);
  auto* rename = reinterpret_cast<RenameInformation*>(buffer.data());
  rename->rootDirectory = targetFolder;
  rename->fileNameLength = static_cast<ULONG>(nameBytes);
  name.copy(rename->fileName, name.size());
  const ULONG size = static_cast<ULONG>(buffer.size() * sizeof(ULONG_PTR));
  IO_STATUS_BLOCK io = {};
  rename->flags = kRenamePosixSemantics | kRenameIgnoreReadOnly | (replaceExisting ? kRenameReplaceIfExists : 0);
  NTSTATUS status = ::NtSetInformationFile(item, &io, rename, size, kFileRenameInformationEx);
  if (Unsupported(status)) {
    rename->flags = replaceExisting ? 1 : 0; // ReplaceIfExists, a BOOLEAN in the first byte
    status = ::NtSetInformationFile(item, &io, rename, size, kFileRenameInformation);
  }
  return ToWin32(status);
}

} // namespace items
