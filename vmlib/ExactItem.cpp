#include "vmlib/ExactItem.h"

#include <cwchar>
#include <utility>
#include <vector>

#include <winternl.h>

namespace VMLib {

namespace {

bool SameText(const std::wstring& a, const std::wstring& b) {
  return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                /*ignoreCase=*/TRUE) == CSTR_EQUAL;
}

// The "\\?\" form GetFinalPathNameByHandleW answers in, for a path given
// as "\\?\C:\x", "C:\x" or "\\server\share\x".
std::wstring LongForm(const std::wstring& path) {
  if (path.compare(0, 4, L"\\\\?\\") == 0) return path;
  if (path.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + path.substr(2);
  return L"\\\\?\\" + path;
}

std::wstring WithoutTrailingSeparators(std::wstring path) {
  while (path.size() > 1 && path.back() == L'\\') path.pop_back();
  return path;
}

// Where a handle leads, as the volume's serial number and the path on that
// volume: the form that stands in for the final path where Wine 8 cannot
// give one (its GetFinalPathNameByHandleW fails with ERROR_MORE_DATA for a
// path longer than MAX_PATH characters, whatever the buffer).
uint32_t VolumePathOf(HANDLE handle, std::wstring& path) {
  BY_HANDLE_FILE_INFORMATION identity = {};
  if (!::GetFileInformationByHandle(handle, &identity)) {
    const DWORD error = ::GetLastError();
    return error;
  }
  // FILE_NAME_INFO ends in a name of variable length; DWORD elements keep
  // the structure aligned.
  std::vector<DWORD> buffer(16384 + 2);
  auto* name = reinterpret_cast<FILE_NAME_INFO*>(buffer.data());
  if (!::GetFileInformationByHandleEx(handle, FileNameInfo, name, static_cast<DWORD>(buffer.size() * sizeof(DWORD)))) {
    const DWORD error = ::GetLastError();
    return error;
  }
  wchar_t serial[16];
  ::swprintf(serial, 16, L"%08lX", static_cast<unsigned long>(identity.dwVolumeSerialNumber));
  path = L"volume " + std::wstring(serial) + L":" +
         std::wstring(name->FileName, name->FileNameLength / sizeof(wchar_t));
  return 0;
}

// The final path, or the volume form when the final path is too long for
// this system; `volumeForm` asks for the latter from the start.
uint32_t ReachedPathOf(HANDLE handle, bool& volumeForm, std::wstring& path) {
  if (!volumeForm) {
    const uint32_t status = FinalPathOf(handle, path);
    if (status != ERROR_MORE_DATA) return status;
    volumeForm = true;
  }
  return VolumePathOf(handle, path);
}

// Opens the item itself where the system allows it: Windows opens a link
// itself with FILE_FLAG_OPEN_REPARSE_POINT; Wine 8 opens what it leads to,
// which the final path then gives away.
UniqueFile OpenNamed(const std::wstring& path, DWORD access) {
  return UniqueFile(::CreateFileW(path.c_str(), access | FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, /*security=*/nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                  /*templateFile=*/nullptr));
}

// Opens a folder the way every program reaches it, links on the way followed.
UniqueFile OpenFolder(const std::wstring& path) {
  return UniqueFile(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, /*security=*/nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, /*templateFile=*/nullptr));
}

// Read-only, hidden and system stand in the way of a deletion (and of
// replacing a file); the other settable bits do not.
constexpr DWORD kProtectingAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

} // namespace

bool IsNameSurrogate(DWORD attributes, DWORD reparseTag) {
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return false;
  // Wine 8 reports a link to a folder with the reparse bit but tag 0, in
  // find records and in FileAttributeTagInfo alike; a reparse point whose
  // kind is unknown is safest taken for a link.
  return reparseTag == 0 || IsReparseTagNameSurrogate(reparseTag);
}

uint32_t FinalPathOf(HANDLE handle, std::wstring& path) {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = ::GetFinalPathNameByHandleW(handle, buffer.data(), static_cast<DWORD>(buffer.size()),
                                                     FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) {
      const DWORD error = ::GetLastError();
      return error;
    }
    // Too small a buffer gives the size needed, terminator included.
    if (length < buffer.size()) {
      path.assign(buffer.data(), length);
      return 0;
    }
    buffer.resize(length);
  }
}

bool FileIndexOf(HANDLE handle, ULONGLONG& index) {
  // FILE_INTERNAL_INFORMATION, which only the driver kit's headers declare.
  constexpr auto kFileInternalInformation = static_cast<FILE_INFORMATION_CLASS>(6);
  IO_STATUS_BLOCK io = {};
  LARGE_INTEGER internal = {};
  if (!NT_SUCCESS(::NtQueryInformationFile(handle, &io, &internal, sizeof(internal), kFileInternalInformation))) {
    return false;
  }
  index = static_cast<ULONGLONG>(internal.QuadPart);
  return index != 0;
}

uint32_t ExactItem::Open(const std::wstring& path, DWORD access) {
  UniqueFile handle = OpenNamed(path, access);
  if (!handle) {
    const DWORD error = ::GetLastError();
    return error;
  }
  return Adopt(path, std::move(handle));
}

uint32_t ExactItem::OpenMade(const std::wstring& path, DWORD access, ULONGLONG made) {
  UniqueFile handle = OpenNamed(path, access);
  if (!handle) {
    const DWORD error = ::GetLastError();
    return error;
  }
  ULONGLONG reached = 0;
  FILE_ATTRIBUTE_TAG_INFO tag = {};
  if (!FileIndexOf(handle.get(), reached) || reached != made ||
      !::GetFileInformationByHandleEx(handle.get(), FileAttributeTagInfo, &tag, sizeof(tag))) {
    return Adopt(path, std::move(handle));
  }
  handle_ = std::move(handle);
  finalPath_.clear();
  attributes_ = tag.FileAttributes;
  match_ = IsNameSurrogate(tag.FileAttributes, tag.ReparseTag) ? Match::Link : Match::Exact;
  return 0;
}

uint32_t ExactItem::Adopt(const std::wstring& path, UniqueFile handle) {
  handle_ = std::move(handle);
  finalPath_.clear();
  attributes_ = 0;
  match_ = Match::Elsewhere;
  return Check(path);
}

uint32_t ExactItem::Check(const std::wstring& path) {
  FILE_ATTRIBUTE_TAG_INFO tag = {};
  if (!::GetFileInformationByHandleEx(handle_.get(), FileAttributeTagInfo, &tag, sizeof(tag))) {
    const DWORD error = ::GetLastError();
    return error;
  }
  attributes_ = tag.FileAttributes;
  bool volumeForm = false;
  const uint32_t finalStatus = ReachedPathOf(handle_.get(), volumeForm, finalPath_);
  if (finalStatus != 0) return finalStatus;

  // The handle is the named item when what it reached is the named folder's
  // own final path plus the name. Compared without case, as Windows names
  // are; a short name, a link opened as its target and a trailing period
  // that Windows dropped all give another final name. Most paths are
  // spelled as the system resolves them, which spares opening the folder.
  const std::wstring named = WithoutTrailingSeparators(path);
  bool same = !volumeForm && SameText(finalPath_, LongForm(named));
  const size_t separator = named.rfind(L'\\');
  if (!same && separator != std::wstring::npos && separator + 1 < named.size()) {
    const UniqueFile folder = OpenFolder(named.substr(0, separator + 1));
    std::wstring folderPath;
    if (folder && ReachedPathOf(folder.get(), volumeForm, folderPath) == 0) {
      folderPath = WithoutTrailingSeparators(folderPath);
      same = SameText(finalPath_, folderPath + L'\\' + named.substr(separator + 1));
    }
  }
  if (same) match_ = IsNameSurrogate(tag.FileAttributes, tag.ReparseTag) ? Match::Link : Match::Exact;
  return 0;
}

uint32_t ExactItem::Delete() {
  if (!ActsOnNamedItem()) return kErrorReachedOtherItem;
  if (attributes_ & kProtectingAttributes) {
    FILE_BASIC_INFO basic = {};
    const DWORD kept = attributes_ & kSettableAttributes & ~kProtectingAttributes;
    basic.FileAttributes = kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL;
    const uint32_t clearStatus = SetBasicInfo(basic);
    if (clearStatus != 0) return clearStatus;
  }
  return MarkForDeletion();
}

uint32_t ExactItem::UndoCreation() { return MarkForDeletion(); }

uint32_t ExactItem::MarkForDeletion() {
  FILE_DISPOSITION_INFO disposition = {};
  disposition.DeleteFile = TRUE;
  if (!::SetFileInformationByHandle(handle_.get(), FileDispositionInfo, &disposition, sizeof(disposition))) {
    const DWORD error = ::GetLastError();
    return error;
  }
  // The item goes when its last handle closes; the caller may remove its
  // folder right after.
  handle_.reset();
  return 0;
}

uint32_t ExactItem::MoveTo(const std::wstring& target, bool replaceExisting) {
  if (!ActsOnNamedItem()) return kErrorReachedOtherItem;
  // FILE_RENAME_INFO ends in a name of variable length; DWORD elements keep
  // the structure aligned.
  const size_t nameBytes = target.size() * sizeof(wchar_t);
  const size_t size = sizeof(FILE_RENAME_INFO) + nameBytes;
  std::vector<DWORD> buffer((size + sizeof(DWORD) - 1) / sizeof(DWORD));
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = replaceExisting ? TRUE : FALSE;
  rename->RootDirectory = nullptr;
  rename->FileNameLength = static_cast<DWORD>(nameBytes);
  target.copy(rename->FileName, target.size());
  if (!::SetFileInformationByHandle(handle_.get(), FileRenameInfo, rename, static_cast<DWORD>(size))) {
    const DWORD error = ::GetLastError();
    return error;
  }
  return 0;
}

uint32_t ExactItem::SetBasicInfo(const FILE_BASIC_INFO& info) {
  if (!ActsOnNamedItem()) return kErrorReachedOtherItem;
  FILE_BASIC_INFO basic = info;
  if (!::SetFileInformationByHandle(handle_.get(), FileBasicInfo, &basic, sizeof(basic))) {
    const DWORD error = ::GetLastError();
    return error;
  }
  if (basic.FileAttributes != 0) {
    attributes_ = (attributes_ & ~kSettableAttributes) | (basic.FileAttributes & kSettableAttributes);
  }
  return 0;
}

} // namespace VMLib
