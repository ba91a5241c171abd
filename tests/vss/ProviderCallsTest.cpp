// What the plug-in asks of a provider, in order, as the recording provider
// beside this program (tests/doubles/provider) writes it down.
#include "tests/support/PluginFixture.h"

namespace test {
namespace {

class ProviderCalls : public PluginTest {
protected:
  ~ProviderCalls() override {
    ::SetEnvironmentVariableW(L"DISKWAY_PROVIDER_CALLS", nullptr);
    ::SetEnvironmentVariableW(L"DISKWAY_PROVIDER_INITIALIZE", nullptr);
  }

  static std::wstring Recorded() {
    wchar_t calls[1024] = {};
    ::GetEnvironmentVariableW(L"DISKWAY_PROVIDER_CALLS", calls, 1024);
    return calls;
  }

  // Opens held.txt while this test holds it, so that the plug-in falls back
  // to a snapshot; the open must fail.
  void OpenHeldFails() {
    WriteFileBytes(temp / L"held.txt", "live");
    const VMLib::UniqueFile held = HoldExclusively(temp / L"held.txt");
    uint32_t id = 5;
    EXPECT_EQ(MakeReader()->Open(temp.Virtual(L"held.txt"), OpenRead, id), 1u);
    EXPECT_EQ(id, 0u);
  }
};

// A provider that cannot initialise never gets the sink: it is destroyed and
// its library unloaded.
TEST_F(ProviderCalls, AProviderThatFailsToInitializeIsDestroyedWithoutASink) {
  ::SetEnvironmentVariableW(L"DISKWAY_PROVIDER_INITIALIZE", L"1");
  OpenHeldFails();
  ExpectLogged({{Info, LockedFileNotice(temp.Real(L"held.txt"))},
                {Warning, ShadowCopyFailure(L"Cannot load vssapi.dll. Shadow copying will be unavailable")}});
  EXPECT_EQ(Recorded(), L"Initialize Destroy(1)");
  EXPECT_EQ(::GetModuleHandleW(L"vsnp_2003.dll"), nullptr);
}

// The provider gives no snapshot root for the volume. The path below the
// mount point alone would be relative, and the current folder holds a file
// under it: nothing is opened, and the useless set is released.
TEST_F(ProviderCalls, ASnapshotWithoutAnEntryForTheVolumeOpensNothing) {
  const std::wstring current = temp / L"current";
  const std::wstring decoy = current + L"\\" + (temp / L"held.txt").substr(3);
  MakeFolder(decoy.substr(0, decoy.rfind(L'\\')));
  WriteFileBytes(decoy, "another file");
  wchar_t before[MAX_PATH] = {};
  ASSERT_NE(::GetCurrentDirectoryW(MAX_PATH, before), 0u);
  ASSERT_TRUE(::SetCurrentDirectoryW(current.c_str()));
  OpenHeldFails();
  ::SetCurrentDirectoryW(before);
  ExpectLogged({{Info, LockedFileNotice(temp.Real(L"held.txt"))},
                {Warning, ShadowCopyFailure(L"Cannot open file from VSS snapshot '" + temp.Real(L"held.txt") +
                                            L"': the snapshot has no entry for volume '\\\\?\\C:\\'")}});
  EXPECT_EQ(Recorded(), L"Initialize SetMessageCallback StartSnapshotSet AddVolume(\\\\?\\C:\\) CreateSnapshots "
                        L"ReleaseSnapshots(0)");
}

} // namespace
} // namespace test
