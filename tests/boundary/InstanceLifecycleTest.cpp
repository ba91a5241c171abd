// Construction from the host's settings and the system, network locations, and
// teardown order.
#include <algorithm>
#include <stdexcept>

#include "instance/PluginImplementation.h"
#include "tests/support/PluginFixture.h"
#include "vmlib/ScopedHandle.h"

namespace test {
namespace {

class InstanceTest : public PluginTest {
protected:
  std::unique_ptr<PluginImplementation> Build() {
    return std::make_unique<PluginImplementation>(&log, &host, InstanceRead);
  }

  // Adds and connects pairs only: "cancel <share>" immediately followed by
  // "add local=<drive> remote=<share> ...".
  static std::vector<std::wstring> ConnectedShares(const std::vector<std::wstring>& calls) {
    std::vector<std::wstring> shares;
    for (size_t i = 0; i < calls.size(); ++i) {
      if (calls[i].rfind(L"add ", 0) != 0) continue;
      const size_t remote = calls[i].find(L" remote=") + 8;
      const std::wstring share = calls[i].substr(remote, calls[i].find(L' ', remote) - remote);
      EXPECT_GT(i, 0u) << "add without a cancel before it";
      if (i > 0) {
        EXPECT_EQ(calls[i - 1], L"cancel " + share + L" flags=0 force=1");
      }
      shares.push_back(share);
    }
    return shares;
  }
};

TEST_F(InstanceTest, DoubleSlashesInDataStorageBecomeBackslashes) {
  host.parameters[L"GetDataStorage"] = temp.path() + L"//Plugins//Computer";
  auto instance = Build();
  EXPECT_EQ(instance->SettingsDirectory(), temp.path() + L"\\Plugins\\Computer");
  EXPECT_TRUE(Attributes(temp / L"Plugins\\Computer") & FILE_ATTRIBUTE_DIRECTORY);
}

TEST_F(InstanceTest, SlashRunsRewriteLeftToRightWithoutRescanning) {
  const std::wstring base = temp.path();
  const std::pair<std::wstring, std::wstring> cases[] = {
      {base + L"/x", base + L"/x"},          {base + L"\\a//b", base + L"\\a\\b"},
      {base + L"\\a///b", base + L"\\a\\/b"}, {base + L"\\a////b", base + L"\\a\\\\b"},
      {base + L"\\a\\\\b", base + L"\\a\\\\b"}, {base + L"//", base + L"\\"}};
  for (const auto& [value, expected] : cases) {
    host.parameters[L"GetDataStorage"] = value;
    EXPECT_EQ(Build()->SettingsDirectory(), expected);
  }
}

TEST_F(InstanceTest, ExistingDataFolderIsKeptAndMissingOneIsCreatedWithParents) {
  MakeFolder(dataFolder);
  WriteFileBytes(dataFolder + L"\\keep.txt", "x");
  Build();
  EXPECT_EQ(ReadFileBytes(dataFolder + L"\\keep.txt"), "x");

  ResetNetworkCalls();
  host.parameters[L"GetDataStorage"] = temp / L"one\\two\\three";
  auto instance = Build();
  EXPECT_TRUE(Attributes(temp / L"one\\two\\three") & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_FALSE(instance->LocationsConnected());
  EXPECT_TRUE(NetworkCalls().empty());
}

TEST_F(InstanceTest, MissingDataStorageCreatesNothingAndConnectsNothing) {
  host.parameters.erase(L"GetDataStorage");
  auto instance = Build();
  EXPECT_EQ(instance->SettingsDirectory(), L"");
  EXPECT_FALSE(instance->LocationsConnected());
  EXPECT_TRUE(NetworkCalls().empty());
}

TEST_F(InstanceTest, CopyAclOnlyForExactlyTrue) {
  for (const wchar_t* value : {L"true", L"TRUE", L"True ", L"", L"1"}) {
    host.parameters[L"CopyACL"] = value;
    EXPECT_FALSE(Build()->AclCopyingOn()) << value;
  }
  EXPECT_TRUE(log.messages.empty()) << "no privilege is checked while copying is off";

  host.parameters[L"CopyACL"] = L"True";
  auto instance = Build();
  EXPECT_TRUE(instance->AclCopyingOn());
}

TEST_F(InstanceTest, PrivilegeFlagsFollowWhatCouldBeEnabled) {
  host.parameters[L"CopyACL"] = L"True";
  auto instance = Build();
  // Wine grants all three privileges: nothing to report, every part copied.
  const std::array<bool, 4> all = {true, true, true, true};
  EXPECT_EQ(instance->AclCopyFlags(), all);
  EXPECT_TRUE(log.messages.empty());
}

TEST_F(InstanceTest, LongPathsEnabledOnlyForTheValueOne) {
  const std::wstring key = L"SYSTEM\\CurrentControlSet\\Control\\FileSystem";
  EXPECT_FALSE(Build()->LongPathsOn()) << "missing key";
  RegistryOverride::CreateKey(HKEY_LOCAL_MACHINE, key);
  EXPECT_FALSE(Build()->LongPathsOn()) << "missing value";
  RegistryOverride::SetString(HKEY_LOCAL_MACHINE, key, L"LongPathsEnabled", L"1");
  EXPECT_FALSE(Build()->LongPathsOn()) << "text value";
  RegistryOverride::SetDword(HKEY_LOCAL_MACHINE, key, L"LongPathsEnabled", 2);
  EXPECT_FALSE(Build()->LongPathsOn());
  RegistryOverride::SetDword(HKEY_LOCAL_MACHINE, key, L"LongPathsEnabled", 1);
  EXPECT_TRUE(Build()->LongPathsOn());
}

TEST_F(InstanceTest, ReadAndWriteInstancesAskTheHostTheSameQuestions) {
  MakeReader();
  const std::vector<std::wstring> readerCalls = host.calls;
  host.calls.clear();
  MakeWriter();
  EXPECT_EQ(host.calls, readerCalls);
  EXPECT_EQ(readerCalls, (std::vector<std::wstring>{L"GetParameter GetDataStorage", L"GetParameter CopyACL"}));
}

TEST_F(InstanceTest, HostExceptionLeavesTheExport) {
  host.onCall = [](const std::wstring& name) {
    if (name == L"CopyACL") throw std::runtime_error("host failure");
  };
  EXPECT_THROW(PluginLibrary::Get().getBackupDataRead(&log, &host), std::runtime_error);
}

TEST_F(InstanceTest, LocationFilesAnywhereBelowTheDataFolderAreConnected) {
  ASSERT_TRUE(RecordingMprLoaded());
  MakeFolder(dataFolder + L"\\nested\\deeper");
  MakeFolder(dataFolder + L"\\folder.loc");
  WriteFileBytes(dataFolder + L"\\office.loc", "");
  WriteFileBytes(dataFolder + L"\\nested\\deeper\\archive.loc", "");
  host.AddLocation(L"office.loc", L"alice", L"secret", L"Y:", L"\\\\srv\\office");
  host.AddLocation(L"archive.loc", L"", L"", L"X:", L"\\\\srv\\archive");

  auto instance = Build();
  EXPECT_TRUE(instance->LocationsConnected());
  std::vector<std::wstring> shares = ConnectedShares(NetworkCalls());
  std::sort(shares.begin(), shares.end());
  EXPECT_EQ(shares, (std::vector<std::wstring>{L"\\\\srv\\archive", L"\\\\srv\\office"}));

  const std::vector<std::wstring> calls = NetworkCalls();
  EXPECT_NE(std::find(calls.begin(), calls.end(),
                      L"add local=Y: remote=\\\\srv\\office type=1 scope=0 display=0 usage=0 comment=(null) "
                      L"provider=(null) user=alice password=secret flags=0"),
            calls.end());
  EXPECT_NE(std::find(calls.begin(), calls.end(),
                      L"add local=X: remote=\\\\srv\\archive type=1 scope=0 display=0 usage=0 comment=(null) "
                      L"provider=(null) user= password= flags=0"),
            calls.end())
      << "empty strings, never null pointers";
  for (const std::wstring& call : host.calls) {
    EXPECT_EQ(call.find(L"folder.loc"), std::wstring::npos) << "folders are not locations";
    EXPECT_EQ(call.find(L"nested"), std::wstring::npos) << "items are asked by file name alone";
  }
}

TEST_F(InstanceTest, SecondLocationWithTheSameDriveIsSkipped) {
  MakeFolder(dataFolder);
  WriteFileBytes(dataFolder + L"\\first.loc", "");
  WriteFileBytes(dataFolder + L"\\second.loc", "");
  host.AddLocation(L"first.loc", L"u", L"p", L"Z:", L"\\\\srv\\one");
  host.AddLocation(L"second.loc", L"u", L"p", L"Z:", L"\\\\srv\\two");

  auto instance = Build();
  EXPECT_EQ(instance->ConnectedDrives(), std::vector<std::wstring>{L"Z:"});
  EXPECT_EQ(ConnectedShares(NetworkCalls()).size(), 1u);
}

TEST_F(InstanceTest, UnansweredParameterKeepsThePreviousLocationsValue) {
  MakeFolder(dataFolder);
  WriteFileBytes(dataFolder + L"\\a.loc", "");
  WriteFileBytes(dataFolder + L"\\b.loc", "");
  host.AddLocation(L"a.loc", L"alice", L"pa", L"A:", L"\\\\srv\\a");
  host.AddLocation(L"b.loc", L"bob", L"pb", L"B:", L"\\\\srv\\b");
  // Whichever file the walk meets second answers only drive and share.
  Build();
  const std::wstring second = host.calls.back().find(L"a.loc") != std::wstring::npos ? L"a.loc" : L"b.loc";
  const std::wstring firstUser = second == L"a.loc" ? L"bob" : L"alice";
  host.items[second].erase(L"NetworkUser");
  host.calls.clear();
  ResetNetworkCalls();

  auto instance = Build();
  const std::vector<std::wstring> calls = NetworkCalls();
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_NE(calls[3].find(L" user=" + firstUser + L" "), std::wstring::npos) << calls[3];
}

TEST_F(InstanceTest, ReconnectingAfterDisconnectCancelsAndAddsEveryLocationAgain) {
  MakeFolder(dataFolder);
  WriteFileBytes(dataFolder + L"\\a.loc", "");
  host.AddLocation(L"a.loc", L"u", L"p", L"Q:", L"\\\\srv\\q");
  auto instance = Build();
  instance->DisconnectLocations();
  EXPECT_FALSE(instance->LocationsConnected());
  EXPECT_TRUE(instance->ConnectedDrives().empty());
  ResetNetworkCalls();

  instance->ConnectLocations();
  EXPECT_EQ(ConnectedShares(NetworkCalls()), std::vector<std::wstring>{L"\\\\srv\\q"});
  EXPECT_EQ(NetworkCalls().size(), 2u);
}

TEST_F(InstanceTest, EmptyDataFolderConnectsWithoutNetworkCalls) {
  MakeFolder(dataFolder);
  auto instance = Build();
  instance->ConnectLocations();
  EXPECT_TRUE(instance->LocationsConnected());
  EXPECT_TRUE(NetworkCalls().empty());
}

// Set by the cancel hook: can the files be opened exclusively, i.e. were the
// instance's handles already closed when the connection went?
std::vector<std::wstring> g_heldFiles;
bool g_filesClosedAtCancel = false;

void CheckFilesClosed(const wchar_t*) {
  g_filesClosedAtCancel = true;
  for (const std::wstring& file : g_heldFiles) {
    VMLib::UniqueFile exclusive(::CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!exclusive) g_filesClosedAtCancel = false;
  }
}

TEST_F(InstanceTest, ReleaseClosesOpenFilesBeforeCancellingConnections) {
  MakeFolder(dataFolder);
  WriteFileBytes(dataFolder + L"\\a.loc", "");
  WriteFileBytes(dataFolder + L"\\b.loc", "");
  host.AddLocation(L"a.loc", L"u", L"p", L"M:", L"\\\\srv\\m");
  host.AddLocation(L"b.loc", L"u", L"p", L"N:", L"\\\\srv\\n");
  g_heldFiles = {temp / L"one.bin", temp / L"two.bin"};
  for (const std::wstring& file : g_heldFiles) WriteFileBytes(file, "data");

  IBackupDataRead* reader = MakeReader();
  ASSERT_NE(reader, nullptr);
  uint32_t first = 0, second = 0;
  ASSERT_EQ(reader->Open(ToVirtual(g_heldFiles[0]), OpenRead, first), 0u);
  ASSERT_EQ(reader->Open(ToVirtual(g_heldFiles[1]), OpenWrite, second), 0u);
  std::vector<std::wstring> connectOrder;
  for (const std::wstring& call : NetworkCalls()) {
    if (call.rfind(L"add local=", 0) == 0) connectOrder.push_back(call.substr(10, 2));
  }
  ResetNetworkCalls();
  SetCancelHook(&CheckFilesClosed);

  ReleaseInstance(reader);
  EXPECT_TRUE(g_filesClosedAtCancel);
  std::vector<std::wstring> expected;
  for (const std::wstring& drive : connectOrder) expected.push_back(L"cancel " + drive + L" flags=0 force=1");
  EXPECT_EQ(NetworkCalls(), expected);
  EXPECT_EQ(expected.size(), 2u);
}

} // namespace
} // namespace test
