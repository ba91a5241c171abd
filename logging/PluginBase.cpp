#include "logging/PluginBase.h"

#include <io.h>

#include <vector>

#include "vmlib/ScopedHandle.h"
#include "vmlib/WindowsApi.h"

std::wstring FormatText(const wchar_t* format, va_list args) {
  // The underscore functions keep Microsoft's wide semantics ("%s" is a wide
  // string) even where MinGW maps the standard names to its own C99 printf.
  va_list counting;
  va_copy(counting, args);
  int length = _vscwprintf(format, counting);
  va_end(counting);
  if (length < 0) length = 0;

  std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1, L'\0');
  if (length > 0) _vsnwprintf(buffer.data(), static_cast<size_t>(length), format, args);
  return std::wstring(buffer.data());
}

std::wstring FormatText(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  std::wstring text = FormatText(format, args);
  va_end(args);
  return text;
}

std::wstring ComposeErrorText(const std::wstring& text, uint32_t code) {
  wchar_t* description = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
      /*source=*/nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
      reinterpret_cast<wchar_t*>(&description), /*size=*/0, /*arguments=*/nullptr);
  VMLib::UniqueLocalMemory owner(description);

  std::wstring suffix;
  if (length != 0) {
    suffix = L": " + std::wstring(description, length);
    // System texts end in ".\r\n"; the last three characters go whatever they are.
    if (suffix.size() >= 3) suffix.resize(suffix.size() - 3);
  }
  return FormatText(L"%s%s (0x%08lx)", text.c_str(), suffix.c_str(), static_cast<unsigned long>(code));
}

void WriteLine(FILE* stream, const std::wstring& text) {
  // A console takes UTF-16 directly, whatever its code page; pipes and files
  // get UTF-8.
  const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  DWORD consoleMode = 0;
  if (handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &consoleMode)) {
    std::fflush(stream);
    const std::wstring line = text + L"\r\n";
    DWORD written = 0;
    ::WriteConsoleW(handle, line.c_str(), static_cast<DWORD>(line.size()), &written, /*reserved=*/nullptr);
    return;
  }
  std::string utf8;
  if (!text.empty()) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    utf8.resize(static_cast<size_t>(size > 0 ? size : 0));
    if (size > 0) {
      ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &utf8[0], size,
                            nullptr, nullptr);
    }
  }
  utf8 += '\n';
  std::fwrite(utf8.data(), 1, utf8.size(), stream);
  std::fflush(stream);
}

void PluginBase::LogMessage(uint32_t level, const wchar_t* format, ...) {
  if (log_ == nullptr) return;
  va_list args;
  va_start(args, format);
  const std::wstring text = FormatText(format, args);
  va_end(args);
  WriteLine(stdout, text);
  log_->Log(level, text.c_str());
}

void PluginBase::LogSystemError(uint32_t level, uint32_t code, const wchar_t* format, ...) {
  if (log_ == nullptr || format == nullptr) return;
  va_list args;
  va_start(args, format);
  const std::wstring text = FormatText(format, args);
  va_end(args);
  const std::wstring full = ComposeErrorText(text, code);
  log_->Log(level, full.c_str());
}

void PluginBase::LogRefused(const wchar_t* action, const std::wstring& realPath, const std::wstring& reason) {
  LogMessage(Error, L"Computer: cannot %s '%s': %s", action, realPath.c_str(), reason.c_str());
}
