#include "host/session/Text.h"

#include "vmlib/ScopedHandle.h"
#include "vmlib/WindowsApi.h"

namespace host {

std::string ToUtf8(std::wstring_view text) {
  if (text.empty()) return {};
  const int length = static_cast<int>(text.size());
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0,
                                         /*defaultChar=*/nullptr, /*usedDefault=*/nullptr);
  std::string result(static_cast<size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, result.data(), size, nullptr, nullptr);
  return result;
}

std::wstring FromUtf8(std::string_view text) {
  if (text.empty()) return {};
  const int length = static_cast<int>(text.size());
  const int size = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
  std::wstring result(static_cast<size_t>(size), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, result.data(), size);
  return result;
}

std::wstring Quoted(const std::wstring& text) {
  return L"'" + text + L"'";
}

std::wstring ToHex(const void* data, size_t size) {
  static const wchar_t digits[] = L"0123456789abcdef";
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  std::wstring text;
  text.reserve(size * 2);
  for (size_t i = 0; i < size; ++i) {
    text += digits[bytes[i] >> 4];
    text += digits[bytes[i] & 0xF];
  }
  return text;
}

std::wstring SystemErrorText(uint32_t code) {
  wchar_t* buffer = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      /*source=*/nullptr, code, /*languageId=*/0, reinterpret_cast<wchar_t*>(&buffer), 0,
      /*arguments=*/nullptr);
  const VMLib::UniqueLocalMemory owner(buffer);
  std::wstring text(buffer != nullptr ? buffer : L"", length);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) {
    text.pop_back();
  }
  const std::wstring number = L"error " + std::to_wstring(code);
  return text.empty() ? number : text + L" (" + number + L")";
}

} // namespace host
