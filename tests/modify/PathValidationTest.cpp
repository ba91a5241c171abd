// The check that guards every change: forbidden characters, and names that
// Windows would strip or take for another.
#include "modify/PathValidation.h"
#include "tests/support/PluginFixture.h"

namespace test {
namespace {

const std::wstring kBadCharacters = L"' contains forbidden (<>:\"|?*) or unprintable characters.";
const std::wstring kBadComponent = L"' has a component that has a trailing space or an empty extention.";

class PathValidation : public PluginTest {
protected:
  // Valid with no message when `suffixes` is empty, else refused with exactly
  // these Error messages (texts after "Path '<path>").
  void ExpectVerdict(const std::wstring& path, const std::vector<std::wstring>& suffixes) {
    EXPECT_EQ(ValidatePath(reporter, path, /*longPathsEnabled=*/false), suffixes.empty()) << path;
    Messages expected;
    for (const std::wstring& suffix : suffixes) expected.push_back({Error, L"Path '" + path + suffix});
    ExpectLogged(expected);
  }

  PluginBase reporter{&log};
};

TEST_F(PathValidation, ForbiddenCharactersAndComponentsEndingInABlankOrPeriodAreRefusedEachWithItsMessage) {
  for (const wchar_t* path :
       {L"C$", L"C:", L"C$\\a\\\\b\\", L"C$\\.profile", L"C$\\a.b.c", L"C$\\ lead", L"C$\\\x7f\u00e9\u4e2d/x"}) {
    ExpectVerdict(path, {});
  }
  for (const wchar_t* path : {L"C$\\a:b", L"C$\\a?", L"C$\\a*b", L"C$\\<x>", L"C$\\a\"b", L"C$\\a|b", L"C$\\a\x1f",
                              L"\\\\?\\C:\\x"}) {
    ExpectVerdict(path, {kBadCharacters});
  }
  for (const wchar_t* path : {L"C$\\a.", L"C$\\a \\b", L"C$\\.\\b", L"C$\\a\\.."}) ExpectVerdict(path, {kBadComponent});
  ExpectVerdict(L"C$\\a?\\b.", {kBadCharacters, kBadComponent});
}

TEST_F(PathValidation, EveryOpenAndChangeRefusesAnInvalidPathLeavingTheIdAndTouchingNothing) {
  const std::wstring odd = temp.Real(L"odd."); // only the long form keeps the trailing period
  WriteFileBytes(odd, "x");
  WriteFileBytes(temp / L"good", "x");
  IBackupDataWrite* writer = MakeWriter();
  FileInfo hidden;
  hidden.attributes = FILE_ATTRIBUTE_HIDDEN;
  uint32_t id = 9;
  EXPECT_EQ(writer->CreateFolder(temp.Virtual(L"new.")), 1u);
  EXPECT_EQ(writer->Open(temp.Virtual(L"fresh."), OpenWrite, id), 1u);
  EXPECT_EQ(writer->Open(temp.Virtual(L"bad|name"), OpenRead, id), 1u);
  EXPECT_EQ(writer->ApplyFileInfo(temp.Virtual(L"odd."), hidden), 1u);
  EXPECT_EQ(writer->MoveItem(temp.Virtual(L"good"), temp.Virtual(L"moved.")), 1u);
  EXPECT_EQ(writer->MoveItem(temp.Virtual(L"odd."), temp.Virtual(L"moved")), 1u);
  EXPECT_EQ(id, 9u);
  EXPECT_EQ(log.messages.size(), 6u);
  EXPECT_EQ(FolderItems(temp.path()).size(), 2u);
  EXPECT_EQ(ReadFileBytes(temp / L"good"), "x");
  EXPECT_EQ(Attributes(odd) & FILE_ATTRIBUTE_HIDDEN, 0u);
}

// Where the system allows long paths, one is used, with a warning.
TEST_F(PathValidation, WithLongPathsEnabledALongPathIsUsedWithAWarning) {
  const DWORD enabled = 1;
  ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\FileSystem", L"LongPathsEnabled", REG_DWORD,
                    &enabled, sizeof(enabled));
  IBackupDataWrite* writer = MakeWriter();
  const std::wstring tail = std::wstring(150, L'a') + L"\\" + std::wstring(150, L'b');
  const std::wstring longPath = temp.Virtual(tail);
  EXPECT_EQ(writer->CreateFolder(longPath), 0u);
  ExpectLogged({{Warning, L"An attempt to use a path longer than 260 characters '" + longPath + L"'."}});
  EXPECT_TRUE(IsFolder(temp.Real(tail)));
}

} // namespace
} // namespace test
