#include "host/jobs/Containment.h"

#include <optional>
#include <vector>

#include "host/jobs/TreeWalk.h"
#include "host/session/HostError.h"
#include "host/session/LocalFile.h"
#include "host/session/Text.h"
#include "items/HandleActs.h"
#include "vmlib/ScopedHandle.h"
#include "vmlib/WindowsApi.h"

namespace host {

namespace {

// Characters of the drive's root at the start of a "\\?\" path: "\\?\C:\"
// or "\\?\UNC\server\share\".
size_t RootLength(const std::wstring& path) {
  const std::wstring unc = L"\\\\?\\UNC\\";
  if (path.compare(0, unc.size(), unc) != 0) return 7;
  const size_t server = path.find(L'\\', unc.size());
  const size_t share = server == std::wstring::npos ? server : path.find(L'\\', server + 1);
  return share == std::wstring::npos ? path.size() : share + 1;
}

// `path` one level up; empty above the drive's root.
std::wstring Parent(const std::wstring& path) {
  const size_t root = RootLength(path);
  if (path.size() <= root) return L"";
  const size_t separator = path.rfind(L'\\');
  return separator < root ? path.substr(0, root) : path.substr(0, separator);
}

// Nothing when the item cannot be opened (it does not exist, or Windows
// does not reach it under this name), with the reason in `error`.
VMLib::UniqueFile OpenReached(const std::wstring& path, DWORD& error) {
  VMLib::UniqueFile item(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, items::kShareAll, /*security=*/nullptr,
                                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, /*templateFile=*/nullptr));
  error = item ? ERROR_SUCCESS : ::GetLastError();
  return item;
}

// Wine cannot read the serial number of most drives and gives each drive
// letter a stand-in of its own, the letter in the top byte, so one item
// reached under two letters differs in its serial alone (see FolderId).
bool IsStandIn(DWORD serial) {
  const DWORD letter = serial >> 24;
  return (serial & 0xFFFFFF) == 0 && letter >= L'A' && letter <= L'Z';
}

// The item opened as `item` from `path`.
std::optional<FolderId> IdentityThrough(const VMLib::UniqueFile& item, const std::wstring& path, DWORD& error) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!item) return std::nullopt;
  if (!::GetFileInformationByHandle(item.get(), &info)) {
    error = ::GetLastError();
    return std::nullopt;
  }
  FolderId identity{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
  // Asked of a folder: the volume under it, a mount point's included.
  ULARGE_INTEGER total{};
  const std::wstring folder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? path : Parent(path);
  if (IsStandIn(identity.volume) && ::GetDiskFreeSpaceExW(folder.c_str(), nullptr, &total, nullptr)) {
    identity.volumeBytes = total.QuadPart;
  }
  return identity;
}

// `resolved` receives the path with every link resolved, when asked for.
std::optional<FolderId> LocalIdentityOf(const std::wstring& path, DWORD& error, std::wstring* resolved = nullptr) {
  const VMLib::UniqueFile item = OpenReached(path, error);
  const std::optional<FolderId> identity = IdentityThrough(item, path, error);
  if (identity && resolved != nullptr) items::FinalPathOf(item.get(), *resolved);
  return identity;
}

std::optional<FolderId> LocalIdentityOf(const std::wstring& path) {
  DWORD error = ERROR_SUCCESS;
  return LocalIdentityOf(path, error);
}

// `path` and every folder above it, as spelled and as resolved from its
// nearest existing level: a link on the way may lead somewhere that its
// spelled parents are not.
std::vector<FolderId> FoldersUpFrom(const std::wstring& path) {
  std::vector<FolderId> folders;
  std::wstring resolved;
  for (std::wstring level = path; !level.empty(); level = Parent(level)) {
    DWORD error = ERROR_SUCCESS;
    const std::optional<FolderId> id = LocalIdentityOf(level, error, resolved.empty() ? &resolved : nullptr);
    if (id) folders.push_back(*id);
  }
  for (std::wstring level = resolved; !level.empty(); level = Parent(level)) {
    const std::optional<FolderId> id = LocalIdentityOf(level);
    if (id) folders.push_back(*id);
  }
  return folders;
}

bool Contains(const std::vector<FolderId>& folders, const std::optional<FolderId>& folder) {
  if (!folder) return false;
  for (const FolderId& each : folders) {
    if (each == *folder) return true;
  }
  return false;
}

// By name as well, where no identity tells: the drive letter and the names
// without regard to case, whatever stands in the place holder.
bool SpelledWithin(const std::wstring& inner, const std::wstring& outer) {
  if (inner.size() < outer.size() || !SameName(inner.substr(0, 1), outer.substr(0, 1))) return false;
  if (!SameName(inner.substr(2, outer.size() - 2), outer.substr(2))) return false;
  return inner.size() == outer.size() || inner[outer.size()] == L'\\';
}

// Opens `path` into `item` and reads the file index alone: no request for
// the volume's serial number, so cheap enough to ask of every folder.
std::optional<ULONGLONG> IndexAt(const std::wstring& path, VMLib::UniqueFile& item, DWORD& error) {
  item = OpenReached(path, error);
  items::ItemId index;
  if (item && items::ReadId(item.get(), /*wideIds=*/false, index) == 0 && index.Known()) return index.low;
  const std::optional<FolderId> identity = IdentityThrough(item, path, error);
  if (!identity) return std::nullopt;
  return identity->Index();
}

std::wstring CannotTell(const std::wstring& what, DWORD error) {
  return L"cannot tell whether " + what + L": " + SystemErrorText(error);
}

} // namespace

bool FolderId::operator==(const FolderId& other) const {
  if (indexHigh != other.indexHigh || indexLow != other.indexLow) return false;
  if (volumeBytes != 0 || other.volumeBytes != 0) return volumeBytes == other.volumeBytes;
  return volume == other.volume;
}

std::wstring NotACopy(const std::wstring& original, const std::wstring& copy) {
  const std::wstring link = LinkAt(copy);
  if (!link.empty()) return link;
  const std::wstring copyPath = LocalPathOf(copy);
  const std::wstring originalPath = LocalPathOf(original);
  DWORD error = ERROR_SUCCESS;
  VMLib::UniqueFile copied;
  VMLib::UniqueFile source;
  const std::optional<ULONGLONG> copyIndex = IndexAt(copyPath, copied, error);
  const std::optional<ULONGLONG> originalIndex = copyIndex ? IndexAt(originalPath, source, error) : std::nullopt;
  const std::wstring what = Quoted(copy) + L" is SRC's file " + Quoted(original) + L" under a second name";
  if (!originalIndex) return CannotTell(what, error);
  if (*copyIndex != *originalIndex) return L"";
  const std::optional<FolderId> copyId = IdentityThrough(copied, copyPath, error);
  const std::optional<FolderId> originalId = IdentityThrough(source, originalPath, error);
  if (!copyId || !originalId) return CannotTell(what, error);
  return *copyId == *originalId ? what + L" (a hard link)" : L"";
}

void SourceFolders::Add(const std::wstring& relative) {
  DWORD error = ERROR_SUCCESS;
  VMLib::UniqueFile folder;
  const std::optional<ULONGLONG> index = IndexAt(LocalPathOf(ChildPath(from_, relative)), folder, error);
  if (index) {
    byIndex_.emplace(*index, relative);
  } else {
    unreached_[relative] = CannotTell(L"a folder of DST is this folder under another name", error) +
                           L"; it is not copied";
  }
}

const std::wstring* SourceFolders::Unreached(const std::wstring& relative) const {
  const auto found = unreached_.find(relative);
  return found == unreached_.end() ? nullptr : &found->second;
}

std::optional<std::wstring> SourceFolders::Find(const std::wstring& virtualPath, std::wstring& problem) const {
  const std::wstring path = LocalPathOf(virtualPath);
  DWORD error = ERROR_SUCCESS;
  VMLib::UniqueFile folder;
  const std::optional<ULONGLONG> index = IndexAt(path, folder, error);
  std::optional<FolderId> identity;
  const auto [first, last] = byIndex_.equal_range(index.value_or(0));
  if (index && first == last) return std::nullopt;
  if (index) identity = IdentityThrough(folder, path, error);
  if (!identity) {
    problem = CannotTell(Quoted(virtualPath) + L" is a folder of SRC under another name", error);
    return std::nullopt;
  }
  for (auto match = first; match != last; ++match) {
    if (LocalIdentityOf(LocalPathOf(ChildPath(from_, match->second))) == identity) return match->second;
  }
  return std::nullopt;
}

std::optional<FolderId> IdentityOf(const std::wstring& virtualPath) {
  return LocalIdentityOf(LocalPathOf(virtualPath));
}

bool LeadsTo(const std::wstring& virtualPath, const std::optional<FolderId>& folder) {
  if (!folder) return false;
  DWORD error = ERROR_SUCCESS;
  const std::wstring path = LocalPathOf(virtualPath);
  VMLib::UniqueFile item;
  // The volume's serial number, which Wine asks its mount manager for
  // (several requests to the server each time), is read only to confirm a
  // matching index.
  const std::optional<ULONGLONG> index = IndexAt(path, item, error);
  if (!index || *index != folder->Index()) return false;
  return IdentityThrough(item, path, error) == folder;
}

void RequireSeparateTrees(const std::wstring& from, const std::wstring& to) {
  if (from.size() < 2 || to.size() < 2) return;
  const std::wstring source = LocalPathOf(from);
  const std::wstring target = LocalPathOf(to);
  DWORD error = ERROR_SUCCESS;
  const std::optional<FolderId> sourceId = LocalIdentityOf(source, error);
  // What the host cannot reach it cannot tell apart. DST may not exist yet,
  // and one that cannot be reached is checked where the copy would write
  // into it (under Wine a folder that cannot be read cannot be opened at
  // all, though files can be written into it).
  if (!sourceId) {
    throw HostError(L"SRC " + Quoted(from) + L" cannot be reached at " + Quoted(source) +
                    L" to tell it apart from DST: " + SystemErrorText(error));
  }
  const std::optional<FolderId> targetId = LocalIdentityOf(target);
  if ((sourceId && targetId && *sourceId == *targetId) || (SpelledWithin(to, from) && SpelledWithin(from, to))) {
    throw HostError(L"SRC " + Quoted(from) + L" and DST " + Quoted(to) + L" are the same folder");
  }
  if (Contains(FoldersUpFrom(target), sourceId) || SpelledWithin(to, from)) {
    throw HostError(L"DST " + Quoted(to) + L" lies inside SRC " + Quoted(from));
  }
  if (Contains(FoldersUpFrom(source), targetId) || SpelledWithin(from, to)) {
    throw HostError(L"SRC " + Quoted(from) + L" lies inside DST " + Quoted(to));
  }
}

} // namespace host
