// Text forms of sizes, times and attribute bits for tables and reports.
#pragma once

#include <cstdint>
#include <string>

#include "vmlib/WindowsApi.h"

namespace host {

// "512 B", "1.2 MiB": binary units, one decimal, rounded to nearest.
std::wstring FormatSize(uint64_t bytes);

// `text` with blanks after it up to `width` characters.
std::wstring Pad(std::wstring text, size_t width);

// "1 file", "3 files".
std::wstring CountOf(uint64_t count, const std::wstring& noun);

// "Label:        value\n": one line of a two-column report.
std::wstring Field(const wchar_t* label, const std::wstring& value);

// "0.4 s", "12 s", "3 min 05 s", "2 h 07 min".
std::wstring FormatDuration(double seconds);

// "12.3 MiB/s"; "-" when no time has passed.
std::wstring FormatRate(uint64_t bytes, double seconds);

// A FileInfo time (100-ns units since 1970-01-01 UTC) as a FILETIME.
FILETIME FileTimeFromTime(int64_t time);

// "yyyy-mm-dd hh:mm:ss".
std::wstring FormatSystemTime(const SYSTEMTIME& time);

// `utc` shown in `zone` (null: the computer's zone, with its daylight rules for
// that date); "(invalid)" when Windows cannot represent it.
std::wstring FormatFileTime(const FILETIME& utc, const TIME_ZONE_INFORMATION* zone = nullptr);

// One letter per set bit, "R H S A D" order first ("RA", "D"); "-" for none.
std::wstring FormatAttributes(uint32_t attributes);

} // namespace host
