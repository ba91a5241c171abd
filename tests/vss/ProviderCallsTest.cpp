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
};

// A provider that cannot initialise never gets the sink: it is destroyed and
// its library unloaded.
TEST_F(ProviderCalls, AProviderThatFailsToInitializeIsDestroyedWithoutASink) {
  ::SetEnvironmentVariableW(L"DISKWAY_PROVIDER_INITIALIZE", L"1");
  ExpectHeldOpenFails(*MakeReader(), L"held.txt", L"Cannot load vssapi.dll. Shadow copying will be unavailable");
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
  ExpectHeldOpenFails(*MakeReader(), L"held.txt",
                      L"Cannot open file from VSS snapshot '" + temp.Real(L"held.txt") +
                          L"': the snapshot has no entry for volume '\\\\?\\C:\\'");
  ::SetCurrentDirectoryW(before);
  EXPECT_EQ(Recorded(), L"Initialize SetMessageCallback StartSnapshotSet AddVolume(\\\\?\\C:\\) CreateSnapshots "
                        L"ReleaseSnapshots(0)");
}

} // namespace
} // namespace test
