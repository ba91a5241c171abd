#include "modify/PathValidation.h"

#include <algorithm>
#include <cwchar>
#include <vector>

#include "vmlib/VMLib.h"

namespace {

constexpr size_t kMaxClassicPath = 260;

bool IsBadCharacter(wchar_t c) {
  return c <= 0x1F || std::wcschr(L"<>:\"|?*", c) != nullptr;
}

// A trailing blank or period, or nothing but periods ("." and ".." included):
// Windows would silently strip or reinterpret such a name.
bool IsBadComponent(const std::wstring& component) {
  const wchar_t last = component.back();
  return last == L' ' || last == L'.';
}

} // namespace

bool ValidatePath(PluginBase& log, const std::wstring& path, bool longPathsEnabled) {
  const size_t n = path.size();
  if (n < 2) return true;

  if (n > kMaxClassicPath && longPathsEnabled && path[0] != L'\\' && path[1] != L'\\') {
    log.LogMessage(Warning, L"An attempt to use a path longer than 260 characters '%s'.", path.c_str());
  }

  // The drive letter and its place holder are not names and are never examined.
  const bool badCharacter = n > 2 && std::any_of(path.begin() + 2, path.end(), IsBadCharacter);
  if (badCharacter) {
    log.LogMessage(Error, L"Path '%s' contains forbidden (<>:\"|?*) or unprintable characters.", path.c_str());
  }

  const std::vector<std::wstring> components = VMLib::strings::Split(path, L"\\");
  const bool badComponent = std::any_of(components.begin(), components.end(), [](const std::wstring& c) {
    return !c.empty() && IsBadComponent(c);
  });
  if (badComponent) {
    log.LogMessage(Error, L"Path '%s' has a component that has a trailing space or an empty extention.",
               path.c_str());
  }
  return !badCharacter && !badComponent;
}
