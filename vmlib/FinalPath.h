// The path a handle reached, every link resolved: header-only, for the
// support library and for those that reach items through handles.
#pragma once

#include <string>
#include <vector>

#include "vmlib/WindowsApi.h"

namespace VMLib {

// In "\\?\" form; 0 or a Win32 code.
inline DWORD FinalPathOf(HANDLE item, std::wstring& path) {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = ::GetFinalPathNameByHandleW(item, buffer.data(), static_cast<DWORD>(buffer.size()),
                                                     FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) {
      const DWORD error = ::GetLastError();
      return error;
    }
    // Too small a buffer gives the size needed, terminator included.
    if (length < buffer.size()) {
      path.assign(buffer.data(), length);
      return 0;
    }
    buffer.resize(length);
  }
}

} // namespace VMLib
