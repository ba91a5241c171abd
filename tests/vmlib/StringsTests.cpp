#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vmlib/VMLib.h"

namespace {

using VMLib::strings::Join;
using VMLib::strings::Split;
using Parts = std::vector<std::wstring>;

TEST(vmlib_Split, EmptyTextGivesNoComponents) {
  EXPECT_TRUE(Split(L"", L"\\").empty());
}

TEST(vmlib_Split, TextWithoutSeparatorIsOneComponent) {
  EXPECT_EQ(Split(L"abc", L"\\"), Parts({L"abc"}));
}

TEST(vmlib_Split, SplitsAtEverySeparator) {
  EXPECT_EQ(Split(L"C:\\Windows\\System32", L"\\"), Parts({L"C:", L"Windows", L"System32"}));
}

TEST(vmlib_Split, KeepsEmptyComponentsBetweenDoubledSeparators) {
  EXPECT_EQ(Split(L"a\\\\b", L"\\"), Parts({L"a", L"", L"b"}));
}

TEST(vmlib_Split, LeadingAndTrailingSeparatorsGiveEmptyComponents) {
  EXPECT_EQ(Split(L"\\a\\", L"\\"), Parts({L"", L"a", L""}));
  EXPECT_EQ(Split(L"\\", L"\\"), Parts({L"", L""}));
}

TEST(vmlib_Split, LongPathPrefixKeepsItsEmptyComponents) {
  EXPECT_EQ(Split(L"\\\\?\\C:\\\\x", L"\\"), Parts({L"", L"", L"?", L"C:", L"", L"x"}));
}

TEST(vmlib_Split, MultiCharacterSeparatorMatchesLeftToRight) {
  EXPECT_EQ(Split(L"a::b", L"::"), Parts({L"a", L"b"}));
  EXPECT_EQ(Split(L"a:::b", L"::"), Parts({L"a", L":b"}));
}

TEST(vmlib_Split, EmptySeparatorNeverSplits) {
  EXPECT_EQ(Split(L"a\\b", L""), Parts({L"a\\b"}));
}

TEST(vmlib_Join, NoComponentsGiveEmptyText) {
  EXPECT_EQ(Join({}, L"\\"), L"");
}

TEST(vmlib_Join, PutsSeparatorBetweenComponents) {
  EXPECT_EQ(Join({L"a", L"", L"b"}, L"\\"), L"a\\\\b");
  EXPECT_EQ(Join({L"", L""}, L"\\"), L"\\");
}

// Every text over `alphabet` up to `maxLength` characters.
std::vector<std::wstring> AllTexts(const std::wstring& alphabet, std::size_t maxLength) {
  std::vector<std::wstring> texts{L""};
  std::size_t begin = 0;
  for (std::size_t length = 1; length <= maxLength; ++length) {
    const std::size_t end = texts.size();
    for (std::size_t i = begin; i < end; ++i) {
      for (const wchar_t c : alphabet) texts.push_back(texts[i] + c);
    }
    begin = end;
  }
  return texts;
}

TEST(vmlib_SplitJoin, RoundTripsEveryShortTextWithBackslashes) {
  for (const std::wstring& text : AllTexts(L"a\\", 11)) {
    ASSERT_EQ(Join(Split(text, L"\\"), L"\\"), text);
  }
}

TEST(vmlib_SplitJoin, RoundTripsEveryShortTextWithOverlappingSeparator) {
  for (const std::wstring& text : AllTexts(L"abc", 7)) {
    ASSERT_EQ(Join(Split(text, L"aba"), L"aba"), text);
    ASSERT_EQ(Join(Split(text, L"ab"), L"ab"), text);
  }
}

TEST(vmlib_SplitJoin, ComponentsNeverContainTheSeparator) {
  for (const std::wstring& text : AllTexts(L"a\\", 9)) {
    for (const std::wstring& part : Split(text, L"\\")) {
      ASSERT_EQ(part.find(L'\\'), std::wstring::npos) << "in split of " << testing::PrintToString(text);
    }
  }
}

} // namespace
