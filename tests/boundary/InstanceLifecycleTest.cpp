// Construction from the host's settings and the system, network locations, and
// teardown order.
#include <algorithm>
#include <stdexcept>

#include "instance/PluginImplementation.h"
#include "tests/support/PluginFixture.h"

namespace test {
namespace {

class InstanceTest : public PluginTest {
protected:
  std::unique_ptr<PluginImplementation> Build() {
    return std::make_unique<PluginImplementation>(&log, &host, InstanceRead);
  }
};

TEST_F(InstanceTest, DoubleSlashesInDataStorageBecomeBackslashesLeftToRight) {
  const std::pair<std::wstring, std::wstring> cases[] = {
      {L"//Plugins//Computer", L"\\Plugins\\Computer"}, {L"/x", L"/x"},         {L"\\a///b", L"\\a\\/b"},
      {L"\\a////b", L"\\a\\\\b"},                        {L"\\a\\\\b", L"\\a\\\\b"}, {L"//", L"\\"}};
  for (const auto& [value, expected] : cases) {
    host.parameters[L"GetDataStorage"] = temp.path() + value;
    EXPECT_EQ(Build()->Locations().SettingsDirectory(), temp.path() + expected) << value;
  }
  EXPECT_TRUE(IsFolder(temp / L"Plugins\\Computer"));
}

TEST_F(InstanceTest, DataFolderIsCreatedWithParentsOrKeptAndWithoutOneNothingIsConnected) {
  const std::wstring folder = temp / L"one\\two\\three";
  host.parameters[L"GetDataStorage"] = folder;
  auto instance = Build();
  EXPECT_TRUE(IsFolder(folder));
  EXPECT_FALSE(instance->Locations().LocationsConnected());
  EXPECT_TRUE(NetworkCalls().empty()) << "an empty data folder needs no network call";

  WriteFileBytes(folder + L"\\keep.txt", "x");
  Build();
  EXPECT_EQ(ReadFileBytes(folder + L"\\keep.txt"), "x");

  ResetNetworkCalls();
  host.parameters.erase(L"GetDataStorage");
  instance = Build();
  EXPECT_EQ(instance->Locations().SettingsDirectory(), L"");
  EXPECT_FALSE(instance->Locations().LocationsConnected());
  EXPECT_TRUE(NetworkCalls().empty());
}

TEST_F(InstanceTest, CopyAclOnlyForExactlyTrueAndLongPathsOnlyForTheNumberOne) {
  for (const wchar_t* value : {L"true", L"TRUE", L"True ", L"", L"1"}) {
    host.parameters[L"CopyACL"] = value;
    EXPECT_FALSE(Build()->Acl().copy) << value;
  }
  EXPECT_TRUE(log.messages.empty()) << "no privilege is checked while copying is off";
  host.parameters[L"CopyACL"] = L"True";
  auto instance = Build();
  EXPECT_TRUE(instance->Acl().copy);
  // Wine grants all three privileges: nothing to report, every part copied.
  EXPECT_EQ(instance->Acl().parts, (std::array<bool, 4>{true, true, true, true}));
  EXPECT_TRUE(log.messages.empty());

  const std::wstring key = L"SYSTEM\\CurrentControlSet\\Control\\FileSystem";
  EXPECT_FALSE(Build()->LongPathsOn()) << "missing key";
  RegistryOverride::CreateKey(HKEY_LOCAL_MACHINE, key);
  EXPECT_FALSE(Build()->LongPathsOn()) << "missing value";
  RegistryOverride::SetString(HKEY_LOCAL_MACHINE, key, L"LongPathsEnabled", L"1");
  EXPECT_FALSE(Build()->LongPathsOn()) << "text value";
  for (uint32_t value : {2u, 1u}) {
    RegistryOverride::SetDword(HKEY_LOCAL_MACHINE, key, L"LongPathsEnabled", value);
    EXPECT_EQ(Build()->LongPathsOn(), value == 1);
  }
}

TEST_F(InstanceTest, HostExceptionLeavesTheExport) {
  host.onCall = [](const std::wstring& name) {
    if (name == L"CopyACL") throw std::runtime_error("host failure");
  };
  EXPECT_THROW(PluginLibrary::Get().getBackupDataRead(&log, &host), std::runtime_error);
}

TEST_F(InstanceTest, LocationFilesAnywhereBelowTheDataFolderAreConnected) {
  MakeFolder(dataFolder + L"\\folder.loc");
  AddLocationFile(L"office.loc", L"Y:", L"\\\\srv\\office", L"alice", L"secret");
  AddLocationFile(L"nested\\deeper\\archive.loc", L"X:", L"\\\\srv\\archive", L"", L"");

  auto instance = Build();
  EXPECT_TRUE(instance->Locations().LocationsConnected());
  // Walk order is the file system's; each add right after a cancel of its
  // share, with empty strings (never null pointers) for empty answers.
  CallList calls = NetworkCalls();
  if (calls.size() == 4 && calls[0] != CancelCall(L"\\\\srv\\office")) {
    std::rotate(calls.begin(), calls.begin() + 2, calls.end());
  }
  EXPECT_EQ(calls, (CallList{CancelCall(L"\\\\srv\\office"), AddCall(L"Y:", L"\\\\srv\\office", L"alice", L"secret"),
                             CancelCall(L"\\\\srv\\archive"), AddCall(L"X:", L"\\\\srv\\archive", L"", L"")}));
  for (const std::wstring& call : host.calls) {
    EXPECT_EQ(call.find(L"folder.loc"), std::wstring::npos) << "folders are not locations";
    EXPECT_EQ(call.find(L"nested"), std::wstring::npos) << "items are asked by file name alone";
  }
}

TEST_F(InstanceTest, LinksInTheDataFolderAreNeitherFollowedNorAnObstacle) {
  const std::wstring locations = std::wstring(LINK_FIXTURE) + L"\\locations";
  if (!(Attributes(locations + L"\\loop") & FILE_ATTRIBUTE_REPARSE_POINT)) {
    GTEST_SKIP() << "no link to a folder in the fixture (made natively by the link_fixture test)";
  }
  // "loop" points back up the tree, "elsewhere" at a folder with foreign.loc.
  host.parameters[L"GetDataStorage"] = locations;
  for (const auto& [item, drive] : {std::pair(L"own.loc", L"O:"), {L"deep.loc", L"P:"}, {L"foreign.loc", L"F:"}}) {
    host.items[item] = {{L"LocalDrive", drive}, {L"ShareName", L"\\\\srv\\x"}};
  }
  auto instance = Build();
  EXPECT_EQ(instance->Locations().CountLocationFiles(), 2u);
  std::vector<std::wstring> drives = instance->Locations().ConnectedDrives();
  std::sort(drives.begin(), drives.end());
  EXPECT_EQ(drives, (std::vector<std::wstring>{L"O:", L"P:"}));
}

TEST_F(InstanceTest, AnExceptionInsideAnOperationBecomesAFailureStatusWithOneMessage) {
  AddLocationFile(L"a.loc", L"A:", L"\\\\srv\\a");
  IBackupDataRead* reader = MakeReader();
  log.messages.clear();
  // Listing a missing folder reconnects the locations, which asks the host.
  host.onCall = [](const std::wstring& name) {
    if (name.find(L"NetworkUser") != std::wstring::npos) throw std::runtime_error("host went away");
  };
  FolderList list;
  EXPECT_EQ(reader->ListFolder(temp.Virtual(L"missing"), list), 1u);
  ExpectLogged({{Error, L"ListFolder failed: host went away"}});
  host.onCall = nullptr;
  EXPECT_EQ(reader->ListFolder(temp.virtualPath(), list), 0u) << "the instance goes on serving";
}

TEST_F(InstanceTest, UnansweredParameterKeepsThePreviousLocationsValue) {
  AddLocationFile(L"a.loc", L"A:", L"\\\\srv\\a", L"alice");
  AddLocationFile(L"b.loc", L"B:", L"\\\\srv\\b", L"bob");
  Build(); // learns the walk order: host.calls[1] asks the first item
  const bool aFirst = host.calls[1].find(L"a.loc") != std::wstring::npos;
  host.items[aFirst ? L"b.loc" : L"a.loc"].erase(L"NetworkUser");
  ResetNetworkCalls();

  auto instance = Build();
  const CallList calls = NetworkCalls();
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[3], aFirst ? AddCall(L"B:", L"\\\\srv\\b", L"alice") : AddCall(L"A:", L"\\\\srv\\a", L"bob"));
}

TEST_F(InstanceTest, DuplicateDriveIsSkippedAndReconnectingAddsEveryLocationAgain) {
  AddLocationFile(L"a.loc", L"Q:", L"\\\\srv\\one");
  AddLocationFile(L"b.loc", L"Q:", L"\\\\srv\\two");
  LocationStore store(&host, dataFolder);
  store.ConnectLocations();
  // Whichever location the walk meets first connects the drive.
  const CallList once = NetworkCalls(), one = {CancelCall(L"\\\\srv\\one"), AddCall(L"Q:", L"\\\\srv\\one")};
  ASSERT_FALSE(once.empty());
  EXPECT_EQ(once, (once[0] == one[0] ? one : CallList{CancelCall(L"\\\\srv\\two"), AddCall(L"Q:", L"\\\\srv\\two")}));
  EXPECT_EQ(store.ConnectedDrives(), std::vector<std::wstring>{L"Q:"});
  store.DisconnectLocations();
  EXPECT_FALSE(store.LocationsConnected());
  EXPECT_TRUE(store.ConnectedDrives().empty());
  ResetNetworkCalls();

  store.ConnectLocations();
  EXPECT_EQ(NetworkCalls(), once);
}

// The files a test holds through the instance, and whether they could all be
// opened exclusively (were closed) each time a connection was cancelled.
std::vector<std::wstring> g_heldFiles;
bool g_filesClosedAtCancel = true;

TEST_F(InstanceTest, ReleaseClosesOpenFilesBeforeCancellingConnectionsInConnectOrder) {
  AddLocationFile(L"a.loc", L"M:", L"\\\\srv\\m");
  AddLocationFile(L"b.loc", L"N:", L"\\\\srv\\n");
  g_heldFiles = {temp / L"one.bin", temp / L"two.bin"};
  for (const std::wstring& file : g_heldFiles) WriteFileBytes(file, "data");

  IBackupDataRead* reader = MakeReader();
  uint32_t first = 0, second = 0;
  ASSERT_EQ(reader->Open(ToVirtual(g_heldFiles[0]), OpenRead, first), 0u);
  ASSERT_EQ(reader->Open(ToVirtual(g_heldFiles[1]), OpenWrite, second), 0u);
  CallList expected;
  for (const std::wstring& call : NetworkCalls()) {
    if (call.rfind(L"add local=", 0) == 0) expected.push_back(CancelCall(call.substr(10, 2)));
  }
  ASSERT_EQ(expected.size(), 2u);
  ResetNetworkCalls();
  SetCancelHook([](const wchar_t*) {
    for (const std::wstring& file : g_heldFiles) g_filesClosedAtCancel &= HoldExclusively(file).valid();
  });

  ReleaseInstance(reader);
  EXPECT_TRUE(g_filesClosedAtCancel);
  EXPECT_EQ(NetworkCalls(), expected);
}

} // namespace
} // namespace test
