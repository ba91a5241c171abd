// The host's own parts that the end-to-end suite cannot reach or pin down:
// the command line, the log file, SHA-256, and the network locations, which
// Wine can never connect, so the plug-in never hears of them there.
#include <algorithm>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "host/cli/Commands.h"
#include "host/jobs/Sha256.h"
#include "host/session/HostError.h"
#include "host/session/HostLog.h"
#include "host/session/LocalFile.h"
#include "host/session/LocationStore.h"
#include "host/session/PluginHost.h"
#include "tests/host/CapturedOutput.h"
#include "tests/support/TempFolder.h"

using host::HostError;
using host::LocationSettings;
using host::LocationStore;
using host::UsageError;

// Exit code 2 is bad usage, with the usage text; 1 a command that failed.
TEST(Arguments, ExitCodesTellUsageFromFailure) {
  test::TempFolder folder;
  const std::wstring data = folder.path();
  const std::vector<std::pair<std::vector<std::wstring>, int>> cases = {
      {{}, 2}, {{L"copy", L"a", L"b"}, 2}, {{L"get", L"C$\\a"}, 2}, {{L"get", L"C$\\a", L"a", L"--buffer=lots"}, 2},
      // the password never on the command line
      {{L"locations", L"add", L"o", L"--share", L"\\\\s\\d", L"--drive", L"Z:", L"--password", L"x"}, 2},
      // only virtual paths, and the items a command can act on
      {{L"ls", L"C:\\a"}, 2}, {{L"stat", L"\\\\?\\C:\\a"}, 2}, {{L"get", L"C$\\a\\..\\b", L"b"}, 2},
      {{L"rm", L"C$"}, 2},
      {{L"help"}, 0}, {{L"--data", data, L"locations", L"remove", L"nothing"}, 1},
      // NO_PLUGIN: no Diskway.dll beside the test program.
      {{L"--data", data, L"info"}, 1},
  };
  for (const auto& [args, exitCode] : cases) {
    hosttest::CapturedOutput out, err;
    const std::wstring line = args.empty() ? L"(nothing)" : args.back();
    EXPECT_EQ(host::Run(args, out, err), exitCode) << line.c_str();
    EXPECT_EQ(err.text().find(L"usage: diskway-host") != std::wstring::npos, exitCode == 2) << line.c_str();
  }
}

// The tree commands show warnings and worse; --log keeps every message and
// the summary, timestamped, after what earlier runs left in the file.
TEST(LogFile, KeepsWhatTheConsoleLeavesOutAfterEarlierRuns) {
  test::TempFolder folder;
  const std::wstring path = folder / L"host.log";
  test::WriteFileBytes(path, "earlier run\n");
  hosttest::CapturedOutput console;
  {
    host::HostLog log(console);
    log.OpenFile(path);
    log.SetConsoleLevel(Warning);
    log.Log(Info, L"caf\u00e9 \u6587 is locked");
    log.Log(Warning, L"no shadow copy");
    log.Note(L"Backup finished");
  }
  EXPECT_EQ(console.text(), L"WARNING: no shadow copy\n");
  const std::string bytes = test::ReadFileBytes(path);
  const std::string stamp = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d )"; // yyyy-mm-dd hh:mm:ss
  EXPECT_TRUE(std::regex_match(bytes, std::regex("earlier run\n" + stamp + "INFO: caf\xC3\xA9 \xE6\x96\x87 is locked\n" +
                                                     stamp + "WARNING: no shadow copy\n" + stamp + "Backup finished\n")))
      << bytes;
}

// Digests from FIPS 180-2; each Finish starts the next digest afresh.
TEST(Sha256, KnownDigestsWholeAndInPieces) {
  host::Sha256 sha;
  EXPECT_EQ(sha.Finish(), L"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  sha.WriteAll("abc", 3);
  EXPECT_EQ(sha.Finish(), L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  const std::string piece(997, 'a');
  for (size_t done = 0; done < 1000000; done += piece.size()) {
    sha.WriteAll(piece.data(), static_cast<uint32_t>(std::min(piece.size(), 1000000 - done)));
  }
  EXPECT_EQ(sha.Finish(), L"cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

// Workers look at each file for another program's hold only where a
// snapshot could follow: ./diskway test maps R: as a CD-ROM drive.
TEST(Workers, LookForHeldFilesOnlyWhereAShadowCopyCanBeTaken) {
  const test::TempFolder folder;
  EXPECT_TRUE(host::ShadowCopiesPossibleOn(test::ToVirtual(folder.path())));
  EXPECT_FALSE(host::ShadowCopiesPossibleOn(L"R$\\disc"));
}

namespace {

const std::wstring kPassword = L"S3cret-\u00e9t\u00e9";

class Locations : public ::testing::Test {
protected:
  test::TempFolder folder;
  // A level below the scratch folder, so that Add must create it.
  LocationStore store{folder / L"Plugins"};
};

} // namespace

// The password is kept only through DPAPI and never shown. The plug-in passes
// one string for every location: a value left from the one before must not
// reach this share when its password is damaged or missing.
TEST_F(Locations, PasswordIsKeptOnlyThroughDpapiAndADamagedOrMissingOneIsAnsweredEmpty) {
  store.Add(L"office", {L"\\\\server\\docs", L"Z:", L"bob", kPassword});
  store.Add(L"guest", {L"\\\\server\\public", L"P:", L"", std::nullopt});
  const std::wstring path = store.Folder() + L"\\office.loc";
  std::string bytes = test::ReadFileBytes(path);
  const std::string utf16(reinterpret_cast<const char*>(kPassword.data()), kPassword.size() * sizeof(wchar_t));
  EXPECT_EQ(bytes.find("S3cret"), std::string::npos);
  EXPECT_EQ(bytes.find(utf16), std::string::npos);
  EXPECT_NE(bytes.find("NetworkPassword=dpapi:"), std::string::npos);
  std::wstring value;
  EXPECT_TRUE(store.GetItemParameter(L"office.loc", L"NetworkPassword", value));
  EXPECT_EQ(value, kPassword);
  const hosttest::HostRun list = hosttest::Run({L"--data", store.Folder(), L"locations", L"list"});
  EXPECT_EQ(list.exitCode, 0) << list.output;
  EXPECT_NE(list.output.find(L"(password set)"), std::wstring::npos) << list.output;
  EXPECT_EQ(list.output.find(L"S3cret"), std::wstring::npos);

  const size_t last = bytes.rfind('\n') - 1;
  bytes[last] = bytes[last] == '0' ? '1' : '0';
  test::WriteFileBytes(path, bytes);
  for (const auto& [item, answered] : {std::pair{L"office.loc", false}, std::pair{L"guest.loc", true}}) {
    value = L"previous location's password";
    EXPECT_EQ(store.GetItemParameter(item, L"NetworkPassword", value), answered) << item;
    EXPECT_EQ(value, L"") << item;
  }
}

// The names the plug-in asks for; an item outside the data folder is no
// location, however the plug-in spells it.
TEST_F(Locations, PluginHostAnswersTheSettingsAndLocationsItIsAskedFor) {
  store.Add(L"a", {L"\\\\alpha\\one", L"X:", L"ann", L"pa"});
  host::PluginHost host(L"C:\\Data\\Plugins\\Computer", /*copyAcl=*/true, store);
  const struct {
    const wchar_t* item; // null: GetParameter
    const wchar_t* name;
    const wchar_t* answer; // null: not answered
  } cases[] = {
      {nullptr, L"GetDataStorage", L"C:\\Data\\Plugins\\Computer"}, {nullptr, L"CopyACL", L"True"},
      {L"a.loc", L"ShareName", L"\\\\alpha\\one"}, {L"a.loc", L"LocalDrive", L"X:"},
      {L"a.loc", L"NetworkUser", L"ann"}, {L"a.loc", L"NetworkPassword", L"pa"},
      {L"missing.loc", L"ShareName", nullptr}, {L"..\\Plugins\\a.loc", L"ShareName", nullptr},
  };
  for (const auto& c : cases) {
    std::wstring value;
    const bool answered =
        c.item != nullptr ? host.GetItemParameter(c.item, c.name, value) : host.GetParameter(c.name, value);
    const std::wstring what = std::wstring(c.item != nullptr ? c.item : L"") + L" " + c.name;
    EXPECT_EQ(answered, c.answer != nullptr) << what.c_str();
    EXPECT_EQ(value, answered ? c.answer : L"") << what.c_str();
  }
}

TEST_F(Locations, RefusedAddsAndRemovesChangeNothing) {
  store.Add(L"a", {L"\\\\alpha\\one", L"X:", L"", std::nullopt});
  EXPECT_THROW(store.Add(L"A.LOC", {L"\\\\beta\\two", L"Y:", L"", std::nullopt}), HostError);
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
  // A line break would let the user name write a second ShareName.
  EXPECT_THROW(store.Add(L"x", {L"\\\\s\\d", L"Z:", L"bob\nShareName=\\\\evil\\x", std::nullopt}), UsageError);
  EXPECT_THROW(store.Remove(L"..\\..\\victim"), UsageError);
  ASSERT_EQ(store.List().size(), 1u);
  std::wstring share;
  EXPECT_TRUE(store.GetItemParameter(L"a.loc", L"ShareName", share));
  EXPECT_EQ(share, L"\\\\alpha\\one");
}
