// Where the host's text goes: the console, a pipe or a file, always as the
// characters the person typed (UTF-16 on a console, UTF-8 bytes elsewhere).
#pragma once

#include <cstddef>
#include <mutex>
#include <string_view>

#include "vmlib/WindowsApi.h"

namespace host {

class TextOutput {
public:
  virtual void Write(std::wstring_view text) = 0;
  // Columns of the console window the text goes to; 0 for a pipe or a file.
  virtual size_t ConsoleWidth() const { return 0; }
  // Replaces the one status line kept below the text, in place; an empty
  // line removes it. Does nothing where there is no console.
  virtual void ShowStatus(std::wstring_view line) {}

protected:
  ~TextOutput() = default;
};

class ConsoleOutput final : public TextOutput {
public:
  // `standardHandle`: STD_OUTPUT_HANDLE or STD_ERROR_HANDLE.
  explicit ConsoleOutput(DWORD standardHandle) noexcept;
  // Best effort: text that cannot be written is dropped, never reported.
  // Removes the status line first; the next ShowStatus brings it back.
  void Write(std::wstring_view text) noexcept override;
  size_t ConsoleWidth() const noexcept override;
  void ShowStatus(std::wstring_view line) noexcept override;

private:
  void WriteRaw(std::wstring_view text) noexcept;

  // Borrowed from the process; closing it would close the caller's stream.
  HANDLE handle_;
  bool console_;
  // Characters of the status line on the screen; the cursor stays at its
  // start, so text anyone writes next (the plug-in prints some messages
  // itself) overwrites it instead of running on after it.
  size_t statusShown_ = 0;
};

// Another output used from several threads at once: each text and status
// line arrives whole, never cut into by another thread's.
class SerializedOutput final : public TextOutput {
public:
  explicit SerializedOutput(TextOutput& out) : out_(out) {}
  void Write(std::wstring_view text) override;
  size_t ConsoleWidth() const override;
  void ShowStatus(std::wstring_view line) override;

private:
  TextOutput& out_;
  mutable std::mutex lock_;
};

} // namespace host
