// The network locations that the host keeps as files below the plug-in's data
// folder, and the share connections made for them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "contract/IPluginCallbacks.h"
#include "logging/PluginBase.h"

class LocationStore {
public:
  // `log` hears of folders of the data folder that cannot be read.
  LocationStore(IPluginHost* host, PluginBase& log, std::wstring settingsDirectory)
      : host_(host), log_(log), settingsDirectory(std::move(settingsDirectory)) {}

  // The regular files anywhere below the data folder. Links to folders are
  // not followed; a subfolder that cannot be read is passed over with a
  // warning that names it.
  uint64_t CountLocationFiles() const;
  // Redirects each location's local drive to its share, once per drive, in
  // the order of the walk; results of the network calls are not examined.
  void ConnectLocations();
  // Cancels every connection made and forgets the location count.
  void DisconnectLocations();
  // The level of a path may lie on a location whose connection dropped.
  void Reconnect();

  const std::wstring& SettingsDirectory() const { return settingsDirectory; }
  const std::vector<std::wstring>& ConnectedDrives() const { return connectedDrives; }
  bool LocationsConnected() const { return locationsConnected; }
  uint64_t KnownLocationCount() const { return knownLocationCount; }
  void SetKnownLocationCount(uint64_t count) { knownLocationCount = count; }

private:
  // Calls `visit` with the name of every location file, depth first.
  void ForEachLocationFile(const std::function<void(const std::wstring&)>& visit) const;

  IPluginHost* host_;
  PluginBase& log_;
  std::wstring settingsDirectory;
  std::vector<std::wstring> connectedDrives;
  uint64_t knownLocationCount = 0;
  bool locationsConnected = false;
};
