// Reading files that another process holds locked, through the scriptable
// provider that sits beside this program as vsnp_2003.dll.
#include <algorithm>

#include "tests/doubles/provider/TestProviderControl.h"
#include "tests/support/PluginFixture.h"

namespace test {
namespace {

using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;

std::wstring VolumeOf(const std::wstring& path) {
  wchar_t volume[MAX_PATH] = {};
  ::GetVolumePathNameW(path.c_str(), volume, MAX_PATH);
  return volume;
}

class SnapshotRead : public PluginTest {
protected:
  SnapshotRead() : providerModule_(::LoadLibraryW(L"vsnp_2003.dll")), provider(providerModule_.get()) {}

  void SetUp() override {
    ASSERT_TRUE(providerModule_ && provider.Resolved()) << "vsnp_2003.dll here must be the scriptable provider";
    provider.Reset();
    MakeFolder(snapshotRoot);
    provider.SetSnapshotRoot(snapshotRoot.c_str());
  }

  // A file the test holds open with share mode 0, and its copy in the
  // snapshot unless `snapshotCopy` is null.
  VMLib::UniqueFile HoldFile(const std::wstring& path, const char* snapshotCopy) {
    WriteFileBytes(path, "live");
    if (snapshotCopy != nullptr) {
      const std::wstring copy = snapshotRoot + L"\\" + path.substr(3);
      MakeFolder(copy.substr(0, copy.rfind(L'\\')));
      WriteFileBytes(copy, snapshotCopy);
    }
    return HoldExclusively(path);
  }

  uint32_t Open(const std::wstring& relative, uint32_t& id) {
    return reader->Open(temp.Virtual(relative), OpenRead, id);
  }

  size_t Count(const std::wstring& call) const {
    const CallList calls = provider.Calls();
    return static_cast<size_t>(std::count(calls.begin(), calls.end(), call));
  }

  // The two messages of a locked file whose fallback failed for `reason`.
  void ExpectFallbackFailed(const std::wstring& relative, const std::wstring& reason) {
    ExpectLogged({{Info, LockedFileNotice(temp.Real(relative))}, {Warning, ShadowCopyFailure(reason)}});
  }

  VMLib::UniqueModule providerModule_; // keeps the double's record alive across plug-in unloads
  TestProviderControl provider;
  const std::wstring snapshotRoot = temp / L"snapshot";
  IBackupDataRead* reader = MakeReader();
};

TEST_F(SnapshotRead, LockedFilesShareOneSnapshotReleasedAtTeardownAndUnlockedOnesNeverLoadTheProvider) {
  WriteFileBytes(temp / L"free.txt", "free");
  uint32_t id = 0, second = 0;
  ASSERT_EQ(Open(L"free.txt", id), 0u);
  EXPECT_EQ(ReadAll(*reader, id), "free");
  EXPECT_TRUE(provider.Calls().empty());
  reader->Close(id);

  VMLib::UniqueFile held = HoldFile(temp / L"held.txt", "snapshot copy"), two = HoldFile(temp / L"two.txt", "copy");
  const std::wstring volume = VolumeOf(temp.Real(L"held.txt"));
  provider.AddMessage(L"CreateSnapshots", L"Creating shadow copy \u00e9");
  CaptureStderr();
  ASSERT_EQ(Open(L"held.txt", id), 0u);
  ASSERT_EQ(Open(L"two.txt", second), 0u);
  // The provider's messages and the notice of a reused snapshot go to
  // standard error, not the log.
  EXPECT_EQ(GetCapturedStderr(), "Creating shadow copy \xc3\xa9\nSnapshot for " +
                                     std::string(volume.begin(), volume.end()) + " already created. Reuse it.\n");
  EXPECT_EQ(id, 1u);
  EXPECT_EQ(ReadAll(*reader, id), "snapshot copy");
  EXPECT_EQ(ReadAll(*reader, second), "copy");
  ExpectLogged({{Info, LockedFileNotice(temp.Real(L"held.txt"))}, {Info, LockedFileNotice(temp.Real(L"two.txt"))}});

  ReleaseInstance(reader);
  EXPECT_EQ(provider.Calls(), (CallList{L"GetInterface", L"Initialize", L"SetMessageCallback", L"StartSnapshotSet",
                                        L"AddVolume " + volume, L"CreateSnapshots " + volume,
                                        L"ReleaseSnapshots true", L"Destroy 1"}));
  EXPECT_EQ(provider.LiveProviders(), 0);
}

TEST_F(SnapshotRead, FailedOpenInTheSnapshotReleasesItWithFalse) {
  VMLib::UniqueFile held = HoldFile(temp / L"gone.txt", nullptr);
  const std::wstring snapshotPath = snapshotRoot + L"\\" + (temp / L"gone.txt").substr(3);
  const uint32_t code = FailureCode(VMLib::UniqueFile(::CreateFileW(snapshotPath.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                                                    nullptr, OPEN_EXISTING, 0, nullptr)).valid());
  uint32_t id = 8;
  EXPECT_EQ(Open(L"gone.txt", id), 1u);
  EXPECT_EQ(id, 0u);
  ExpectFallbackFailed(L"gone.txt",
                       WithErrorCode(L"Cannot open file from VSS snapshot '" + temp.Real(L"gone.txt") + L"'", code));
  EXPECT_EQ(provider.Calls().back(), L"ReleaseSnapshots false");

  // The next locked file gets a snapshot of its own.
  VMLib::UniqueFile other = HoldFile(temp / L"other.txt", "fresh");
  ASSERT_EQ(Open(L"other.txt", id), 0u);
  EXPECT_EQ(Count(L"StartSnapshotSet"), 2u);
}

TEST_F(SnapshotRead, ProviderExceptionIsReportedAndForgetsTheSnapshot) {
  VMLib::UniqueFile held = HoldFile(temp / L"held.txt", "copy");
  provider.SetThrow(L"CreateSnapshots", static_cast<int32_t>(0x80042316), L"another snapshot set is in progress");
  uint32_t id = 0;
  EXPECT_EQ(Open(L"held.txt", id), 1u);
  ExpectFallbackFailed(L"held.txt", L"VSS: another snapshot set is in progress");

  provider.SetThrow(L"CreateSnapshots", 0, nullptr);
  ASSERT_EQ(Open(L"held.txt", id), 0u);
  EXPECT_EQ(ReadAll(*reader, id), "copy");
  EXPECT_EQ(Count(L"ReleaseSnapshots true"), 0u) << "nothing was left to release";
  EXPECT_EQ(Count(L"StartSnapshotSet"), 2u);
}

TEST_F(SnapshotRead, RefusedVolumeKeepsThePreviousErrorText) {
  VMLib::UniqueFile held = HoldFile(temp / L"held.txt", nullptr);
  provider.SetAddVolumeResult(false);
  uint32_t id = 0;
  EXPECT_EQ(Open(L"held.txt", id), 1u);
  ExpectFallbackFailed(L"held.txt", L"");
  EXPECT_EQ(Count(L"CreateSnapshots " + VolumeOf(temp.Real(L""))), 0u);
}

TEST_F(SnapshotRead, ProviderThatCannotInitializeIsUnloadedAndTriedAgainLater) {
  VMLib::UniqueFile held = HoldFile(temp / L"held.txt", nullptr);
  provider.SetInitializeResult(1);
  for (int attempt = 0; attempt < 2; ++attempt) {
    uint32_t id = 0;
    EXPECT_EQ(Open(L"held.txt", id), 1u);
    ExpectFallbackFailed(L"held.txt", L"Cannot load vssapi.dll. Shadow copying will be unavailable");
  }
  EXPECT_EQ(provider.Calls(), (CallList{L"GetInterface", L"Initialize", L"Destroy 1", L"GetInterface", L"Initialize",
                                        L"Destroy 1"}));
  EXPECT_EQ(provider.LiveProviders(), 0);
}

TEST_F(SnapshotRead, LockedFileOnAnotherVolumeReplacesTheSnapshot) {
  // Z: is Wine's view of the Unix root: another volume than C:.
  if (!IsFolder(L"Z:\\tmp")) GTEST_SKIP() << "no second volume (Z:\\tmp)";
  const std::wstring otherFolder = L"Z:\\tmp\\dw-snap-" + std::to_wstring(::GetCurrentProcessId());
  MakeFolder(otherFolder);
  VMLib::UniqueFile onC = HoldFile(temp / L"c.txt", "copy");
  VMLib::UniqueFile onZ = HoldFile(otherFolder + L"\\z.txt", "copy");

  uint32_t id = 0;
  ASSERT_EQ(Open(L"c.txt", id), 0u);
  reader->Close(id);
  ASSERT_EQ(reader->Open(ToVirtual(otherFolder + L"\\z.txt"), OpenRead, id), 0u);
  EXPECT_EQ(ReadAll(*reader, id), "copy");
  reader->Close(id);
  const CallList calls = provider.Calls();
  const size_t release = std::find(calls.begin(), calls.end(), L"ReleaseSnapshots true") - calls.begin();
  ASSERT_LE(release + 3, calls.size());
  EXPECT_EQ(CallList(calls.begin() + release + 1, calls.begin() + release + 3),
            (CallList{L"StartSnapshotSet", L"AddVolume " + VolumeOf(L"\\\\?\\" + otherFolder + L"\\z.txt")}));

  // Only Z: is kept: C: needs a new set again.
  ASSERT_EQ(Open(L"c.txt", id), 0u);
  EXPECT_EQ(Count(L"StartSnapshotSet"), 3u);
  onZ.reset();
  RemoveAll(otherFolder);
}

} // namespace
} // namespace test
