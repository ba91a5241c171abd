#include <algorithm>
#include <filesystem>
#include <system_error>

#include "instance/PluginImplementation.h"
#include "vmlib/WindowsApi.h"

#include <winnetwk.h>

namespace fs = std::filesystem;

// Both walks start with an error code (a missing folder means no locations)
// but advance with the throwing increment: a subfolder that cannot be read is
// the caller's failure, as instance construction and the root listing expect.

uint64_t PluginImplementation::CountLocationFiles() const {
  std::error_code ec;
  fs::recursive_directory_iterator it(settingsDirectory, fs::directory_options::none, ec);
  if (ec) return 0;
  uint64_t count = 0;
  for (; it != fs::recursive_directory_iterator(); ++it) {
    std::error_code statusError;
    if (fs::is_regular_file(it->status(statusError))) ++count;
  }
  return count;
}

void PluginImplementation::ConnectLocations() {
  std::error_code ec;
  fs::recursive_directory_iterator it(settingsDirectory, fs::directory_options::none, ec);
  // The strings live for the whole walk on purpose: a parameter the host does
  // not answer keeps the previous location's value.
  std::wstring item, user, password, drive, share;
  if (!ec) {
    for (; it != fs::recursive_directory_iterator(); ++it) {
      std::error_code statusError;
      if (!fs::is_regular_file(fs::status(it->path(), statusError))) continue;

      item = it->path().filename().wstring();
      host->GetItemParameter(item.c_str(), L"NetworkUser", user);
      host->GetItemParameter(item.c_str(), L"NetworkPassword", password);
      host->GetItemParameter(item.c_str(), L"LocalDrive", drive);
      host->GetItemParameter(item.c_str(), L"ShareName", share);

      if (std::find(connectedDrives.begin(), connectedDrives.end(), drive) != connectedDrives.end()) {
        continue;
      }
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
    }
  }
  locationsConnected = true;
}

void PluginImplementation::DisconnectLocations() {
  for (const std::wstring& name : connectedDrives) {
    ::WNetCancelConnection2W(name.c_str(), /*flags=*/0, /*force=*/TRUE);
  }
  connectedDrives.clear();
  knownLocationCount = 0;
  locationsConnected = false;
}
