#include "items/HeldFolders.h"

#include <cwctype>
#include <utility>

namespace items {

namespace {

std::wstring Folded(const std::wstring& name) {
  std::wstring folded(name);
  for (wchar_t& c : folded) c = static_cast<wchar_t>(std::towupper(c));
  return folded;
}

std::wstring Join(const std::wstring& folder, const std::wstring& name) {
  return !folder.empty() && folder.back() == L'\\' ? folder + name : folder + L'\\' + name;
}

bool SameText(const std::wstring& a, const std::wstring& b) {
  return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                /*ignoreCase=*/TRUE) == CSTR_EQUAL;
}

// A name ends as the final path shows it: Wine 8 drops trailing periods and
// blanks there, though the item on disk keeps them.
std::wstring WithoutTrailingDots(std::wstring name) {
  while (!name.empty() && (name.back() == L'.' || name.back() == L' ')) name.pop_back();
  return name;
}

// The number of characters of the root at the start of `path`, or 0.
size_t RootLength(const std::wstring& path) {
  auto shareEnd = [&path](size_t serverStart) -> size_t {
    const size_t server = path.find(L'\\', serverStart);
    if (server == std::wstring::npos || server == serverStart) return 0;
    const size_t share = path.find(L'\\', server + 1);
    if (share == server + 1) return 0;
    return share == std::wstring::npos ? path.size() : share + 1;
  };
  if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0) return shareEnd(8);
  if (path.compare(0, 4, L"\\\\?\\") == 0) {
    return path.size() >= 6 && path[5] == L':' && (path.size() == 6 || path[6] == L'\\') ? 7 : 0;
  }
  if (path.compare(0, 2, L"\\\\") == 0) return shareEnd(2);
  return path.size() >= 2 && path[1] == L':' && (path.size() == 2 || path[2] == L'\\') ? 3 : 0;
}

} // namespace

std::wstring Refusal::Reason() const {
  switch (kind) {
  case Kind::Swapped:
    return L"'" + path + L"' is no longer the item that was there (it was replaced, by a link or another item, "
                         L"while the instance worked); it is left as it is";
  case Kind::NotOneComponent:
    return L"the name '" + path + L"' holds a separator or is \".\" or \"..\", so it cannot be used as one "
                                  L"name; it is left as it is";
  case Kind::FollowedLink:
    return L"'" + path + L"' reaches another item: it is a link that this system opens as what it leads to, or "
                         L"another name (such as a short name) of a file; both are left as they are";
  case Kind::None:
    break;
  }
  return std::wstring();
}

bool SplitRoot(const std::wstring& realPath, std::wstring& root, std::vector<std::wstring>& components) {
  const size_t rootLength = RootLength(realPath);
  if (rootLength == 0) return false;
  root = realPath.substr(0, rootLength);
  if (root.back() != L'\\') root += L'\\';
  components.clear();
  size_t start = rootLength;
  while (start < realPath.size()) {
    size_t end = realPath.find(L'\\', start);
    if (end == std::wstring::npos) end = realPath.size();
    if (end > start) components.push_back(realPath.substr(start, end - start));
    start = end + 1;
  }
  return true;
}

std::wstring HeldFolder::PathOf(const std::wstring& name) const { return Join(path, name); }

const Entry* HeldFolder::Find(const std::wstring& name) const {
  const auto found = entries.find(Folded(name));
  return found == entries.end() ? nullptr : &found->second;
}

void HeldFolders::Record(HeldFolder& parent, const std::wstring& name, const ItemFacts& facts) {
  Entry& entry = parent.entries[Folded(name)];
  entry.kind = facts.IsLink() ? Entry::Kind::Link : Entry::Kind::Plain;
  entry.id = facts.id;
  entry.attributes = facts.attributes;
}

void HeldFolders::RecordMade(HeldFolder& parent, const std::wstring& name, const ItemFacts& facts) {
  Record(parent, name, facts);
  parent.entries[Folded(name)].kind = Entry::Kind::Made;
}

void HeldFolders::Record(HeldFolder& parent, const FolderItem& item) {
  const auto [place, added] = parent.entries.try_emplace(Folded(item.name));
  Entry& entry = place->second;
  if (!added) {
    // Z: and shares served from Linux keep names that differ only in
    // case; which of them a later open reaches cannot be told.
    entry.kind = Entry::Kind::Ambiguous;
    return;
  }
  entry.kind = item.IsLink() ? Entry::Kind::Link : Entry::Kind::Plain;
  entry.id = item.id;
  entry.attributes = item.attributes;
}

void HeldFolders::Unrecord(HeldFolder& parent, const std::wstring& name) { parent.entries.erase(Folded(name)); }

void HeldFolders::Forget(const std::wstring& realPath) {
  // Keys that share the prefix without a separator ("a b" after "a") sort
  // among those below it, so the range is checked key by key.
  for (auto it = held_.lower_bound(realPath); it != held_.end() && it->first.compare(0, realPath.size(), realPath) == 0;) {
    const bool below = it->first.size() == realPath.size() || it->first[realPath.size()] == L'\\';
    it = below ? held_.erase(it) : std::next(it);
  }
}

HeldFolder& HeldFolders::Hold(const std::wstring& key, VMLib::UniqueFile handle, bool wideIds) {
  if (held_.size() >= capacity_) {
    // Folders of the walk under way were touched after it began and stay.
    auto oldest = held_.end();
    for (auto it = held_.begin(); it != held_.end(); ++it) {
      if (it->second.used < walkStart_ && (oldest == held_.end() || it->second.used < oldest->second.used)) {
        oldest = it;
      }
    }
    if (oldest != held_.end()) held_.erase(oldest);
  }
  HeldFolder& folder = held_[key];
  folder.handle = std::move(handle);
  folder.path = key;
  folder.wideIds = wideIds;
  folder.finalPath.clear();
  folder.entries.clear();
  Touch(folder);
  return folder;
}

DWORD HeldFolders::OpenChild(HeldFolder& parent, const std::wstring& name, const OpenRequest& request,
                             VMLib::UniqueFile& item, ItemFacts& facts, Refusal& refusal) {
  const std::wstring path = parent.PathOf(name);
  if (!IsOneComponent(name)) {
    refusal = Refusal{Refusal::Kind::NotOneComponent, path};
    return ERROR_INVALID_NAME;
  }
  const DWORD openStatus = OpenRelative(parent.handle.get(), name, request, item);
  if (openStatus != 0) return openStatus;
  const DWORD factsStatus = ReadFacts(item.get(), parent.wideIds, facts);
  if (factsStatus != 0) return factsStatus;

  const Entry* entry = parent.Find(name);
  if (entry != nullptr && entry->kind == Entry::Kind::Ambiguous) entry = nullptr;
  if (entry != nullptr) {
    // A link listed here and followed now leads to an item of its own id;
    // anything else must be the very item the folder showed.
    const bool plain = entry->kind == Entry::Kind::Plain || entry->kind == Entry::Kind::Made;
    const bool followedListedLink = entry->kind == Entry::Kind::Link && !request.linkItself;
    const bool becameLink = plain && request.linkItself && facts.IsLink();
    const bool otherKind = plain && ((entry->attributes ^ facts.attributes) & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (becameLink || otherKind || (!followedListedLink && Differ(entry->id, facts.id))) {
      item.reset();
      refusal = Refusal{Refusal::Kind::Swapped, path};
      return kErrorNotTheItem;
    }
    // Wine 8 shows a link to a folder by the bit in its listing only.
    if (entry->kind == Entry::Kind::Link && !facts.IsLink()) {
      facts.attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
      facts.reparseTag = 0;
    }
  }
  // A listed folder is vouched for by its id: Wine lists a link to a folder
  // as one. A listed file is not: Wine lists a link to a file as that file.
  const bool vouched = entry != nullptr && (entry->kind == Entry::Kind::Made ||
                                            (entry->kind == Entry::Kind::Plain && facts.IsFolder()));
  if (request.linkItself && !facts.IsLink() && !vouched && !ReachedByName(parent, name, item.get())) {
    facts.attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    facts.reparseTag = 0;
  }
  return 0;
}

bool HeldFolders::ReachedByName(HeldFolder& parent, const std::wstring& name, HANDLE item) {
  std::wstring reached;
  std::wstring folder = parent.finalPath;
  const DWORD itemStatus = FinalPathOf(item, reached);
  const DWORD folderStatus = folder.empty() ? FinalPathOf(parent.handle.get(), folder) : 0;
  if (itemStatus == ERROR_MORE_DATA || folderStatus == ERROR_MORE_DATA) {
    // Both in the form Wine can give for a long path.
    if (PathOnVolume(item, reached) != 0 || PathOnVolume(parent.handle.get(), folder) != 0) return true;
  } else if (itemStatus != 0 || folderStatus != 0) {
    // Where the system gives no final path, links open as themselves
    // (Windows), and the identity from the held walk stands.
    return true;
  } else {
    parent.finalPath = folder;
  }
  return SameText(reached, Join(folder, name)) || SameText(reached, Join(folder, WithoutTrailingDots(name)));
}

DWORD HeldFolders::OpenLevel(HeldFolder& parent, const std::wstring& name, bool make, VMLib::UniqueFile& handle,
                             ItemFacts& facts, Refusal& refusal) {
  const Entry* entry = parent.Find(name);
  OpenRequest request;
  request.access = kFolderAccess;
  request.options = FILE_DIRECTORY_FILE;
  // A level the folder showed as itself is opened as itself; one it showed
  // as a link, or never showed, is followed as the caller named it.
  request.linkItself = entry != nullptr && entry->kind == Entry::Kind::Plain;
  DWORD opened = OpenChild(parent, name, request, handle, facts, refusal);
  if (opened == ERROR_ACCESS_DENIED) {
    // A folder that may be passed through but not listed.
    request.access = FILE_TRAVERSE | FILE_READ_ATTRIBUTES;
    opened = OpenChild(parent, name, request, handle, facts, refusal);
  }
  DWORD status = opened;
  bool made = false;
  // A file in the way is tried as a new folder too, which fails with the
  // code a creation by name gives.
  if (make && (opened == ERROR_FILE_NOT_FOUND || opened == ERROR_PATH_NOT_FOUND || opened == ERROR_DIRECTORY)) {
    OpenRequest create = request;
    create.disposition = kCreateNew;
    create.linkItself = true;
    status = OpenChild(parent, name, create, handle, facts, refusal);
    made = status == 0;
    // Made by someone else in between: taken as any existing level.
    if (status == ERROR_ALREADY_EXISTS && opened != ERROR_DIRECTORY) status = OpenChild(parent, name, request, handle, facts, refusal);
  }
  if (status != 0 || entry != nullptr) return status;
  // A level followed as the caller named it is followed again by a later
  // walk, which expects the same folder at its end.
  Record(parent, name, facts);
  if (!facts.IsLink() && !made && !request.linkItself) parent.entries[Folded(name)].kind = Entry::Kind::Followed;
  return 0;
}

bool HeldFolders::Removed(const HeldFolder& folder) {
  // A removed folder keeps its handle: Windows shows it pending deletion,
  // and a system that counts a folder's names shows none. Wine 8 shows
  // neither (one name for every folder), so there a folder removed behind
  // the instance's back stays held, and what is done in it fails.
  FILE_STANDARD_INFO standard = {};
  if (!::GetFileInformationByHandleEx(folder.handle.get(), FileStandardInfo, &standard, sizeof(standard))) {
    return true;
  }
  return standard.DeletePending || standard.NumberOfLinks == 0;
}

DWORD HeldFolders::Walk(const std::wstring& realPath, bool make, const std::function<void()>* retry,
                        std::wstring* failed, HeldFolder*& folder, Refusal& refusal) {
  std::wstring root;
  std::vector<std::wstring> components;
  if (!SplitRoot(realPath, root, components)) return ERROR_INVALID_NAME;
  walkStart_ = clock_ + 1;

  std::vector<std::wstring> keys{root};
  for (const std::wstring& component : components) keys.push_back(Join(keys.back(), component));
  size_t level = keys.size();
  for (;;) {
    while (level > 0 && held_.count(keys[level - 1]) == 0) --level;
    if (level == 0 || !Removed(held_[keys[level - 1]])) break;
    // Removed by something else since it was held (a folder of that name
    // may stand there now): walked to again, like any folder not held.
    Forget(keys[level - 1]);
  }

  auto attempt = [&](auto&& step) {
    DWORD status = step();
    if (status != 0 && status != kErrorNotTheItem && make && retry != nullptr) {
      (*retry)();
      status = step();
    }
    return status;
  };
  if (level == 0) {
    VMLib::UniqueFile handle;
    const DWORD status = attempt([&] { return OpenRoot(root, handle); });
    if (status != 0) {
      if (failed != nullptr) *failed = root.substr(0, root.size() - 1);
      return status;
    }
    const bool wide = NeedsWideIds(handle.get());
    Hold(root, std::move(handle), wide);
    level = 1;
  }
  for (size_t i = 0; i < level; ++i) {
    const auto found = held_.find(keys[i]);
    if (found != held_.end()) Touch(found->second);
  }
  for (; level < keys.size(); ++level) {
    HeldFolder& parent = held_[keys[level - 1]];
    VMLib::UniqueFile handle;
    ItemFacts facts;
    const std::wstring& name = components[level - 1];
    const DWORD status = attempt([&] { return OpenLevel(parent, name, make, handle, facts, refusal); });
    if (status != 0) {
      if (failed != nullptr) *failed = keys[level];
      return status;
    }
    Hold(keys[level], std::move(handle), parent.wideIds);
  }
  folder = &held_[keys.back()];
  return 0;
}

DWORD HeldFolders::Folder(const std::wstring& realPath, HeldFolder*& folder, Refusal& refusal) {
  return Walk(realPath, /*make=*/false, /*retry=*/nullptr, /*failed=*/nullptr, folder, refusal);
}

DWORD HeldFolders::MakeFolder(const std::wstring& realPath, const std::function<void()>& retry, std::wstring& failed,
                              Refusal& refusal) {
  HeldFolder* folder = nullptr;
  return Walk(realPath, /*make=*/true, &retry, &failed, folder, refusal);
}

bool SplitParent(const std::wstring& realPath, std::wstring& folder, std::wstring& name) {
  std::vector<std::wstring> components;
  if (!SplitRoot(realPath, folder, components) || components.empty()) return false;
  name = components.back();
  components.pop_back();
  for (const std::wstring& component : components) folder = Join(folder, component);
  return true;
}

const HeldFolder* HeldFolders::HeldParent(const std::wstring& realPath, std::wstring& name) const {
  std::wstring folder;
  if (!SplitParent(realPath, folder, name)) return nullptr;
  const auto held = held_.find(folder);
  return held == held_.end() ? nullptr : &held->second;
}

DWORD HeldFolders::OpenItem(const std::wstring& realPath, const OpenRequest& request, VMLib::UniqueFile& item,
                            ItemFacts& facts, Refusal& refusal, HeldFolder*& parent, std::wstring& name) {
  const DWORD status = Parent(realPath, parent, name, refusal);
  return status != 0 ? status : OpenChild(*parent, name, request, item, facts, refusal);
}

DWORD HeldFolders::Parent(const std::wstring& realPath, HeldFolder*& parent, std::wstring& name, Refusal& refusal) {
  std::wstring folderPath;
  if (!SplitParent(realPath, folderPath, name)) return ERROR_INVALID_NAME;
  return Folder(folderPath, parent, refusal);
}

} // namespace items
