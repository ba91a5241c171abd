// Loading provider libraries by full path and catching what they throw, the
// way the plug-in does.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "vmlib/ScopedHandle.h"
#include "vmlib/WindowsApi.h"
#include "vss/ISnapshotProvider.h"

namespace ProviderTests {

// Build folders arrive with forward slashes; LoadLibrary wants backslashes.
inline std::wstring LibraryPath(const wchar_t* folder, const wchar_t* file) {
  std::wstring path = std::wstring(folder) + L"\\" + file;
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  return path;
}

// Dependencies are looked up beside the library first, as for the plug-in.
inline VMLib::UniqueModule LoadLibraryAt(const std::wstring& path) {
  return VMLib::UniqueModule(
      ::LoadLibraryExW(path.c_str(), /*file=*/nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
}

struct Thrown {
  bool thrown = false;
  std::wstring text;
  int32_t code = 0;
};

// Runs `call` and takes what it throws as the plug-in does: an IVssException*
// read and then freed with a plain delete of the interface type.
inline Thrown CaptureVssException(const std::function<void()>& call) {
  Thrown result;
  try {
    call();
  } catch (IVssException* exception) {
    result.thrown = true;
    result.text = exception->GetText();
    result.code = exception->GetErrorCode();
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdelete-non-virtual-dtor"
#endif
    delete exception;
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
  }
  return result;
}

} // namespace ProviderTests
