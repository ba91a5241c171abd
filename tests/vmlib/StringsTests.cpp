#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vmlib/VMLib.h"

namespace {

using VMLib::strings::Join;
using VMLib::strings::Split;
using Parts = std::vector<std::wstring>;

TEST(Split, GivesEveryComponentBetweenSeparators) {
  const struct {
    const wchar_t* text;
    const wchar_t* separator;
    Parts parts;
  } cases[] = {
      {L"", L"\\", {}},
      {L"abc", L"\\", {L"abc"}},
      {L"C:\\Windows\\System32", L"\\", {L"C:", L"Windows", L"System32"}},
      {L"a\\\\b", L"\\", {L"a", L"", L"b"}},
      {L"\\a\\", L"\\", {L"", L"a", L""}},
      {L"\\", L"\\", {L"", L""}},
      {L"\\\\?\\C:\\\\x", L"\\", {L"", L"", L"?", L"C:", L"", L"x"}},
      {L"a:::b", L"::", {L"a", L":b"}},
      {L"a\\b", L"", {L"a\\b"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Split(c.text, c.separator), c.parts) << "text " << c.text << ", separator " << c.separator;
  }
}

// Every text over `alphabet` up to `maxLength` characters.
std::vector<std::wstring> AllTexts(const std::wstring& alphabet, std::size_t maxLength) {
  std::vector<std::wstring> texts{L""};
  for (std::size_t i = 0; i < texts.size(); ++i) {
    if (texts[i].size() == maxLength) continue;
    for (const wchar_t c : alphabet) texts.push_back(texts[i] + c);
  }
  return texts;
}

// Join(Split(x, s), s) == x for every x; separators that overlap themselves
// ("aba") are where a splitter most easily loses text.
TEST(SplitJoin, RoundTripsEveryShortText) {
  const struct {
    const wchar_t* alphabet;
    std::size_t maxLength;
    const wchar_t* separator;
  } runs[] = {{L"a\\", 11, L"\\"}, {L"abc", 7, L"aba"}, {L"abc", 7, L"ab"}};
  for (const auto& run : runs) {
    for (const std::wstring& text : AllTexts(run.alphabet, run.maxLength)) {
      ASSERT_EQ(Join(Split(text, run.separator), run.separator), text) << "separator " << run.separator;
    }
  }
}

} // namespace
