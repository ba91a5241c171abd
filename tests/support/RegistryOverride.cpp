#include "tests/support/RegistryOverride.h"

#include <gtest/gtest.h>

namespace test {
namespace {

VMLib::UniqueRegistryKey CreateScratchKey(const std::wstring& path) {
  VMLib::UniqueRegistryKey key;
  const LONG status = ::RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                        nullptr, key.put(), nullptr);
  if (status != ERROR_SUCCESS) ADD_FAILURE() << "cannot create scratch key, error " << status;
  return key;
}

VMLib::UniqueRegistryKey OpenForWrite(HKEY root, const std::wstring& key) {
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
  currentUser_ = CreateScratchKey(scratch_ + L"\\HKCU");
  localMachine_ = CreateScratchKey(scratch_ + L"\\HKLM");
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

void RegistryOverride::CreateKey(HKEY root, const std::wstring& key) { OpenForWrite(root, key); }

void RegistryOverride::SetString(HKEY root, const std::wstring& key, const std::wstring& name,
                                 const std::wstring& value) {
  VMLib::UniqueRegistryKey opened = OpenForWrite(root, key);
  ::RegSetValueExW(opened.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

void RegistryOverride::SetDword(HKEY root, const std::wstring& key, const std::wstring& name, uint32_t value) {
  VMLib::UniqueRegistryKey opened = OpenForWrite(root, key);
  const DWORD data = value;
  ::RegSetValueExW(opened.get(), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof(data));
}

void RegistryOverride::AddNetworkDrive(const std::wstring& name, const std::wstring& remotePath) {
  SetString(HKEY_CURRENT_USER, L"Network\\" + name, L"RemotePath", remotePath);
}

} // namespace test
