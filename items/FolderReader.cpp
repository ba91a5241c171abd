#include "items/FolderReader.h"

#include <cstring>

namespace items {

namespace {

// FILE_ID_EXTD_DIR_INFO and its classes, which MinGW declares only for
// Windows 8 and later: the only system with 128-bit ids (ReFS) came with it.
constexpr auto kFileIdExtdDirectoryInfo = static_cast<FILE_INFO_BY_HANDLE_CLASS>(19);
constexpr auto kFileIdExtdDirectoryRestartInfo = static_cast<FILE_INFO_BY_HANDLE_CLASS>(20);
struct ExtendedEntry {
  ULONG NextEntryOffset;
  ULONG FileIndex;
  LARGE_INTEGER CreationTime;
  LARGE_INTEGER LastAccessTime;
  LARGE_INTEGER LastWriteTime;
  LARGE_INTEGER ChangeTime;
  LARGE_INTEGER EndOfFile;
  LARGE_INTEGER AllocationSize;
  ULONG FileAttributes;
  ULONG FileNameLength;
  ULONG EaSize;
  ULONG ReparsePointTag;
  BYTE FileId[16];
  WCHAR FileName[1];
};

DWORD TagOf(const FILE_ID_BOTH_DIR_INFO& info) { return info.EaSize; } // a reparse point's tag sits there
DWORD TagOf(const ExtendedEntry& info) { return info.ReparsePointTag; }

template <typename Info>
void Take(const Info& info, FolderItem& item) {
  item.name.assign(info.FileName, info.FileNameLength / sizeof(wchar_t));
  item.attributes = info.FileAttributes;
  item.reparseTag = (info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? TagOf(info) : 0;
  item.creationTime = {info.CreationTime.LowPart, static_cast<DWORD>(info.CreationTime.HighPart)};
  item.lastAccessTime = {info.LastAccessTime.LowPart, static_cast<DWORD>(info.LastAccessTime.HighPart)};
  item.lastWriteTime = {info.LastWriteTime.LowPart, static_cast<DWORD>(info.LastWriteTime.HighPart)};
  item.size = static_cast<uint64_t>(info.EndOfFile.QuadPart);
}

bool IsDotEntry(const std::wstring& name) { return name == L"." || name == L".."; }

} // namespace

bool FolderReader::Fill() {
  // The restart classes read from the start however often the held
  // folder has been read before.
  const FILE_INFO_BY_HANDLE_CLASS infoClass =
      wideIds_ ? (started_ ? kFileIdExtdDirectoryInfo : kFileIdExtdDirectoryRestartInfo)
               : (started_ ? FileIdBothDirectoryInfo : FileIdBothDirectoryRestartInfo);
  const bool first = !started_;
  started_ = true;
  if (!::GetFileInformationByHandleEx(folder_, infoClass, buffer_.data(),
                                      static_cast<DWORD>(buffer_.size() * sizeof(uint64_t)))) {
    const DWORD error = ::GetLastError();
    done_ = true;
    if (error == ERROR_NO_MORE_FILES) {
      empty_ = first;
      return false;
    }
    error_ = error;
    return false;
  }
  offset_ = 0;
  pending_ = true;
  return true;
}

FolderReader::Result FolderReader::Next() {
  for (;;) {
    if (!pending_) {
      if (done_ || !Fill()) return error_ != 0 ? Result::Error : Result::Done;
    }
    const auto* bytes = reinterpret_cast<const char*>(buffer_.data()) + offset_;
    ULONG next = 0;
    if (wideIds_) {
      const auto& info = *reinterpret_cast<const ExtendedEntry*>(bytes);
      Take(info, item_);
      std::memcpy(&item_.id.low, info.FileId, sizeof(item_.id.low));
      std::memcpy(&item_.id.high, info.FileId + sizeof(item_.id.low), sizeof(item_.id.high));
      next = info.NextEntryOffset;
    } else {
      const auto& info = *reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(bytes);
      Take(info, item_);
      item_.id = ItemId{0, static_cast<uint64_t>(info.FileId.QuadPart)};
      next = info.NextEntryOffset;
    }
    if (next == 0) {
      pending_ = false;
    } else {
      offset_ += next;
    }
    if (!IsDotEntry(item_.name)) return Result::Entry;
  }
}

} // namespace items
