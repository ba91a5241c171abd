// The check that guards every change: forbidden characters, bad components,
// and the long-path warning.
#include "modify/PathValidation.h"
#include "tests/support/PluginFixture.h"

namespace test {
namespace {

const std::wstring kBadCharacters = L"' contains forbidden (<>:\"|?*) or unprintable characters.";
const std::wstring kBadComponent = L"' has a component that has a trailing space or an empty extention.";

class PathValidation : public PluginTest {
protected:
  // Valid with no message, or refused with exactly these Error messages
  // (texts after "Path '<path>").
  void ExpectClean(const std::wstring& path) { ExpectRefused(path, {}); }
  void ExpectRefused(const std::wstring& path, const std::vector<std::wstring>& suffixes) {
    EXPECT_EQ(ValidatePath(reporter, path, /*longPathsEnabled=*/false), suffixes.empty()) << path;
    Messages expected;
    for (const std::wstring& suffix : suffixes) expected.push_back({Error, L"Path '" + path + suffix});
    ExpectLogged(expected);
  }

  PluginBase reporter{&log};
};

TEST_F(PathValidation, ShortPathsAndDriveNamesPassAndCharactersAreScannedFromTheThirdOn) {
  for (const wchar_t* path : {L"", L"C", L"?", L"C$", L"C:", L"C$\\", L"C$\\a\\\\b\\", L"\t$\\a", L"C\t\\a"}) {
    ExpectClean(path);
  }
  for (const wchar_t* path : {L"C$\\a:b", L"C$\\a?", L"C$\\a*b", L"C$\\<x>", L"C$\\a\"b", L"C$\\a|b", L"C$\\a\tb",
                              L"C$\\a\x1f" L"b", L"\\\\?\\C:\\x", L"C$:"}) {
    ExpectRefused(path, {kBadCharacters});
  }
  ExpectClean(L"C$\\\x7f\u00e9\u4e2d/name");
}

TEST_F(PathValidation, ComponentsEndingInABlankOrPeriodAreRefusedAnywhere) {
  for (const wchar_t* path : {L"C$\\a.", L"C$\\a \\b", L"C$\\.\\b", L"C$\\a\\..", L"C$\\...\\x", L"C$\\dir.\\file"}) {
    ExpectRefused(path, {kBadComponent});
  }
  for (const wchar_t* path : {L"C$\\.profile", L"C$\\..x\\y", L"C$\\a.b.c", L"C$\\ lead"}) ExpectClean(path);
  ExpectRefused(L"C$\\a?\\b.", {kBadCharacters, kBadComponent}); // both problems, both messages in order
}

TEST_F(PathValidation, LongPathWarningOnlyWhenLongPathsAreOn) {
  const std::wstring longPath = L"C$\\" + std::wstring(258, L'a');
  ASSERT_EQ(longPath.size(), 261u);
  ExpectClean(longPath);

  EXPECT_TRUE(ValidatePath(reporter, longPath, /*longPathsEnabled=*/true));
  ExpectLogged({{Warning, L"An attempt to use a path longer than 260 characters '" + longPath + L"'."}});
  EXPECT_TRUE(ValidatePath(reporter, longPath.substr(0, 260), /*longPathsEnabled=*/true));
  EXPECT_TRUE(ValidatePath(reporter, L"\\" + longPath.substr(1), /*longPathsEnabled=*/true));
  EXPECT_TRUE(ValidatePath(reporter, L"C\\" + longPath.substr(2), /*longPathsEnabled=*/true));
  EXPECT_TRUE(log.messages.empty());
}

TEST_F(PathValidation, MoveChecksTheTargetOnlyWhenTheSourcePasses) {
  IBackupDataWrite* writer = MakeWriter();
  const std::wstring source = temp.Virtual(L"bad?"), target = temp.Virtual(L"also bad.");
  EXPECT_EQ(writer->MoveItem(source, target), 1u);
  ExpectLogged({{Error, L"Path '" + source + kBadCharacters}});

  WriteFileBytes(temp / L"good", "x");
  EXPECT_EQ(writer->MoveItem(temp.Virtual(L"good"), target), 1u);
  ExpectLogged({{Error, L"Path '" + target + kBadComponent}});
  EXPECT_EQ(ReadFileBytes(temp / L"good"), "x");
}

} // namespace
} // namespace test
