#include "tests/support/RegistryOverride.h"

#include <gtest/gtest.h>

namespace test {
namespace {

VMLib::UniqueRegistryKey CreateForWrite(HKEY root, const std::wstring& key) {
  VMLib::UniqueRegistryKey opened;
  const LONG status =
      ::RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, opened.put(), nullptr);
  if (status != ERROR_SUCCESS) ADD_FAILURE() << "cannot create key, error " << status;
  return opened;
}

} // namespace

RegistryOverride::RegistryOverride() {
  scratch_ = L"Software\\DiskwayTests\\" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
             std::to_wstring(::GetTickCount64());
  // Both scratch keys live under the real HKCU and are opened before the
  // override, which would otherwise redirect their own creation.
  currentUser_ = CreateForWrite(HKEY_CURRENT_USER, scratch_ + L"\\HKCU");
  localMachine_ = CreateForWrite(HKEY_CURRENT_USER, scratch_ + L"\\HKLM");
  ::RegOverridePredefKey(HKEY_CURRENT_USER, currentUser_.get());
  ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, localMachine_.get());
}

RegistryOverride::~RegistryOverride() {
  ::RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
  ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
  currentUser_.reset();
  localMachine_.reset();
  ::RegDeleteTreeW(HKEY_CURRENT_USER, scratch_.c_str());
}

void RegistryOverride::AddNetworkDrive(const std::wstring& name, const std::wstring& remotePath) {
  ::RegSetKeyValueW(HKEY_CURRENT_USER, (L"Network\\" + name).c_str(), L"RemotePath", REG_SZ, remotePath.c_str(),
                    static_cast<DWORD>((remotePath.size() + 1) * sizeof(wchar_t)));
}

} // namespace test
