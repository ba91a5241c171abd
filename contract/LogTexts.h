// The log texts a host may key on: the notices about a file that another
// program holds locked. They are composed and read here only, so the plug-in
// and every host agree on them by construction.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "contract/PluginTypes.h"

namespace LogText {

inline constexpr std::wstring_view LockedFileStart = L"File '";
inline constexpr std::wstring_view LockedFileEnd = L"' is locked. Trying to open file with VSS support.";
inline constexpr std::wstring_view ShadowCopyFailureStart =
    L"Cannot open file with VSS support because of the following error: ";
inline constexpr std::wstring_view ShadowCopyFailureEnd = L" For more information, please refer to FAQ: \n";
inline constexpr std::wstring_view ShadowCopyFaq =
    L"https://help.diskway.app/faq/vss-initialization-failed.shtml?plugin=Diskway";

// Info: the file at `realPath` is locked; a shadow copy will be tried.
inline std::wstring LockedFileNotice(const std::wstring& realPath) {
  std::wstring text(LockedFileStart);
  text.append(realPath).append(LockedFileEnd);
  return text;
}

// Warning: no shadow copy could be read, for `reason`.
inline std::wstring ShadowCopyFailure(const std::wstring& reason) {
  std::wstring text(ShadowCopyFailureStart);
  text.append(reason).append(ShadowCopyFailureEnd).append(ShadowCopyFaq);
  return text;
}

inline bool IsLockedFileNotice(uint32_t level, std::wstring_view text) {
  return level == Info && text.size() >= LockedFileStart.size() + LockedFileEnd.size() &&
         text.substr(0, LockedFileStart.size()) == LockedFileStart &&
         text.substr(text.size() - LockedFileEnd.size()) == LockedFileEnd;
}

// The reason inside a ShadowCopyFailure text; any other text is returned whole.
inline std::wstring ShadowCopyFailureReason(const std::wstring& text) {
  const size_t from = text.find(ShadowCopyFailureStart);
  const size_t to = text.rfind(ShadowCopyFailureEnd);
  if (from == std::wstring::npos || to == std::wstring::npos || to < from + ShadowCopyFailureStart.size()) {
    return text;
  }
  return text.substr(from + ShadowCopyFailureStart.size(), to - from - ShadowCopyFailureStart.size());
}

} // namespace LogText
