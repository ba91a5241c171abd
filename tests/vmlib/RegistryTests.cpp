#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <optional>

#include "vmlib/VMLib.h"

namespace {

using VMLib::UniqueRegistryKey;
using VMLib::system::CRegistry;

const wchar_t kUntouchedText[] = L"untouched";
constexpr uint32_t kUntouchedNumber = 0xDEADBEEF;

// HKEY_CURRENT_USER redirected, for this process, to a fresh key below the
// real HKCU\Software\DiskwayTests; the redirection is undone and the key
// deleted when the test ends.
class vmlib_Registry : public testing::Test {
protected:
  void SetUp() override {
    static std::atomic<unsigned> counter{0};
    scratchName_ = L"Software\\DiskwayTests\\" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                   std::to_wstring(counter++);
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, scratchName_.c_str(), 0, /*className=*/nullptr, 0,
                                KEY_ALL_ACCESS, /*security=*/nullptr, scratch_.put(), /*disposition=*/nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(::RegOverridePredefKey(HKEY_CURRENT_USER, scratch_.get()), ERROR_SUCCESS);
    overridden_ = true;
  }

  void TearDown() override {
    if (overridden_) ::RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    scratch_.reset();
    // The shared DiskwayTests key stays: deleting it could race with another
    // test process creating its own key below it.
    ::RegDeleteTreeW(HKEY_CURRENT_USER, scratchName_.c_str());
  }

  // Creates `path` below the scratch key.
  void MakeKey(const std::wstring& path) {
    UniqueRegistryKey key;
    ASSERT_EQ(::RegCreateKeyExW(scratch_.get(), path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(),
                                nullptr),
              ERROR_SUCCESS);
  }

  // Stores raw bytes of any type as value `name` of the key `path`.
  void SetValue(const std::wstring& path, const std::wstring& name, DWORD type, const void* data, DWORD size) {
    UniqueRegistryKey key;
    ASSERT_EQ(::RegCreateKeyExW(scratch_.get(), path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(),
                                nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(::RegSetValueExW(key.get(), name.c_str(), 0, type, static_cast<const BYTE*>(data), size),
              ERROR_SUCCESS);
  }

  void SetText(const std::wstring& name, DWORD type, const std::wstring& text, DWORD size) {
    SetValue(L"Settings", name, type, text.c_str(), size);
  }

  // Opens "Settings" through the redirected HKEY_CURRENT_USER.
  std::unique_ptr<CRegistry> OpenSettings() {
    auto registry = std::make_unique<CRegistry>(HKEY_CURRENT_USER);
    EXPECT_TRUE(registry->Open(L"Settings"));
    return registry;
  }

  // The value through CRegistry, or nullopt when Read fails, which must
  // then leave its output untouched.
  std::optional<uint32_t> ReadNumber(const std::wstring& name) {
    uint32_t value = kUntouchedNumber;
    if (OpenSettings()->Read(name, value)) return value;
    EXPECT_EQ(value, kUntouchedNumber) << "after failed read of " << name;
    return std::nullopt;
  }

  std::optional<std::wstring> ReadText(const std::wstring& name) {
    std::wstring value = kUntouchedText;
    if (OpenSettings()->Read(name, value)) return value;
    EXPECT_EQ(value, kUntouchedText) << "after failed read of " << name;
    return std::nullopt;
  }

  std::wstring scratchName_;
  UniqueRegistryKey scratch_;
  bool overridden_ = false;
};

TEST_F(vmlib_Registry, OpenFindsKeyBelowRedirectedRoot) {
  MakeKey(L"Network\\Z");
  CRegistry registry(HKEY_CURRENT_USER);
  EXPECT_TRUE(registry.Open(L"Network\\Z"));
}

TEST_F(vmlib_Registry, OpenOfMissingKeyFails) {
  CRegistry registry(HKEY_CURRENT_USER);
  EXPECT_FALSE(registry.Open(L"Missing"));
}

TEST_F(vmlib_Registry, ReadsDword) {
  const DWORD stored = 1;
  SetValue(L"Settings", L"LongPathsEnabled", REG_DWORD, &stored, sizeof(stored));
  EXPECT_EQ(ReadNumber(L"LongPathsEnabled"), 1u);
}

TEST_F(vmlib_Registry, DwordReadOfOtherTypesFailsAndLeavesOutputUntouched) {
  const DWORD fourBytes = 7;
  const uint64_t eightBytes = 7;
  SetValue(L"Settings", L"Binary", REG_BINARY, &fourBytes, sizeof(fourBytes));
  SetValue(L"Settings", L"BigEndian", REG_DWORD_BIG_ENDIAN, &fourBytes, sizeof(fourBytes));
  SetValue(L"Settings", L"Qword", REG_QWORD, &eightBytes, sizeof(eightBytes));
  SetText(L"Text", REG_SZ, L"7", 4);
  for (const wchar_t* name : {L"Binary", L"BigEndian", L"Qword", L"Text", L"Missing"}) {
    EXPECT_EQ(ReadNumber(name), std::nullopt) << name;
  }
}

TEST_F(vmlib_Registry, DwordReadOfShortDwordFails) {
  const DWORD stored = 0x0101;
  SetValue(L"Settings", L"Short", REG_DWORD, &stored, 2);
  EXPECT_EQ(ReadNumber(L"Short"), std::nullopt);
}

TEST_F(vmlib_Registry, ReadsString) {
  SetText(L"RemotePath", REG_SZ, L"\\\\server\\share", 30);
  EXPECT_EQ(ReadText(L"RemotePath"), L"\\\\server\\share");
}

TEST_F(vmlib_Registry, ReadsExpandStringUnexpanded) {
  SetText(L"Path", REG_EXPAND_SZ, L"%SystemRoot%\\x", 30);
  EXPECT_EQ(ReadText(L"Path"), L"%SystemRoot%\\x");
}

TEST_F(vmlib_Registry, ReadsStringStoredWithoutTerminator) {
  SetText(L"Bare", REG_SZ, L"abc", 6);
  EXPECT_EQ(ReadText(L"Bare"), L"abc");
}

TEST_F(vmlib_Registry, IgnoresOddTrailingByteOfString) {
  SetText(L"Odd", REG_SZ, L"abcd", 7);
  EXPECT_EQ(ReadText(L"Odd"), L"abc");
}

TEST_F(vmlib_Registry, StringEndsAtFirstTerminator) {
  SetText(L"Embedded", REG_SZ, std::wstring(L"ab\0cd", 5), 12);
  EXPECT_EQ(ReadText(L"Embedded"), L"ab");
}

TEST_F(vmlib_Registry, ReadsEmptyStrings) {
  SetText(L"NoBytes", REG_SZ, L"", 0);
  SetText(L"OnlyTerminator", REG_SZ, L"", 2);
  EXPECT_EQ(ReadText(L"NoBytes"), L"");
  EXPECT_EQ(ReadText(L"OnlyTerminator"), L"");
}

TEST_F(vmlib_Registry, ReadsLongString) {
  const std::wstring text(20000, L'x');
  SetText(L"Long", REG_SZ, text, static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  EXPECT_EQ(ReadText(L"Long"), text);
}

TEST_F(vmlib_Registry, StringReadOfOtherTypesFailsAndLeavesOutputUntouched) {
  const DWORD number = 7;
  SetValue(L"Settings", L"Number", REG_DWORD, &number, sizeof(number));
  SetText(L"Multi", REG_MULTI_SZ, std::wstring(L"a\0b\0", 4), 10);
  SetText(L"Binary", REG_BINARY, L"ab", 6);
  for (const wchar_t* name : {L"Number", L"Multi", L"Binary", L"Missing"}) {
    EXPECT_EQ(ReadText(name), std::nullopt) << name;
  }
}

TEST_F(vmlib_Registry, ReadWithoutOpenKeyFails) {
  const DWORD stored = 1;
  SetValue(L"", L"AtRoot", REG_DWORD, &stored, sizeof(stored));
  CRegistry registry(HKEY_CURRENT_USER);
  uint32_t number = kUntouchedNumber;
  std::wstring text = kUntouchedText;
  EXPECT_FALSE(registry.Read(L"AtRoot", number));
  EXPECT_FALSE(registry.Read(L"AtRoot", text));
  EXPECT_EQ(number, kUntouchedNumber);
  EXPECT_EQ(text, kUntouchedText);
}

TEST_F(vmlib_Registry, ReadAfterCloseFails) {
  const DWORD stored = 1;
  SetValue(L"Settings", L"Value", REG_DWORD, &stored, sizeof(stored));
  auto registry = OpenSettings();
  registry->Close();
  uint32_t value = kUntouchedNumber;
  EXPECT_FALSE(registry->Read(L"Value", value));
  EXPECT_TRUE(registry->Open(L"Settings"));
  EXPECT_TRUE(registry->Read(L"Value", value));
}

TEST_F(vmlib_Registry, FailedOpenClosesPreviousKey) {
  const DWORD stored = 1;
  SetValue(L"Settings", L"Value", REG_DWORD, &stored, sizeof(stored));
  auto registry = OpenSettings();
  EXPECT_FALSE(registry->Open(L"Missing"));
  uint32_t value = kUntouchedNumber;
  EXPECT_FALSE(registry->Read(L"Value", value));
}

TEST_F(vmlib_Registry, OpenReplacesPreviousKey) {
  const DWORD first = 1;
  const DWORD second = 2;
  SetValue(L"First", L"Value", REG_DWORD, &first, sizeof(first));
  SetValue(L"Second", L"Value", REG_DWORD, &second, sizeof(second));
  CRegistry registry(HKEY_CURRENT_USER);
  ASSERT_TRUE(registry.Open(L"First"));
  ASSERT_TRUE(registry.Open(L"Second"));
  uint32_t value = 0;
  EXPECT_TRUE(registry.Read(L"Value", value));
  EXPECT_EQ(value, 2u);
}

TEST_F(vmlib_Registry, EnumSubKeysGivesNamesNotPaths) {
  MakeKey(L"Network\\Z");
  MakeKey(L"Network\\Y\\Deeper");
  CRegistry registry(HKEY_CURRENT_USER);
  std::vector<std::wstring> names = registry.EnumSubKeys(L"Network");
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::wstring>{L"Y", L"Z"}));
}

TEST_F(vmlib_Registry, EnumSubKeysOfKeyWithoutSubkeysIsEmpty) {
  MakeKey(L"Network");
  CRegistry registry(HKEY_CURRENT_USER);
  EXPECT_TRUE(registry.EnumSubKeys(L"Network").empty());
}

TEST_F(vmlib_Registry, EnumSubKeysOfMissingKeyIsEmpty) {
  CRegistry registry(HKEY_CURRENT_USER);
  EXPECT_TRUE(registry.EnumSubKeys(L"Network").empty());
}

TEST_F(vmlib_Registry, EnumSubKeysGivesLongestPossibleName) {
  const std::wstring longest(255, L'k');
  MakeKey(L"Network\\" + longest);
  CRegistry registry(HKEY_CURRENT_USER);
  EXPECT_EQ(registry.EnumSubKeys(L"Network"), std::vector<std::wstring>{longest});
}

TEST_F(vmlib_Registry, EnumSubKeysLeavesOpenKeyAlone) {
  MakeKey(L"Network\\Z");
  SetText(L"Name", REG_SZ, L"kept", 10);
  auto registry = OpenSettings();
  EXPECT_EQ(registry->EnumSubKeys(L"Network"), std::vector<std::wstring>{L"Z"});
  std::wstring value;
  EXPECT_TRUE(registry->Read(L"Name", value));
  EXPECT_EQ(value, L"kept");
}

} // namespace
