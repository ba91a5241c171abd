#include "host/session/Output.h"

#include <algorithm>
#include <string>

#include "host/session/Text.h"

namespace host {

ConsoleOutput::ConsoleOutput(DWORD standardHandle) noexcept
    : handle_(::GetStdHandle(standardHandle)), console_(false) {
  DWORD mode = 0;
  console_ = handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle_, &mode);
}

size_t ConsoleOutput::ConsoleWidth() const noexcept {
  if (!console_) return 0;
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!::GetConsoleScreenBufferInfo(handle_, &info)) return 80;
  const int width = info.srWindow.Right - info.srWindow.Left + 1;
  return width > 0 ? static_cast<size_t>(width) : 80;
}

void ConsoleOutput::ShowStatus(std::wstring_view line) noexcept {
  if (!console_) return;
  try {
    std::wstring text(line);
    // Shorter than what is on the screen: blanks cover the rest.
    if (text.size() < statusShown_) text.append(statusShown_ - text.size(), L' ');
    WriteRaw(text + L"\r");
    statusShown_ = line.size();
  } catch (...) {
  }
}

void ConsoleOutput::Write(std::wstring_view text) noexcept {
  if (statusShown_ > 0) {
    try {
      WriteRaw(std::wstring(statusShown_, L' ') + L"\r");
    } catch (...) {
    }
    statusShown_ = 0;
  }
  WriteRaw(text);
}

void ConsoleOutput::WriteRaw(std::wstring_view text) noexcept {
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

void SerializedOutput::Write(std::wstring_view text) {
  const std::lock_guard<std::mutex> guard(lock_);
  out_.Write(text);
}

size_t SerializedOutput::ConsoleWidth() const {
  const std::lock_guard<std::mutex> guard(lock_);
  return out_.ConsoleWidth();
}

void SerializedOutput::ShowStatus(std::wstring_view line) {
  const std::lock_guard<std::mutex> guard(lock_);
  out_.ShowStatus(line);
}

} // namespace host
