// Locked files through the real provider (vsnp_2003.dll beside this program)
// over the shadow-copy service stand-in, installed as the prefix's vssapi.dll.
#include <vsserror.h>

#include "tests/doubles/vssapi/VssApiControl.h"
#include "tests/support/PluginFixture.h"

#include <tlhelp32.h>

namespace test {
namespace {

using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;

// Threads of this process. A provider serves from a thread of its own, which
// only destroying it ends: one never destroyed outlives the library's unload.
size_t ThreadCount() {
  // INVALID_HANDLE_VALUE on failure, as for files.
  const VMLib::UniqueFile threads(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  size_t count = 0;
  for (BOOL more = ::Thread32First(threads.get(), &entry); more; more = ::Thread32Next(threads.get(), &entry)) {
    count += entry.th32OwnerProcessID == ::GetCurrentProcessId() ? 1 : 0;
  }
  return count;
}

class SnapshotRead : public PluginTest {
protected:
  void SetUp() override {
    ASSERT_TRUE(module_ && service.Resolved()) << "the service stand-in must be loaded (WINEDLLOVERRIDES=vssapi=n)";
    service.Reset();
    service.SetImage(L"C:\\", image.c_str());
  }

  const VMLib::UniqueModule module_ = LoadServiceDouble();
  const VssServiceDouble service{module_.get()};
  const std::wstring image = temp / L"image-c";
  IBackupDataRead* reader = MakeReader();
};

// A snapshot that cannot serve a file is dropped, even when the service fails
// while it is dropped: the open fails with its own reason, the service's
// failure reaches no host, and the next locked file gets a fresh snapshot
// rather than the one that failed.
TEST_F(SnapshotRead, ASnapshotWithoutTheFileIsDroppedAndTheNextLockedFileGetsAFreshOne) {
  service.Fail(L"AbortBackup", 1, VSS_E_UNEXPECTED);
  WriteFileBytes(temp / L"gone.txt", "live");
  VMLib::UniqueFile held = HoldExclusively(temp / L"gone.txt");
  const std::wstring inImage = image + L"\\" + (temp / L"gone.txt").substr(3);
  const uint32_t code = FailureCode(VMLib::UniqueFile(::CreateFileW(inImage.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                                                    nullptr, OPEN_EXISTING, 0, nullptr)).valid());
  const size_t threadsBefore = ThreadCount();
  ASSERT_GT(threadsBefore, 0u) << "this system lists no threads of ours";
  uint32_t id = 8;
  CaptureStderr();
  EXPECT_EQ(reader->Open(temp.Virtual(L"gone.txt"), OpenRead, id), 1u);
  EXPECT_EQ(id, 0u);
  ExpectLogged({{Info, LockedFileNotice(temp.Real(L"gone.txt"))},
                {Warning, ShadowCopyFailure(WithErrorCode(
                              L"Cannot open file from VSS snapshot '" + temp.Real(L"gone.txt") + L"'", code))}});
  EXPECT_NE(GetCapturedStderr().find("\nAbortBackup failed (0x80042302)\n"), std::string::npos);
  EXPECT_EQ(service.LiveSnapshots(), 0);

  MakeFolder(inImage.substr(0, inImage.rfind(L'\\')));
  WriteFileBytes(inImage, "copy");
  ASSERT_EQ(reader->Open(temp.Virtual(L"gone.txt"), OpenRead, id), 0u);
  EXPECT_EQ(ReadAll(*reader, id), "copy");
  EXPECT_EQ(service.Calls(L"DoSnapshotSet"), 2) << "a dropped snapshot was reused";
  ReleaseInstance(reader);
  EXPECT_EQ(service.LiveSnapshots(), 0);
  EXPECT_EQ(ThreadCount(), threadsBefore) << "the provider was not destroyed";
}

} // namespace
} // namespace test
