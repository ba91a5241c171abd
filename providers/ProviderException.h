// The exception a provider throws by pointer from StartSnapshotSet, AddVolume
// and CreateSnapshots (the interface allows ReleaseSnapshots too; ours never
// throws there).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cwchar>
#include <string>
#include <type_traits>

#include "contract/ISnapshotProvider.h"

namespace Providers {

class ProviderException final : public IVssException {
public:
  // Room for the text including its terminating null; longer texts are cut.
  static constexpr size_t kTextCapacity = 1024;

  ProviderException(const wchar_t* text, int32_t code) noexcept : code_(code) {
    size_t length = 0;
    if (text != nullptr) {
      for (; length + 1 < kTextCapacity && text[length] != L'\0'; ++length) {
        text_[length] = text[length];
      }
    }
    text_[length] = L'\0';
  }

  static ProviderException* ForCall(const wchar_t* call, int32_t code,
                                    const std::wstring& detail = std::wstring()) {
    return new ProviderException(CallFailureText(call, code, detail).c_str(), code);
  }

  // "<call> failed (0x80042316)", then ": <detail>" when a detail is given.
  static std::wstring CallFailureText(const wchar_t* call, int32_t code, const std::wstring& detail) {
    std::wstring text = std::wstring(call) + L" failed (" + HexCode(code) + L")";
    if (!detail.empty()) text += L": " + detail;
    return text;
  }

  // "0x80042316"
  static std::wstring HexCode(int32_t code) {
    wchar_t hex[16];
    std::swprintf(hex, sizeof(hex) / sizeof(hex[0]), L"0x%08X", static_cast<uint32_t>(code));
    return hex;
  }

  const wchar_t* GetText() override { return text_; }
  int32_t GetErrorCode() override { return code_; }

private:
  wchar_t text_[kTextCapacity];
  int32_t code_;
};

// The plug-in frees these with a plain `delete` through IVssException*, whose
// destructor is not virtual: nothing of this type may need destroying.
static_assert(std::is_trivially_destructible<ProviderException>::value,
              "ProviderException must stay trivially destructible");

} // namespace Providers
