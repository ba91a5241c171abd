#include <string>

#include <gtest/gtest.h>

#include "host/HostError.h"
#include "host/LocationStore.h"
#include "host/PluginHost.h"
#include "tests/host/CapturedOutput.h"
#include "tests/support/TempFolder.h"

using host::HostError;
using host::LocationSettings;
using host::LocationStore;
using host::UsageError;

namespace {

const std::wstring kPassword = L"S3cret-\u00e9t\u00e9";

class Locations : public ::testing::Test {
protected:
  std::wstring Answer(const wchar_t* item, const wchar_t* name, const std::wstring& before = L"(before)") {
    std::wstring value = before;
    store.GetItemParameter(item, name, value);
    return value;
  }

  test::TempFolder folder;
  // A level below the scratch folder, so that Add must create it.
  LocationStore store{folder / L"Plugins"};
};

} // namespace

TEST_F(Locations, AddedLocationIsListedWithoutItsPassword) {
  store.Add(L"office-share", {L"\\\\server\\docs", L"z:", L"bob", kPassword});
  const auto entries = store.List();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, L"office-share");
  EXPECT_EQ(entries[0].fileName, L"office-share.loc");
  EXPECT_EQ(entries[0].share, L"\\\\server\\docs");
  EXPECT_EQ(entries[0].drive, L"Z:");
  EXPECT_EQ(entries[0].user, L"bob");
  EXPECT_TRUE(entries[0].passwordSet);
  EXPECT_TRUE(entries[0].readable);
}

TEST_F(Locations, PasswordIsNotInTheFileInClearText) {
  store.Add(L"office", {L"\\\\server\\docs", L"Z:", L"bob", kPassword});
  const std::string bytes = test::ReadFileBytes(store.Folder() + L"\\office.loc");
  const std::string utf8 = "S3cret-\xC3\xA9t\xC3\xA9";
  const std::string utf16(reinterpret_cast<const char*>(kPassword.data()), kPassword.size() * sizeof(wchar_t));
  EXPECT_EQ(bytes.find(utf8), std::string::npos);
  EXPECT_EQ(bytes.find(utf16), std::string::npos);
  EXPECT_EQ(bytes.find("S3cret"), std::string::npos);
  EXPECT_NE(bytes.find("NetworkPassword=dpapi:"), std::string::npos);
}

TEST_F(Locations, PasswordComesBackThroughDpapi) {
  store.Add(L"office", {L"\\\\server\\docs", L"Z:", L"bob", kPassword});
  std::wstring value;
  EXPECT_TRUE(store.GetItemParameter(L"office.loc", L"NetworkPassword", value));
  EXPECT_EQ(value, kPassword);
}

TEST_F(Locations, EachFileNameAnswersForItsOwnLocation) {
  store.Add(L"a", {L"\\\\alpha\\one", L"X:", L"ann", L"pa"});
  store.Add(L"b.loc", {L"\\\\beta\\two", L"Y:", L"ben", L"pb"});
  EXPECT_EQ(Answer(L"a.loc", L"ShareName"), L"\\\\alpha\\one");
  EXPECT_EQ(Answer(L"a.loc", L"LocalDrive"), L"X:");
  EXPECT_EQ(Answer(L"a.loc", L"NetworkUser"), L"ann");
  EXPECT_EQ(Answer(L"a.loc", L"NetworkPassword"), L"pa");
  EXPECT_EQ(Answer(L"b.loc", L"ShareName"), L"\\\\beta\\two");
  EXPECT_EQ(Answer(L"b.loc", L"LocalDrive"), L"Y:");
  EXPECT_EQ(Answer(L"b.loc", L"NetworkUser"), L"ben");
  EXPECT_EQ(Answer(L"b.loc", L"NetworkPassword"), L"pb");
}

TEST_F(Locations, UnknownNamesAndItemsLeaveTheValueUntouched) {
  store.Add(L"a", {L"\\\\alpha\\one", L"X:", L"ann", L"pa"});
  std::wstring value = L"kept";
  EXPECT_FALSE(store.GetItemParameter(L"a.loc", L"Colour", value));
  EXPECT_FALSE(store.GetItemParameter(L"a.loc", L"sharename", value));
  EXPECT_FALSE(store.GetItemParameter(L"missing.loc", L"ShareName", value));
  EXPECT_FALSE(store.GetItemParameter(L"..\\Plugins\\a.loc", L"ShareName", value));
  EXPECT_FALSE(store.GetItemParameter(nullptr, L"ShareName", value));
  EXPECT_EQ(value, L"kept");
}

TEST_F(Locations, MissingUserAndPasswordAreAnsweredEmpty) {
  // The plug-in passes the same string for every location; a value left
  // from the one before must not reach this share.
  store.Add(L"guest", {L"\\\\server\\public", L"P:", L"", std::nullopt});
  std::wstring value = L"previous";
  EXPECT_TRUE(store.GetItemParameter(L"guest.loc", L"NetworkUser", value));
  EXPECT_EQ(value, L"");
  value = L"previous";
  EXPECT_TRUE(store.GetItemParameter(L"guest.loc", L"NetworkPassword", value));
  EXPECT_EQ(value, L"");
  EXPECT_FALSE(store.List().at(0).passwordSet);
}

TEST_F(Locations, DamagedPasswordBlobIsNotAnsweredAndClearsTheValue) {
  store.Add(L"office", {L"\\\\server\\docs", L"Z:", L"bob", kPassword});
  const std::wstring path = store.Folder() + L"\\office.loc";
  std::string bytes = test::ReadFileBytes(path);
  const size_t last = bytes.rfind('\n') - 1;
  bytes[last] = bytes[last] == '0' ? '1' : '0';
  test::WriteFileBytes(path, bytes);
  std::wstring value = L"previous location's password";
  EXPECT_FALSE(store.GetItemParameter(L"office.loc", L"NetworkPassword", value));
  EXPECT_EQ(value, L"");
}

TEST_F(Locations, RemoveDeletesOnlyThatLocation) {
  store.Add(L"a", {L"\\\\alpha\\one", L"X:", L"", std::nullopt});
  store.Add(L"b", {L"\\\\beta\\two", L"Y:", L"", std::nullopt});
  store.Remove(L"a.loc");
  const auto entries = store.List();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, L"b");
  EXPECT_FALSE(test::Exists(store.Folder() + L"\\a.loc"));
  EXPECT_THROW(store.Remove(L"a"), HostError);
}

TEST_F(Locations, AddingAnExistingNameFailsAndKeepsTheOldFile) {
  store.Add(L"a", {L"\\\\alpha\\one", L"X:", L"", std::nullopt});
  EXPECT_THROW(store.Add(L"A.LOC", {L"\\\\beta\\two", L"Y:", L"", std::nullopt}), HostError);
  EXPECT_EQ(Answer(L"a.loc", L"ShareName"), L"\\\\alpha\\one");
}

TEST_F(Locations, InvalidNamesSharesAndDrivesAreRefused) {
  const LocationSettings good{L"\\\\server\\docs", L"Z:", L"", std::nullopt};
  for (const wchar_t* name : {L"", L"a\\b", L"a/b", L"..", L"what?", L"trailing.", L"CON", L"com1.loc"}) {
    EXPECT_THROW(store.Add(name, good), UsageError) << "accepted name '" << name << "'";
  }
  for (const wchar_t* share : {L"server\\docs", L"\\\\server", L"\\\\server\\", L"\\\\\\docs", L"\\\\s\\\\d"}) {
    EXPECT_THROW(store.Add(L"x", {share, L"Z:", L"", std::nullopt}), UsageError) << "accepted share " << share;
  }
  for (const wchar_t* drive : {L"Z", L"ZZ", L"1:", L"Z:\\"}) {
    EXPECT_THROW(store.Add(L"x", {L"\\\\s\\d", drive, L"", std::nullopt}), UsageError) << "accepted " << drive;
  }
  EXPECT_THROW(store.Add(L"x", {L"\\\\s\\d", L"Z:", L"bob\nShareName=\\\\evil\\x", std::nullopt}), UsageError);
  EXPECT_THROW(store.Remove(L"..\\..\\victim"), UsageError);
  EXPECT_TRUE(store.List().empty());
}

TEST_F(Locations, ForeignFilesInTheFolderAreListedAsNotLocations) {
  store.Add(L"a", {L"\\\\alpha\\one", L"X:", L"", std::nullopt});
  test::WriteFileBytes(store.Folder() + L"\\notes.txt", "nothing to see\n");
  const auto entries = store.List();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1].fileName, L"notes.txt");
  EXPECT_FALSE(entries[1].readable);
}

TEST_F(Locations, HandEditedFileWithBomAndCrLfIsRead) {
  test::TempFolder other;
  test::WriteFileBytes(other / L"hand.loc",
                       "\xEF\xBB\xBFShareName=\\\\srv\\x\r\nLocalDrive=Q:\r\n# note\r\nNetworkUser=\xC3\xA9lise\r\n");
  const LocationStore edited(other.path());
  std::wstring value;
  EXPECT_TRUE(edited.GetItemParameter(L"hand.loc", L"ShareName", value));
  EXPECT_EQ(value, L"\\\\srv\\x");
  EXPECT_TRUE(edited.GetItemParameter(L"hand.loc", L"NetworkUser", value));
  EXPECT_EQ(value, L"\u00e9lise");
}

TEST(PluginHost, AnswersDataStorageAndCopyAcl) {
  const LocationStore store(L"C:\\unused");
  host::PluginHost withAcl(L"C:\\Data//Plugins//Computer", true, store);
  host::PluginHost withoutAcl(L"C:\\Data", false, store);
  std::wstring value;
  EXPECT_TRUE(withAcl.GetParameter(L"GetDataStorage", value));
  EXPECT_EQ(value, L"C:\\Data//Plugins//Computer");
  EXPECT_TRUE(withAcl.GetParameter(L"CopyACL", value));
  EXPECT_EQ(value, L"True");
  EXPECT_TRUE(withoutAcl.GetParameter(L"CopyACL", value));
  EXPECT_EQ(value, L"False");
  value = L"kept";
  EXPECT_FALSE(withAcl.GetParameter(L"copyacl", value));
  EXPECT_FALSE(withAcl.GetParameter(nullptr, value));
  EXPECT_EQ(value, L"kept");
}

TEST(PluginHost, DefaultDataFolderReachesPluginsComputerThroughDoubleSlashes) {
  const host::DataFolder folder = host::DefaultDataFolder();
  const std::wstring suffix = L"\\Diskway\\Plugins\\Computer";
  ASSERT_GT(folder.path.size(), suffix.size());
  EXPECT_EQ(folder.path.substr(folder.path.size() - suffix.size()), suffix);
  // What the plug-in makes of the parameter: every "//" becomes "\".
  std::wstring rewritten = folder.parameter;
  for (size_t at = rewritten.find(L"//"); at != std::wstring::npos; at = rewritten.find(L"//", at + 1)) {
    rewritten.replace(at, 2, L"\\");
  }
  EXPECT_NE(folder.parameter, folder.path);
  EXPECT_EQ(rewritten, folder.path);
}
