// Redirects HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE of the whole process
// (the plug-in's DLLs included) to scratch keys for the life of the object.
#pragma once

#include <string>

#include "vmlib/ScopedHandle.h"
#include "vmlib/WindowsApi.h"

namespace test {

class RegistryOverride {
public:
  RegistryOverride();
  ~RegistryOverride();
  RegistryOverride(const RegistryOverride&) = delete;
  RegistryOverride& operator=(const RegistryOverride&) = delete;

  // A persistent network drive as Windows keeps it: HKCU\Network\<name>.
  static void AddNetworkDrive(const std::wstring& name, const std::wstring& remotePath);

private:
  std::wstring scratch_;
  VMLib::UniqueRegistryKey currentUser_;
  VMLib::UniqueRegistryKey localMachine_;
};

} // namespace test
