#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/RegistryOverride.h"
#include "vmlib/VMLib.h"

namespace {

using test::RegistryOverride;
using VMLib::system::CRegistry;

const wchar_t kUntouchedText[] = L"untouched";
constexpr uint32_t kUntouchedNumber = 0xDEADBEEF;

// A read succeeds only for its own type, and a failed one leaves its output as
// it was. Stored texts need neither a terminator nor a whole last character.
// A failed Open and Close leave no key open, so nothing is read from a key the
// caller has moved away from; listing subkeys gives the names of direct ones
// only, up to the longest a name may be, and leaves the open key alone.
TEST(Registry, ReadsEachValueOnlyAsItsOwnTypeAndOnlyFromTheKeyLastOpened) {
  const RegistryOverride isolated;
  const std::wstring seven(L"\x0007\0\0\0", 4); // 7 as little-endian DWORD, or QWORD
  const std::wstring longText(20000, L'x');
  const struct {
    const wchar_t* name;
    DWORD type; // REG_NONE: not stored
    std::wstring data;
    DWORD size; // the first `size` bytes of `data` are stored
    std::optional<std::wstring> text;
    std::optional<uint32_t> number;
  } values[] = {
      {L"Dword", REG_DWORD, seven, 4, std::nullopt, 7u},
      {L"ShortDword", REG_DWORD, seven, 2, std::nullopt, std::nullopt},
      {L"BigEndian", REG_DWORD_BIG_ENDIAN, seven, 4, std::nullopt, std::nullopt},
      {L"Binary", REG_BINARY, seven, 4, std::nullopt, std::nullopt},
      {L"Qword", REG_QWORD, seven, 8, std::nullopt, std::nullopt},
      {L"Terminated", REG_SZ, L"\\\\server\\share", 30, L"\\\\server\\share", std::nullopt},
      {L"Expandable", REG_EXPAND_SZ, L"%SystemRoot%\\x", 30, L"%SystemRoot%\\x", std::nullopt},
      {L"Bare", REG_SZ, L"abc", 6, L"abc", std::nullopt},
      {L"OddSize", REG_SZ, L"abcd", 7, L"abc", std::nullopt},
      {L"Embedded", REG_SZ, std::wstring(L"ab\0cd", 5), 12, L"ab", std::nullopt},
      {L"NoBytes", REG_SZ, L"", 0, L"", std::nullopt},
      {L"OnlyTerminator", REG_SZ, L"", 2, L"", std::nullopt},
      {L"Long", REG_SZ, longText, 40002, longText, std::nullopt},
      {L"Multi", REG_MULTI_SZ, std::wstring(L"a\0b\0", 4), 10, std::nullopt, std::nullopt},
      {L"Missing", REG_NONE, L"", 0, std::nullopt, std::nullopt},
  };
  for (const auto& value : values) {
    if (value.type == REG_NONE) continue;
    ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, L"Settings", value.name, value.type, value.data.c_str(),
                                value.size),
              ERROR_SUCCESS)
        << value.name;
  }
  CRegistry registry(HKEY_CURRENT_USER);
  ASSERT_TRUE(registry.Open(L"Settings"));
  for (const auto& value : values) {
    std::wstring text = kUntouchedText;
    uint32_t number = kUntouchedNumber;
    EXPECT_EQ(registry.Read(value.name, text), value.text.has_value()) << value.name;
    EXPECT_EQ(text, value.text.value_or(kUntouchedText)) << value.name;
    EXPECT_EQ(registry.Read(value.name, number), value.number.has_value()) << value.name;
    EXPECT_EQ(number, value.number.value_or(kUntouchedNumber)) << value.name;
  }

  RegistryOverride::SetDword(HKEY_CURRENT_USER, L"First", L"Value", 1);
  RegistryOverride::SetDword(HKEY_CURRENT_USER, L"Second", L"Value", 2);
  CRegistry keys(HKEY_CURRENT_USER);
  uint32_t value = kUntouchedNumber;
  EXPECT_FALSE(keys.Read(L"Value", value)) << "before any Open";
  ASSERT_TRUE(keys.Open(L"First"));
  ASSERT_TRUE(keys.Open(L"Second"));
  EXPECT_TRUE(keys.Read(L"Value", value));
  EXPECT_EQ(value, 2u);
  EXPECT_FALSE(keys.Open(L"Missing"));
  EXPECT_FALSE(keys.Read(L"Value", value)) << "after a failed Open";
  ASSERT_TRUE(keys.Open(L"First"));
  keys.Close();
  EXPECT_FALSE(keys.Read(L"Value", value)) << "after Close";
  EXPECT_EQ(value, 2u);

  EXPECT_TRUE(keys.EnumSubKeys(L"Network").empty()) << "missing key";
  RegistryOverride::CreateKey(HKEY_CURRENT_USER, L"Network");
  EXPECT_TRUE(keys.EnumSubKeys(L"Network").empty()) << "key without subkeys";
  const std::wstring longest(255, L'k');
  RegistryOverride::CreateKey(HKEY_CURRENT_USER, L"Network\\Z");
  RegistryOverride::CreateKey(HKEY_CURRENT_USER, L"Network\\Y\\Deeper");
  RegistryOverride::CreateKey(HKEY_CURRENT_USER, L"Network\\" + longest);
  ASSERT_TRUE(keys.Open(L"Second"));
  std::vector<std::wstring> names = keys.EnumSubKeys(L"Network");
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::wstring>{L"Y", L"Z", longest}));
  EXPECT_TRUE(keys.Read(L"Value", value));
  EXPECT_EQ(value, 2u);
}

} // namespace
