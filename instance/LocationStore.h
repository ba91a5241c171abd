// The network locations that the host keeps as files below the plug-in's data
// folder, and the share connections made for them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "contract/IPluginCallbacks.h"

class LocationStore {
public:
  LocationStore(IPluginHost* host, std::wstring settingsDirectory)
      : host_(host), settingsDirectory(std::move(settingsDirectory)) {}

  // The regular files anywhere below the data folder. Links to folders are
  // not followed and folders that cannot be read are passed over.
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
  IPluginHost* host_;
  std::wstring settingsDirectory;
  std::vector<std::wstring> connectedDrives;
  uint64_t knownLocationCount = 0;
  bool locationsConnected = false;
};
