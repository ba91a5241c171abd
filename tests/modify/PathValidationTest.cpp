// The check that guards every change: forbidden characters, bad components,
// and the long-path warning.
#include "instance/PluginImplementation.h"
#include "tests/support/PluginFixture.h"

namespace test {
namespace {

const std::wstring kBadCharacters = L"' contains forbidden (<>:\"|?*) or unprintable characters.";
const std::wstring kBadComponent = L"' has a component that has a trailing space or an empty extention.";

class PathValidation : public PluginTest {
protected:
  PluginImplementation& Instance() {
    if (!instance_) instance_ = std::make_unique<PluginImplementation>(&log, &host, InstanceWrite);
    return *instance_;
  }
  // Valid, with no message.
  void ExpectClean(const std::wstring& path) {
    log.messages.clear();
    EXPECT_TRUE(Instance().ValidatePath(path)) << std::string(path.begin(), path.end());
    EXPECT_TRUE(log.messages.empty()) << std::string(path.begin(), path.end());
  }
  // Invalid, with exactly these messages (texts after "Path '<path>").
  void ExpectRefused(const std::wstring& path, const std::vector<std::wstring>& suffixes) {
    log.messages.clear();
    EXPECT_FALSE(Instance().ValidatePath(path)) << std::string(path.begin(), path.end());
    std::vector<std::wstring> expected;
    for (const std::wstring& suffix : suffixes) expected.push_back(L"Path '" + path + suffix);
    EXPECT_EQ(log.Texts(), expected);
    for (const LoggedMessage& message : log.messages) EXPECT_EQ(message.level, static_cast<uint32_t>(Error));
  }

private:
  std::unique_ptr<PluginImplementation> instance_;
};

TEST_F(PathValidation, ShortPathsAndDriveNamesPass) {
  for (const wchar_t* path : {L"", L"C", L"?", L"C$", L"C:", L"C$\\", L"C$\\a\\\\b\\"}) ExpectClean(path);
}

TEST_F(PathValidation, CharactersAreScannedFromTheThirdOn) {
  ExpectClean(L"\t$\\a");
  ExpectClean(L"C\t\\a");
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
}

TEST_F(PathValidation, BothProblemsGiveBothMessagesInOrder) {
  ExpectRefused(L"C$\\a?\\b.", {kBadCharacters, kBadComponent});
}

TEST_F(PathValidation, LongPathWarningOnlyWhenLongPathsAreOn) {
  const std::wstring longPath = L"C$\\" + std::wstring(258, L'a');
  ASSERT_EQ(longPath.size(), 261u);
  ExpectClean(longPath);

  RegistryOverride::SetDword(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\FileSystem",
                             L"LongPathsEnabled", 1);
  PluginImplementation instance(&log, &host, InstanceWrite);
  log.messages.clear();
  EXPECT_TRUE(instance.ValidatePath(longPath));
  ASSERT_EQ(log.messages.size(), 1u);
  EXPECT_EQ(log.messages[0].level, static_cast<uint32_t>(Warning));
  EXPECT_EQ(log.messages[0].text, L"An attempt to use a path longer than 260 characters '" + longPath + L"'.");

  log.messages.clear();
  EXPECT_TRUE(instance.ValidatePath(longPath.substr(0, 260)));
  EXPECT_TRUE(instance.ValidatePath(L"\\" + longPath.substr(1)));
  EXPECT_TRUE(instance.ValidatePath(L"C\\" + longPath.substr(2)));
  EXPECT_TRUE(log.messages.empty());
}

TEST_F(PathValidation, MoveChecksTheTargetOnlyWhenTheSourcePasses) {
  IBackupDataWrite* writer = MakeWriter();
  const std::wstring source = temp.Virtual(L"bad?");
  const std::wstring target = temp.Virtual(L"also bad.");
  EXPECT_EQ(writer->MoveItem(source, target), 1u);
  EXPECT_EQ(log.Texts(), std::vector<std::wstring>{L"Path '" + source + kBadCharacters});

  log.messages.clear();
  WriteFileBytes(temp / L"good", "x");
  EXPECT_EQ(writer->MoveItem(temp.Virtual(L"good"), target), 1u);
  EXPECT_EQ(log.Texts(), std::vector<std::wstring>{L"Path '" + target + kBadComponent});
  EXPECT_EQ(ReadFileBytes(temp / L"good"), "x");
}

} // namespace
} // namespace test
