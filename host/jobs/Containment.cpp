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
// does not reach it under this name). `resolved` receives the path with
// every link resolved, when asked for.
VMLib::UniqueFile OpenReached(const std::wstring& path) {
  return VMLib::UniqueFile(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, /*security=*/nullptr,
                                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, /*templateFile=*/nullptr));
}

std::optional<FolderId> IdentityThrough(const VMLib::UniqueFile& item) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!item || !::GetFileInformationByHandle(item.get(), &info)) return std::nullopt;
  return FolderId{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
}

std::optional<FolderId> LocalIdentityOf(const std::wstring& path, std::wstring* resolved = nullptr) {
  const VMLib::UniqueFile item = OpenReached(path);
  const std::optional<FolderId> identity = IdentityThrough(item);
  if (identity && resolved != nullptr) items::FinalPathOf(item.get(), *resolved);
  return identity;
}

// `path` and every folder above it, as spelled and as resolved from its
// nearest existing level: a link on the way may lead somewhere that its
// spelled parents are not.
std::vector<FolderId> FoldersUpFrom(const std::wstring& path) {
  std::vector<FolderId> folders;
  std::wstring resolved;
  for (std::wstring level = path; !level.empty(); level = Parent(level)) {
    const std::optional<FolderId> id = LocalIdentityOf(level, resolved.empty() ? &resolved : nullptr);
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

// By name alone, for what Windows does not reach under the drive letter (a
// network drive the plug-in maps to its share): the drive letter and the
// names without regard to case, whatever stands in the place holder.
bool SpelledWithin(const std::wstring& inner, const std::wstring& outer) {
  if (inner.size() < outer.size() || !SameName(inner.substr(0, 1), outer.substr(0, 1))) return false;
  if (!SameName(inner.substr(2, outer.size() - 2), outer.substr(2))) return false;
  return inner.size() == outer.size() || inner[outer.size()] == L'\\';
}

} // namespace

std::optional<FolderId> IdentityOf(const std::wstring& virtualPath) {
  return LocalIdentityOf(LocalPathOf(virtualPath));
}

bool LeadsTo(const std::wstring& virtualPath, const std::optional<FolderId>& folder) {
  if (!folder) return false;
  const VMLib::UniqueFile item = OpenReached(LocalPathOf(virtualPath));
  // The file index comes from the open folder itself; the volume's serial
  // number, which Wine asks its mount manager for (several requests to the
  // server each time), is read only to confirm a matching index.
  items::ItemId index;
  if (item && items::ReadId(item.get(), /*wideIds=*/false, index) == 0 && index.Known() &&
      index.low != ((static_cast<ULONGLONG>(folder->indexHigh) << 32) | folder->indexLow)) {
    return false;
  }
  return IdentityThrough(item) == folder;
}

void RequireSeparateTrees(const std::wstring& from, const std::wstring& to) {
  if (from.size() < 2 || to.size() < 2) return;
  const std::wstring source = LocalPathOf(from);
  const std::wstring target = LocalPathOf(to);
  const std::optional<FolderId> sourceId = LocalIdentityOf(source);
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
