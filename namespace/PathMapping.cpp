#include "namespace/PathMapping.h"

#include <cwchar>
#include <cwctype>
#include <vector>

#include "vmlib/VMLib.h"

namespace {

const wchar_t kLongPathPrefix[] = L"\\\\?\\";

} // namespace

namespace paths {

std::wstring MapPath(const std::wstring& path) {
  if (path.size() < 2) return path;

  // No cache: a persistent mapping made or removed a moment ago must count.
  VMLib::system::CRegistry registry(HKEY_CURRENT_USER);
  const std::vector<std::wstring> names = registry.EnumSubKeys(L"Network");
  const wchar_t letter = path[0];
  for (std::wstring name : names) {
    for (wchar_t& c : name) c = static_cast<wchar_t>(std::towupper(c));
    if (name.size() != 1 || name[0] != letter) continue;

    std::wstring remotePath;
    bool found = false;
    if (registry.Open(std::wstring(L"Network\\") + letter)) {
      found = registry.Read(L"RemotePath", remotePath);
      registry.Close();
    }
    if (found) return remotePath + path.substr(2);
  }

  // The second character is only a place holder ("C$", "C:" and "C_" alike).
  std::wstring local = kLongPathPrefix + path;
  local[5] = L':';
  if (path.size() == 2) local += L'\\';
  return local;
}

std::wstring SanitizePath(const std::wstring& path) {
  static const wchar_t kForbidden[] = L"/\\:*?\"<>|";
  std::vector<std::wstring> components = VMLib::strings::Split(path, L"\\");
  for (std::wstring& component : components) {
    for (wchar_t& c : component) {
      if (std::wcschr(kForbidden, c) != nullptr && c != L'\0') c = L'_';
    }
  }
  return VMLib::strings::Join(components, L"\\");
}

bool IsDriveRoot(const std::wstring& path) {
  return path.size() >= 2 && path.find_first_not_of(L'\\', 2) == std::wstring::npos;
}

} // namespace paths
