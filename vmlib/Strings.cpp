#include "vmlib/VMLib.h"

namespace VMLib {
namespace strings {

// The empty text has no components, and a text without the separator is one
// component; in between every separator closes one component and opens the
// next, so leading, doubled and trailing separators give empty components.
// An empty or null separator never splits.
std::vector<std::wstring> Split(const std::wstring& text, const wchar_t* separator) {
  std::vector<std::wstring> parts;
  if (text.empty()) return parts;
  const std::wstring sep = separator != nullptr ? separator : L"";
  if (sep.empty()) {
    parts.push_back(text);
    return parts;
  }
  std::wstring::size_type begin = 0;
  for (;;) {
    const std::wstring::size_type end = text.find(sep, begin);
    if (end == std::wstring::npos) {
      parts.push_back(text.substr(begin));
      return parts;
    }
    parts.push_back(text.substr(begin, end - begin));
    begin = end + sep.size();
  }
}

std::wstring Join(const std::vector<std::wstring>& parts, const wchar_t* separator) {
  const std::wstring sep = separator != nullptr ? separator : L"";
  std::wstring text;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i != 0) text += sep;
    text += parts[i];
  }
  return text;
}

} // namespace strings
} // namespace VMLib
