// Conversions between the UTF-16 of the plug-in boundary and the UTF-8 of
// files and pipes, and the system's words for a Win32 error code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace host {

std::string ToUtf8(std::wstring_view text);
// Invalid sequences become U+FFFD.
std::wstring FromUtf8(std::string_view text);
// 'text', as names and paths appear in messages.
std::wstring Quoted(const std::wstring& text);
// Lower-case hex digits, two per byte.
std::wstring ToHex(const void* data, size_t size);
// "The system cannot find the file specified. (error 2)"; only the number when
// the system has no text for the code.
std::wstring SystemErrorText(uint32_t code);

} // namespace host
