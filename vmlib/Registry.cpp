#include "vmlib/VMLib.h"

#include <algorithm>

namespace VMLib {
namespace system {

namespace {

// Key names are at most 255 characters.
constexpr DWORD kMaxKeyNameLength = 255;

// A value may change between asking for its size and reading it; a few
// retries cover that without looping forever on a value that keeps growing.
constexpr int kReadAttempts = 4;

} // namespace

CRegistry::CRegistry(HKEY root) : root_(root) {}

CRegistry::~CRegistry() = default;

bool CRegistry::Open(const std::wstring& subKey) {
  // A failed open leaves no key open, so later reads cannot see the old one.
  key_.reset();
  UniqueRegistryKey key;
  if (::RegOpenKeyExW(root_, subKey.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return false;
  key_ = std::move(key);
  return true;
}

bool CRegistry::Read(const std::wstring& name, uint32_t& value) {
  if (!key_) return false;
  DWORD type = REG_NONE;
  DWORD data = 0;
  DWORD size = sizeof(data);
  if (::RegQueryValueExW(key_.get(), name.c_str(), /*reserved=*/nullptr, &type, reinterpret_cast<BYTE*>(&data),
                         &size) != ERROR_SUCCESS) {
    return false;
  }
  if (type != REG_DWORD || size != sizeof(data)) return false;
  value = data;
  return true;
}

bool CRegistry::Read(const std::wstring& name, std::wstring& value) {
  if (!key_) return false;
  for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (::RegQueryValueExW(key_.get(), name.c_str(), /*reserved=*/nullptr, &type, /*data=*/nullptr, &size) !=
        ERROR_SUCCESS) {
      return false;
    }
    if (type != REG_SZ && type != REG_EXPAND_SZ) return false;

    // The stored bytes need not end in a terminator, nor be a whole number
    // of characters: round up and keep one spare, zeroed character.
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 2, L'\0');
    DWORD readSize = static_cast<DWORD>((buffer.size() - 1) * sizeof(wchar_t));
    const LSTATUS status = ::RegQueryValueExW(key_.get(), name.c_str(), /*reserved=*/nullptr, &type,
                                              reinterpret_cast<BYTE*>(buffer.data()), &readSize);
    if (status == ERROR_MORE_DATA) continue;
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;

    // The text ends at the first terminator, or with the data.
    const std::size_t stored = readSize / sizeof(wchar_t);
    const wchar_t* begin = buffer.data();
    value.assign(begin, std::find(begin, begin + stored, L'\0'));
    return true;
  }
  return false;
}

std::vector<std::wstring> CRegistry::EnumSubKeys(const std::wstring& subKey) {
  std::vector<std::wstring> names;
  UniqueRegistryKey key;
  if (::RegOpenKeyExW(root_, subKey.c_str(), 0, KEY_ENUMERATE_SUB_KEYS, key.put()) != ERROR_SUCCESS) return names;
  for (DWORD index = 0;; ++index) {
    wchar_t name[kMaxKeyNameLength + 1];
    DWORD length = kMaxKeyNameLength + 1;
    if (::RegEnumKeyExW(key.get(), index, name, &length, /*reserved=*/nullptr, /*className=*/nullptr,
                        /*classLength=*/nullptr, /*lastWrite=*/nullptr) != ERROR_SUCCESS) {
      // ERROR_NO_MORE_ITEMS ends the list; any other error ends it early
      // with what was read, as the interface has no way to report it.
      break;
    }
    names.emplace_back(name, length);
  }
  return names;
}

void CRegistry::Close() {
  key_.reset();
}

} // namespace system
} // namespace VMLib
