#include "host/cli/PasswordInput.h"

#include "host/session/HostError.h"
#include "host/session/Text.h"
#include "vmlib/WindowsApi.h"

namespace host {

namespace {

std::wstring ReadConsoleLine(HANDLE input) {
  std::wstring line;
  wchar_t c = 0;
  DWORD got = 0;
  while (::ReadConsoleW(input, &c, 1, &got, /*control=*/nullptr) && got == 1 && c != L'\n') {
    if (c != L'\r') line += c;
  }
  return line;
}

// A last line without its line break still counts; an input that ends
// before any byte holds no line at all.
std::wstring ReadInputLine(HANDLE input) {
  std::string bytes;
  char c = 0;
  DWORD got = 0;
  bool any = false;
  while (::ReadFile(input, &c, 1, &got, /*overlapped=*/nullptr) && got == 1) {
    any = true;
    if (c == '\n') break;
    if (c != '\r') bytes += c;
  }
  if (!any) throw UsageError(L"--password-stdin: standard input ended before its first line; give the password "
                             L"there (an empty line for none)");
  return FromUtf8(bytes);
}

} // namespace

std::optional<std::wstring> ReadPassword(TextOutput& out, const std::wstring& prompt, bool fromInput) {
  // Borrowed from the process, like the output handles.
  const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  const bool console = ::GetConsoleMode(input, &mode) != FALSE;
  std::wstring password;
  if (console) {
    if (!fromInput) out.Write(prompt);
    ::SetConsoleMode(input, mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
    password = ReadConsoleLine(input);
    ::SetConsoleMode(input, mode);
    if (!fromInput) out.Write(L"\n");
  } else if (fromInput) {
    password = ReadInputLine(input);
  }
  if (password.empty()) return std::nullopt;
  return password;
}

} // namespace host
