// Locked files through the scriptable provider that sits beside this program
// as vsnp_2003.dll: what the plug-in does with a provider that throws while it
// releases snapshots, as the interface allows (the real provider never does;
// tests/vss reads locked files through it).
#include <algorithm>

#include "tests/doubles/provider/TestProviderControl.h"
#include "tests/support/PluginFixture.h"

namespace test {
namespace {

using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;

class SnapshotRead : public PluginTest {
protected:
  SnapshotRead() : providerModule_(::LoadLibraryW(L"vsnp_2003.dll")), provider(providerModule_.get()) {}

  void SetUp() override {
    ASSERT_TRUE(providerModule_ && provider.Resolved()) << "vsnp_2003.dll here must be the scriptable provider";
    provider.Reset();
    MakeFolder(snapshotRoot);
    provider.SetSnapshotRoot(snapshotRoot.c_str());
  }

  VMLib::UniqueModule providerModule_; // keeps the double's record alive across plug-in unloads
  TestProviderControl provider;
  const std::wstring snapshotRoot = temp / L"snapshot";
  IBackupDataRead* reader = MakeReader();
};

// A failed open in the snapshot releases it with false: the open still fails
// with its own reason, the next locked file gets a new snapshot rather than
// the one the provider dropped, and teardown leaves the host running.
TEST_F(SnapshotRead, ProviderThrowingWhileReleasingNeitherReachesTheHostNorLeavesAStaleSnapshot) {
  provider.SetThrow(L"ReleaseSnapshots", static_cast<int32_t>(0x80042302), L"release failed");
  WriteFileBytes(temp / L"gone.txt", "live");
  VMLib::UniqueFile held = HoldExclusively(temp / L"gone.txt");
  const std::wstring snapshotPath = snapshotRoot + L"\\" + (temp / L"gone.txt").substr(3);
  const uint32_t code = FailureCode(VMLib::UniqueFile(::CreateFileW(snapshotPath.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                                                    nullptr, OPEN_EXISTING, 0, nullptr)).valid());
  uint32_t id = 8;
  CaptureStderr();
  EXPECT_EQ(reader->Open(temp.Virtual(L"gone.txt"), OpenRead, id), 1u);
  EXPECT_EQ(id, 0u);
  ExpectLogged({{Info, LockedFileNotice(temp.Real(L"gone.txt"))},
                {Warning, ShadowCopyFailure(WithErrorCode(
                              L"Cannot open file from VSS snapshot '" + temp.Real(L"gone.txt") + L"'", code))}});
  EXPECT_EQ(provider.Calls().back(), L"ReleaseSnapshots false");

  MakeFolder(snapshotPath.substr(0, snapshotPath.rfind(L'\\')));
  WriteFileBytes(snapshotPath, "copy");
  ASSERT_EQ(reader->Open(temp.Virtual(L"gone.txt"), OpenRead, id), 0u);
  EXPECT_EQ(ReadAll(*reader, id), "copy");
  const CallList calls = provider.Calls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), L"StartSnapshotSet"), 2) << "a dropped snapshot was reused";
  reader->Close(id);
  ReleaseInstance(reader);
  EXPECT_EQ(GetCapturedStderr(), "VSS: release failed\nVSS: release failed\n");
  EXPECT_EQ(provider.Calls().back(), L"Destroy 1");
  EXPECT_EQ(provider.LiveProviders(), 0);
}

} // namespace
} // namespace test
