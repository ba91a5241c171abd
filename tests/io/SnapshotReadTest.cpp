// Reading files that another process holds locked, through the scriptable
// provider that sits beside this program as vsnp_2003.dll.
#include <algorithm>

#include "tests/doubles/provider/TestProviderControl.h"
#include "tests/support/PluginFixture.h"
#include "vmlib/ScopedHandle.h"

namespace test {
namespace {

using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;

const wchar_t kFaqSuffix[] = L"/faq/vss-initialization-failed.shtml?plugin=Diskway";

std::wstring VolumeOf(const std::wstring& path) {
  wchar_t volume[MAX_PATH] = {};
  ::GetVolumePathNameW(path.c_str(), volume, MAX_PATH);
  return volume;
}

size_t CountOf(const std::vector<std::wstring>& calls, const std::wstring& call) {
  return static_cast<size_t>(std::count(calls.begin(), calls.end(), call));
}

class SnapshotRead : public PluginTest {
protected:
  SnapshotRead()
      : providerModule_(::LoadLibraryW(L"vsnp_2003.dll")), provider(providerModule_.get()) {}

  void SetUp() override {
    ASSERT_TRUE(providerModule_.valid());
    ASSERT_TRUE(provider.Resolved()) << "vsnp_2003.dll beside the tests must be the scriptable provider";
    provider.Reset();
    snapshotRoot = temp / L"snapshot";
    MakeFolder(snapshotRoot);
    provider.SetSnapshotRoot(snapshotRoot.c_str());
    reader = MakeReader();
    ASSERT_NE(reader, nullptr);
  }

  // A file the test holds open with share mode 0, and its copy in the snapshot.
  VMLib::UniqueFile HoldFile(const std::wstring& path, const std::string& live, const std::string* snapshotCopy) {
    WriteFileBytes(path, live);
    if (snapshotCopy != nullptr) {
      const std::wstring copy = snapshotRoot + L"\\" + path.substr(3);
      MakeFolder(copy.substr(0, copy.rfind(L'\\')));
      WriteFileBytes(copy, *snapshotCopy);
    }
    return VMLib::UniqueFile(::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  }

  std::string ReadAll(uint32_t id) {
    std::string data;
    char buffer[64];
    for (;;) {
      uint32_t size = sizeof(buffer);
      if (reader->Read(buffer, size, id) != 0) return data;
      data.append(buffer, size);
    }
  }

  static std::wstring LockedText(const std::wstring& realPath) {
    return L"File '" + realPath + L"' is locked. Trying to open file with VSS support.";
  }

  static std::wstring FallbackFailure(const std::wstring& reason) {
    return L"Cannot open file with VSS support because of the following error: " + reason +
           L" For more information, please refer to FAQ: \n";
  }

  VMLib::UniqueModule providerModule_; // keeps the double's record alive across plug-in unloads
  TestProviderControl provider;
  std::wstring snapshotRoot;
  IBackupDataRead* reader = nullptr;
};

TEST_F(SnapshotRead, UnlockedFilesNeverLoadTheProvider) {
  WriteFileBytes(temp / L"free.txt", "free");
  uint32_t id = 0;
  ASSERT_EQ(reader->Open(temp.Virtual(L"free.txt"), OpenRead, id), 0u);
  EXPECT_EQ(ReadAll(id), "free");
  EXPECT_TRUE(provider.Calls().empty());
}

TEST_F(SnapshotRead, LockedFileIsReadFromTheSnapshotAndReleasedAtTeardown) {
  const std::string copy = "snapshot copy";
  VMLib::UniqueFile held = HoldFile(temp / L"held.txt", "live data", &copy);
  ASSERT_TRUE(held.valid());
  const std::wstring realPath = L"\\\\?\\" + (temp / L"held.txt");
  const std::wstring volume = VolumeOf(realPath);

  uint32_t id = 0;
  ASSERT_EQ(reader->Open(temp.Virtual(L"held.txt"), OpenRead, id), 0u);
  EXPECT_EQ(id, 1u);
  EXPECT_EQ(ReadAll(id), copy);
  ASSERT_EQ(log.messages.size(), 1u);
  EXPECT_EQ(log.messages[0].level, static_cast<uint32_t>(Info));
  EXPECT_EQ(log.messages[0].text, LockedText(realPath));
  EXPECT_EQ(provider.Calls(), (std::vector<std::wstring>{L"GetInterface", L"Initialize", L"SetMessageCallback",
                                                         L"StartSnapshotSet", L"AddVolume " + volume,
                                                         L"CreateSnapshots " + volume}));
  reader->Close(id);

  ReleaseInstance(reader);
  const std::vector<std::wstring> calls = provider.Calls();
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(calls[calls.size() - 2], L"ReleaseSnapshots true");
  EXPECT_EQ(calls.back(), L"Destroy 1");
  EXPECT_EQ(provider.LiveProviders(), 0);
}

TEST_F(SnapshotRead, SecondLockedFileOnTheVolumeReusesTheSnapshot) {
  const std::string copy = "copy";
  VMLib::UniqueFile first = HoldFile(temp / L"one.txt", "1", &copy);
  VMLib::UniqueFile second = HoldFile(temp / L"two.txt", "2", &copy);
  uint32_t firstId = 0, secondId = 0;
  ASSERT_EQ(reader->Open(temp.Virtual(L"one.txt"), OpenRead, firstId), 0u);
  CaptureStderr();
  ASSERT_EQ(reader->Open(temp.Virtual(L"two.txt"), OpenRead, secondId), 0u);
  const std::string notices = GetCapturedStderr();
  const std::wstring volume = VolumeOf(L"\\\\?\\" + (temp / L"two.txt"));
  EXPECT_EQ(notices, "Snapshot for " + std::string(volume.begin(), volume.end()) + " already created. Reuse it.\n");
  EXPECT_EQ(CountOf(provider.Calls(), L"StartSnapshotSet"), 1u);
  EXPECT_EQ(ReadAll(secondId), copy);
}

TEST_F(SnapshotRead, FailedOpenInTheSnapshotReleasesItWithFalse) {
  VMLib::UniqueFile held = HoldFile(temp / L"gone.txt", "live", nullptr);
  const std::wstring realPath = L"\\\\?\\" + (temp / L"gone.txt");
  const std::wstring snapshotPath = snapshotRoot + L"\\" + (temp / L"gone.txt").substr(3);
  VMLib::UniqueFile probe(::CreateFileW(snapshotPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  const DWORD code = ::GetLastError();

  uint32_t id = 8;
  EXPECT_EQ(reader->Open(temp.Virtual(L"gone.txt"), OpenRead, id), 1u);
  EXPECT_EQ(id, 0u);
  ASSERT_EQ(log.messages.size(), 2u) << "no plain open failure after the fallback";
  EXPECT_EQ(log.messages[1].level, static_cast<uint32_t>(Warning));
  const std::wstring reason = WithErrorCode(L"Cannot open file from VSS snapshot '" + realPath + L"'", code);
  const std::wstring& warning = log.messages[1].text;
  EXPECT_EQ(warning.rfind(FallbackFailure(reason) + L"https://", 0), 0u) << warning;
  EXPECT_EQ(warning.substr(warning.size() - wcslen(kFaqSuffix)), kFaqSuffix);
  EXPECT_EQ(provider.Calls().back(), L"ReleaseSnapshots false");

  // The next locked file gets a snapshot of its own.
  const std::string copy = "fresh";
  VMLib::UniqueFile other = HoldFile(temp / L"other.txt", "live", &copy);
  ASSERT_EQ(reader->Open(temp.Virtual(L"other.txt"), OpenRead, id), 0u);
  EXPECT_EQ(CountOf(provider.Calls(), L"StartSnapshotSet"), 2u);
}

TEST_F(SnapshotRead, ProviderExceptionIsReportedAndForgetsTheSnapshot) {
  const std::string copy = "copy";
  VMLib::UniqueFile held = HoldFile(temp / L"held.txt", "live", &copy);
  provider.SetThrow(L"CreateSnapshots", static_cast<int32_t>(0x80042316), L"another snapshot set is in progress");
  uint32_t id = 0;
  EXPECT_EQ(reader->Open(temp.Virtual(L"held.txt"), OpenRead, id), 1u);
  ASSERT_EQ(log.messages.size(), 2u);
  EXPECT_EQ(log.messages[1].text.rfind(FallbackFailure(L"VSS: another snapshot set is in progress"), 0), 0u)
      << log.messages[1].text;

  provider.SetThrow(L"CreateSnapshots", 0, nullptr);
  ASSERT_EQ(reader->Open(temp.Virtual(L"held.txt"), OpenRead, id), 0u);
  EXPECT_EQ(ReadAll(id), copy);
  EXPECT_EQ(CountOf(provider.Calls(), L"ReleaseSnapshots true"), 0u) << "nothing was left to release";
  EXPECT_EQ(CountOf(provider.Calls(), L"StartSnapshotSet"), 2u);
}

TEST_F(SnapshotRead, RefusedVolumeKeepsThePreviousErrorText) {
  VMLib::UniqueFile held = HoldFile(temp / L"held.txt", "live", nullptr);
  provider.SetAddVolumeResult(false);
  uint32_t id = 0;
  EXPECT_EQ(reader->Open(temp.Virtual(L"held.txt"), OpenRead, id), 1u);
  ASSERT_EQ(log.messages.size(), 2u);
  EXPECT_EQ(log.messages[1].text.rfind(FallbackFailure(L""), 0), 0u) << log.messages[1].text;
  EXPECT_EQ(CountOf(provider.Calls(), L"CreateSnapshots " + VolumeOf(L"\\\\?\\" + temp.path() + L"\\")), 0u);
}

TEST_F(SnapshotRead, ProviderThatCannotInitializeIsUnloadedAndTriedAgainLater) {
  VMLib::UniqueFile held = HoldFile(temp / L"held.txt", "live", nullptr);
  provider.SetInitializeResult(1);
  uint32_t id = 0;
  EXPECT_EQ(reader->Open(temp.Virtual(L"held.txt"), OpenRead, id), 1u);
  EXPECT_EQ(reader->Open(temp.Virtual(L"held.txt"), OpenRead, id), 1u);
  ASSERT_EQ(log.messages.size(), 4u);
  EXPECT_EQ(log.messages[1].text.rfind(FallbackFailure(L"Cannot load vssapi.dll. Shadow copying will be unavailable"), 0),
            0u)
      << log.messages[1].text;
  EXPECT_EQ(provider.Calls(), (std::vector<std::wstring>{L"GetInterface", L"Initialize", L"Destroy 1", L"GetInterface",
                                                         L"Initialize", L"Destroy 1"}));
  EXPECT_EQ(provider.LiveProviders(), 0);
}

TEST_F(SnapshotRead, LockedFileOnAnotherVolumeReplacesTheSnapshot) {
  // Z: is Wine's view of the Unix root: another volume than C:.
  wchar_t unixTemp[MAX_PATH] = L"Z:\\tmp";
  if (::GetFileAttributesW(unixTemp) == INVALID_FILE_ATTRIBUTES) GTEST_SKIP() << "no second volume (Z:\\tmp)";
  const std::wstring otherFolder = std::wstring(unixTemp) + L"\\dw-snap-" + std::to_wstring(::GetCurrentProcessId());
  MakeFolder(otherFolder);
  const std::string copy = "copy";
  VMLib::UniqueFile onC = HoldFile(temp / L"c.txt", "live", &copy);
  VMLib::UniqueFile onZ = HoldFile(otherFolder + L"\\z.txt", "live", &copy);

  uint32_t id = 0;
  ASSERT_EQ(reader->Open(temp.Virtual(L"c.txt"), OpenRead, id), 0u);
  reader->Close(id);
  ASSERT_EQ(reader->Open(ToVirtual(otherFolder + L"\\z.txt"), OpenRead, id), 0u);
  EXPECT_EQ(ReadAll(id), copy);
  reader->Close(id);
  const std::wstring zVolume = VolumeOf(L"\\\\?\\" + otherFolder + L"\\z.txt");
  std::vector<std::wstring> calls = provider.Calls();
  const auto release = std::find(calls.begin(), calls.end(), L"ReleaseSnapshots true");
  ASSERT_NE(release, calls.end());
  EXPECT_EQ(*(release + 1), L"StartSnapshotSet");
  EXPECT_EQ(*(release + 2), L"AddVolume " + zVolume);

  // Only Z: is kept: C: needs a new set again.
  ASSERT_EQ(reader->Open(temp.Virtual(L"c.txt"), OpenRead, id), 0u);
  EXPECT_EQ(CountOf(provider.Calls(), L"StartSnapshotSet"), 3u);
  onZ.reset();
  RemoveAll(otherFolder);
}

TEST_F(SnapshotRead, ProviderMessagesGoToStandardErrorNotTheLog) {
  const std::string copy = "copy";
  VMLib::UniqueFile held = HoldFile(temp / L"held.txt", "live", &copy);
  provider.AddMessage(L"CreateSnapshots", L"Creating shadow copy \u00e9");
  uint32_t id = 0;
  CaptureStderr();
  ASSERT_EQ(reader->Open(temp.Virtual(L"held.txt"), OpenRead, id), 0u);
  EXPECT_EQ(GetCapturedStderr(), "Creating shadow copy \xc3\xa9\n");
  EXPECT_EQ(log.messages.size(), 1u);
}

} // namespace
} // namespace test
