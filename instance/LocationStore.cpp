#include "instance/LocationStore.h"

#include <algorithm>
#include <functional>
#include <utility>

#include "vmlib/DirectoryReader.h"
#include "vmlib/WindowsApi.h"

#include <winnetwk.h>

namespace {

// Overwrites a secret before its memory goes back to the heap.
class WipedOnExit {
public:
  explicit WipedOnExit(std::wstring& secret) : secret_(secret) {}
  ~WipedOnExit() {
    if (!secret_.empty()) ::SecureZeroMemory(&secret_[0], secret_.size() * sizeof(wchar_t));
  }
  WipedOnExit(const WipedOnExit&) = delete;
  WipedOnExit& operator=(const WipedOnExit&) = delete;

private:
  std::wstring& secret_;
};

} // namespace

// Depth first in search order (a folder's files right after the folder
// itself). Links to folders are not followed, so a link back up the tree
// cannot loop and a link elsewhere cannot bring in another folder's
// locations; a folder that cannot be read is passed over, with a warning,
// so that one bad folder does not hide the others.
void LocationStore::ForEachLocationFile(const std::function<void(const std::wstring&)>& visit) const {
  std::vector<std::pair<std::wstring, VMLib::DirectoryReader>> stack;
  stack.emplace_back(settingsDirectory, VMLib::DirectoryReader());
  if (settingsDirectory.empty() || !stack.back().second.Open(settingsDirectory)) return;
  while (!stack.empty()) {
    VMLib::DirectoryReader& reader = stack.back().second;
    if (reader.Next() != VMLib::DirectoryReader::Result::Entry) {
      stack.pop_back();
      continue;
    }
    const std::wstring name = reader.Name();
    const std::wstring path = stack.back().first + L"\\" + name;
    if (reader.IsFolder()) {
      if (reader.IsLink()) continue;
      VMLib::DirectoryReader child;
      if (child.Open(path)) {
        stack.emplace_back(path, std::move(child)); // invalidates `reader`
      } else {
        log_.LogSystemError(Warning, child.Error(),
                            L"Computer: cannot read the folder '%s' below the data folder; the network locations "
                            L"in it are left out",
                            path.c_str());
      }
      continue;
    }
    // A link to a file counts when what it points at is a file.
    if (reader.IsLink()) {
      const DWORD attributes = ::GetFileAttributesW(path.c_str());
      if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
    }
    visit(name);
  }
}

uint64_t LocationStore::CountLocationFiles() const {
  uint64_t count = 0;
  ForEachLocationFile([&count](const std::wstring&) { ++count; });
  return count;
}

void LocationStore::ConnectLocations() {
  // The strings live for the whole walk on purpose: a parameter the host does
  // not answer keeps the previous location's value. The password is wiped
  // when the walk ends; room reserved up front keeps the host's answers from
  // moving it to new memory and leaving an old copy behind.
  std::wstring item, user, password, drive, share;
  password.reserve(256);
  WipedOnExit wipe(password);
  ForEachLocationFile([&](const std::wstring& name) {
    item = name;
    host_->GetItemParameter(item.c_str(), L"NetworkUser", user);
    host_->GetItemParameter(item.c_str(), L"NetworkPassword", password);
    host_->GetItemParameter(item.c_str(), L"LocalDrive", drive);
    host_->GetItemParameter(item.c_str(), L"ShareName", share);

    if (std::find(connectedDrives.begin(), connectedDrives.end(), drive) != connectedDrives.end()) return;
    connectedDrives.push_back(drive);

    // A stale redirection of the share would make the add fail; results are
    // deliberately ignored, the listing shows whether the drive came up.
    ::WNetCancelConnection2W(share.c_str(), /*flags=*/0, /*force=*/TRUE);
    NETRESOURCEW resource = {};
    resource.dwScope = 0;
    resource.dwType = RESOURCETYPE_DISK;
    resource.dwDisplayType = 0;
    resource.dwUsage = 0;
    resource.lpLocalName = &drive[0];
    resource.lpRemoteName = &share[0];
    // Flags 0: a connection Windows does not remember for the next logon.
    ::WNetAddConnection2W(&resource, password.c_str(), user.c_str(), /*flags=*/0);
  });
  locationsConnected = true;
}

void LocationStore::DisconnectLocations() {
  for (const std::wstring& name : connectedDrives) {
    ::WNetCancelConnection2W(name.c_str(), /*flags=*/0, /*force=*/TRUE);
  }
  connectedDrives.clear();
  knownLocationCount = 0;
  locationsConnected = false;
}

void LocationStore::Reconnect() {
  if (locationsConnected) DisconnectLocations();
  ConnectLocations();
}
