// A network location's password, read so that it never stands on a command
// line, where process lists and the shell's history would keep it.
#pragma once

#include <optional>
#include <string>

#include "host/session/Output.h"

namespace host {

// With `fromInput`, the first line of standard input (UTF-8 from a pipe or
// file). Otherwise, on a console, asks with `prompt` and reads the answer
// without showing it; with no console to ask, nothing. An empty answer is
// no password. Throws UsageError when standard input ends before a first
// line (nothing at all was given, not even an empty line).
std::optional<std::wstring> ReadPassword(TextOutput& out, const std::wstring& prompt, bool fromInput);

} // namespace host
