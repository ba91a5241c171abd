// Reporting to the host's log sink. Every message of the plug-in goes through
// these two operations; neither fails towards its caller.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>

#include "contract/IPluginCallbacks.h"
#include "contract/PluginTypes.h"

// printf-style wide formatting with the platform's wide conventions ("%s" takes
// a wide string). The length is measured first, so nothing is ever cut; a
// format that cannot be rendered gives an empty text.
std::wstring FormatText(const wchar_t* format, va_list args);
std::wstring FormatText(const wchar_t* format, ...);

// `text`, then ": " and the system's description of `code` without its last
// three characters (the period and line break), then " (0x%08lx)".
std::wstring ComposeErrorText(const std::wstring& text, uint32_t code);

// Writes `text` and a line end to `stream` as UTF-8 and flushes it.
void WriteLine(FILE* stream, const std::wstring& text);

class PluginBase {
public:
  explicit PluginBase(IPluginLog* log) : log_(log) {}

  // Reports the formatted text at `level` and echoes it to standard output.
  void LogMessage(uint32_t level, const wchar_t* format, ...);
  // Reports the formatted text with the description of `code` appended. No echo.
  void LogSystemError(uint32_t level, uint32_t code, const wchar_t* format, ...);
  // Reports, as an error, that `action` ("delete", "move", "write") was not
  // done to `realPath`, and why.
  void LogRefused(const wchar_t* action, const std::wstring& realPath, const std::wstring& reason);

private:
  IPluginLog* log_; // may be null: then nothing is reported or printed
};
