// Where the host's text goes: the console, a pipe or a file, always as the
// characters the person typed (UTF-16 on a console, UTF-8 bytes elsewhere).
#pragma once

#include <string_view>

#include "vmlib/WindowsApi.h"

namespace host {

class TextOutput {
public:
  virtual void Write(std::wstring_view text) = 0;

protected:
  ~TextOutput() = default;
};

class ConsoleOutput final : public TextOutput {
public:
  // `standardHandle`: STD_OUTPUT_HANDLE or STD_ERROR_HANDLE.
  explicit ConsoleOutput(DWORD standardHandle) noexcept;
  // Best effort: text that cannot be written is dropped, never reported.
  void Write(std::wstring_view text) noexcept override;

private:
  // Borrowed from the process; closing it would close the caller's stream.
  HANDLE handle_;
  bool console_;
};

} // namespace host
