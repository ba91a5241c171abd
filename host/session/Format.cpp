#include "host/session/Format.h"

#include <cstdio>
#include <iterator>

namespace host {

namespace {

// Tenths of `unit` in `bytes`, rounded; split so that no step overflows 64 bits.
uint64_t Tenths(uint64_t bytes, uint64_t unit) {
  return bytes / unit * 10 + ((bytes % unit) * 10 + unit / 2) / unit;
}

} // namespace

std::wstring FormatSize(uint64_t bytes) {
  static const wchar_t* const units[] = {L"KiB", L"MiB", L"GiB", L"TiB", L"PiB", L"EiB"};
  if (bytes < 1024) return std::to_wstring(bytes) + L" B";
  uint64_t unit = 1024;
  for (size_t index = 0;; ++index, unit *= 1024) {
    const uint64_t tenths = Tenths(bytes, unit);
    // 1048575 bytes round to 1024.0 KiB: show 1.0 MiB instead.
    if (tenths < 10240 || index + 1 == std::size(units)) {
      return std::to_wstring(tenths / 10) + L"." + std::to_wstring(tenths % 10) + L" " + units[index];
    }
  }
}

std::wstring Pad(std::wstring text, size_t width) {
  if (text.size() < width) text.append(width - text.size(), L' ');
  return text;
}

std::wstring CountOf(uint64_t count, const std::wstring& noun) {
  return std::to_wstring(count) + L" " + noun + (count == 1 ? L"" : L"s");
}

std::wstring Field(const wchar_t* label, const std::wstring& value) {
  return Pad(std::wstring(label) + L":", 14) + value + L"\n";
}

std::wstring FormatDuration(double seconds) {
  wchar_t text[32];
  if (seconds < 10) {
    std::swprintf(text, std::size(text), L"%.1f s", seconds < 0 ? 0.0 : seconds);
    return text;
  }
  const uint64_t whole = static_cast<uint64_t>(seconds + 0.5);
  if (whole < 60) {
    std::swprintf(text, std::size(text), L"%u s", static_cast<unsigned>(whole));
  } else if (whole < 3600) {
    std::swprintf(text, std::size(text), L"%u min %02u s", static_cast<unsigned>(whole / 60),
                  static_cast<unsigned>(whole % 60));
  } else {
    std::swprintf(text, std::size(text), L"%llu h %02u min", static_cast<unsigned long long>(whole / 3600),
                  static_cast<unsigned>(whole % 3600 / 60));
  }
  return text;
}

std::wstring FormatRate(uint64_t bytes, double seconds) {
  if (seconds <= 0) return L"-";
  return FormatSize(static_cast<uint64_t>(static_cast<double>(bytes) / seconds)) + L"/s";
}

FILETIME FileTimeFromTime(int64_t time) {
  // Unsigned arithmetic: wraps instead of overflowing for any input.
  const uint64_t ticks = static_cast<uint64_t>(time) + 116444736000000000ull;
  FILETIME result;
  result.dwLowDateTime = static_cast<DWORD>(ticks);
  result.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return result;
}

std::wstring FormatSystemTime(const SYSTEMTIME& time) {
  wchar_t text[32];
  std::swprintf(text, std::size(text), L"%04u-%02u-%02u %02u:%02u:%02u",
                static_cast<unsigned>(time.wYear), static_cast<unsigned>(time.wMonth),
                static_cast<unsigned>(time.wDay), static_cast<unsigned>(time.wHour),
                static_cast<unsigned>(time.wMinute), static_cast<unsigned>(time.wSecond));
  return text;
}

std::wstring FormatFileTime(const FILETIME& utc, const TIME_ZONE_INFORMATION* zone) {
  SYSTEMTIME universal;
  SYSTEMTIME local;
  if (!::FileTimeToSystemTime(&utc, &universal) ||
      !::SystemTimeToTzSpecificLocalTime(zone, &universal, &local)) {
    return L"(invalid)";
  }
  return FormatSystemTime(local);
}

std::wstring FormatAttributes(uint32_t attributes) {
  static const struct {
    uint32_t bit;
    wchar_t letter;
  } letters[] = {
      {FILE_ATTRIBUTE_READONLY, L'R'},   {FILE_ATTRIBUTE_HIDDEN, L'H'},
      {FILE_ATTRIBUTE_SYSTEM, L'S'},     {FILE_ATTRIBUTE_ARCHIVE, L'A'},
      {FILE_ATTRIBUTE_DIRECTORY, L'D'},  {FILE_ATTRIBUTE_TEMPORARY, L'T'},
      {FILE_ATTRIBUTE_SPARSE_FILE, L'P'}, {FILE_ATTRIBUTE_REPARSE_POINT, L'L'},
      {FILE_ATTRIBUTE_COMPRESSED, L'C'}, {FILE_ATTRIBUTE_OFFLINE, L'O'},
      {FILE_ATTRIBUTE_NOT_CONTENT_INDEXED, L'N'}, {FILE_ATTRIBUTE_ENCRYPTED, L'E'},
  };
  std::wstring text;
  for (const auto& entry : letters) {
    if (attributes & entry.bit) text += entry.letter;
  }
  return text.empty() ? L"-" : text;
}

} // namespace host
