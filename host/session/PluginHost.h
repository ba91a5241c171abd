// The host's settings as the plug-in asks for them through IPluginHost.
#pragma once

#include <string>

#include "host/session/LocationStore.h"
#include "contract/IPluginCallbacks.h"

namespace host {

struct DataFolder {
  std::wstring path;      // where the host keeps the location files
  std::wstring parameter; // the same folder as "GetDataStorage" hands it over
};

// %LOCALAPPDATA%\Diskway\Plugins\Computer, handed over as
// %LOCALAPPDATA%\Diskway//Plugins//Computer. Throws HostError when the
// variable is not set.
DataFolder DefaultDataFolder();
// `folder` made absolute; handed over as it is.
DataFolder ChosenDataFolder(const std::wstring& folder);

class PluginHost final : public IPluginHost {
public:
  PluginHost(std::wstring dataStorage, bool copyAcl, const LocationStore& locations);

  // Both answer false and leave `value` untouched for names they do not know.
  bool GetItemParameter(const wchar_t* item, const wchar_t* name, std::wstring& value) override;
  bool GetParameter(const wchar_t* name, std::wstring& value) override;

private:
  std::wstring dataStorage_;
  bool copyAcl_;
  const LocationStore& locations_;
};

} // namespace host
