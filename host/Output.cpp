#include "host/Output.h"

#include <algorithm>
#include <string>

#include "host/Text.h"

namespace host {

ConsoleOutput::ConsoleOutput(DWORD standardHandle) noexcept
    : handle_(::GetStdHandle(standardHandle)), console_(false) {
  DWORD mode = 0;
  console_ = handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle_, &mode);
}

void ConsoleOutput::Write(std::wstring_view text) noexcept {
  if (handle_ == nullptr || handle_ == INVALID_HANDLE_VALUE) return;
  if (console_) {
    // Older consoles reject a single WriteConsoleW call much above 64 KiB.
    while (!text.empty()) {
      const DWORD chunk = static_cast<DWORD>(std::min<size_t>(text.size(), 8192));
      DWORD written = 0;
      if (!::WriteConsoleW(handle_, text.data(), chunk, &written, /*reserved=*/nullptr) || written == 0) return;
      text.remove_prefix(written);
    }
    return;
  }
  try {
    const std::string bytes = ToUtf8(text);
    size_t done = 0;
    while (done < bytes.size()) {
      DWORD written = 0;
      const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
      if (!::WriteFile(handle_, bytes.data() + done, chunk, &written, /*overlapped=*/nullptr) || written == 0) return;
      done += written;
    }
  } catch (...) {
  }
}

} // namespace host
