// The plug-in as a host meets it: loaded by name, three exports, objects that
// release themselves; network locations from the data folder, the host's
// exceptions and teardown order; texts that reach the host's log sink and
// standard output. Write instances serve the read calls in every other
// suite, as hosts use them.
#include <algorithm>
#include <stdexcept>

#include "instance/PluginImplementation.h"
#include "logging/PluginBase.h"
#include "tests/support/PluginFixture.h"

namespace test {
namespace {

using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

TEST(Exports, ResolveByPlainNamesAndGiveANewInfoObjectPerCallWithTheSameStrings) {
  const auto getInfo = PluginExport<GetPluginInfoFn>("GetPluginInfo");
  ASSERT_TRUE(getInfo && PluginExport<GetBackupDataReadFn>("GetBackupDataRead") &&
              PluginExport<GetBackupDataWriteFn>("GetBackupDataWrite"));
  const auto release = [](IPluginInfo* info) { info->Release(); };
  const std::unique_ptr<IPluginInfo, decltype(release)> info(getInfo(), release), other(getInfo(), release);
  ASSERT_TRUE(info && other);
  EXPECT_NE(info.get(), other.get());
  EXPECT_EQ(info->GetName(), other->GetName()) << "the same string pointers";
  EXPECT_EQ(info->GetVersion(), other->GetVersion());
}

class InstanceTest : public PluginTest {};

TEST_F(InstanceTest, LocationFilesAnywhereBelowTheDataFolderAreConnected) {
  MakeFolder(dataFolder + L"\\folder.loc");
  AddLocationFile(L"office.loc", L"Y:", L"\\\\srv\\office", L"alice", L"secret");
  AddLocationFile(L"nested\\deeper\\archive.loc", L"X:", L"\\\\srv\\archive", L"", L"");

  PluginImplementation instance(&log, &host, InstanceRead);
  EXPECT_TRUE(instance.Locations().LocationsConnected());
  // Walk order is the file system's; each add right after a cancel of its
  // share, with empty strings (never null pointers) for empty answers.
  CallList calls = NetworkCalls();
  if (calls.size() == 4 && calls[0] != CancelCall(L"\\\\srv\\office")) {
    std::rotate(calls.begin(), calls.begin() + 2, calls.end());
  }
  EXPECT_EQ(calls, (CallList{CancelCall(L"\\\\srv\\office"), AddCall(L"Y:", L"\\\\srv\\office", L"alice", L"secret"),
                             CancelCall(L"\\\\srv\\archive"), AddCall(L"X:", L"\\\\srv\\archive", L"", L"")}));
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
  PluginImplementation instance(&log, &host, InstanceRead);
  EXPECT_EQ(instance.Locations().CountLocationFiles(), 2u);
  std::vector<std::wstring> drives = instance.Locations().ConnectedDrives();
  std::sort(drives.begin(), drives.end());
  EXPECT_EQ(drives, (std::vector<std::wstring>{L"O:", L"P:"}));
}

// While an instance is built, the host's exception is the host's to handle;
// inside an operation it becomes a status, since the host expects one.
TEST_F(InstanceTest, AHostExceptionLeavesTheExportButAnOperationTurnsItIntoAFailureStatusWithOneMessage) {
  AddLocationFile(L"a.loc", L"A:", L"\\\\srv\\a");
  const auto hostGoesAway = [](const std::wstring& name) {
    if (name == L"NetworkUser") throw std::runtime_error("host went away");
  };
  host.onCall = hostGoesAway;
  EXPECT_THROW(PluginExport<GetBackupDataReadFn>("GetBackupDataRead")(&log, &host), std::runtime_error);
  host.onCall = nullptr;
  IBackupDataRead* reader = MakeReader();
  // Listing a missing folder reconnects the locations, which asks the host.
  host.onCall = hostGoesAway;
  FolderList list;
  EXPECT_EQ(reader->ListFolder(temp.Virtual(L"missing"), list), 1u);
  ExpectLogged({{Error, L"ListFolder failed: host went away"}});
  host.onCall = nullptr;
  EXPECT_EQ(reader->ListFolder(ToVirtual(temp.path()), list), 0u) << "the instance goes on serving";
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

// Long enough to show that nothing is cut; ends in a character UTF-8 spends two bytes on.
const std::wstring kLongName = std::wstring(5000, L'a') + L"\u00e9";
const std::string kLongNameUtf8 = std::string(5000, 'a') + "\xc3\xa9";

TEST(Logging, TextsReachTheSinkWholeAndOnlyThoseWithoutACodeAreEchoedInUtf8WithALineEnd) {
  RecordingLog log;
  PluginBase base(&log);
  CaptureStdout();
  base.LogMessage(Warning, L"File '%s' number %u", kLongName.c_str(), 42u);
  base.LogMessage(Info, L"");
  base.LogSystemError(Error, ERROR_ACCESS_DENIED, L"Can't create directory '%s'", kLongName.c_str());
  EXPECT_EQ(GetCapturedStdout(), "File '" + kLongNameUtf8 + "' number 42\n\n");
  const std::wstring denied = WithErrorCode(L"Can't create directory '" + kLongName + L"'", ERROR_ACCESS_DENIED);
  EXPECT_NE(denied.find(L"': "), std::wstring::npos) << "the code has a description";
  EXPECT_EQ(log.messages, (Messages{{Warning, L"File '" + kLongName + L"' number 42"}, {Info, L""}, {Error, denied}}));
}

TEST_F(InstanceTest, WithANullSinkNothingIsPrintedAndOperationsStillAnswer) {
  IBackupDataRead* reader = PluginExport<GetBackupDataReadFn>("GetBackupDataRead")(nullptr, &host);
  ASSERT_NE(reader, nullptr);
  char buffer[4];
  uint32_t size = sizeof(buffer), openId = 7;
  CaptureStdout();
  EXPECT_EQ(reader->Read(buffer, size, 2u), 1u);
  EXPECT_EQ(reader->Open(temp.Virtual(L"missing"), OpenRead, openId), 1u);
  EXPECT_EQ(reader->Open(temp.Virtual(L"bad?name"), OpenRead, openId), 1u);
  EXPECT_EQ(GetCapturedStdout(), "");
  reader->Release();
}

} // namespace
} // namespace test
