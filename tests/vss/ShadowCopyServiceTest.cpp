// Locked files read end to end: the plug-in, its wrapper, the real
// vsnp_2003.dll beside this program, and the shadow-copy service double in
// place of the system's vssapi.dll (Wine's own is a stub); and both provider
// libraries as built, driven directly.
#include <list>
#include <thread>

#include <objbase.h>
#include <vsserror.h>

#include "contract/ISnapshotProvider.h"
#include "host/Commands.h"
#include "providers/ProviderException.h"
#include "tests/doubles/vssapi/VssApiControl.h"
#include "tests/host/CapturedOutput.h"
#include "tests/support/PluginFixture.h"

namespace test {
namespace {

using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;

// The calling thread's own apartment: "none" for a thread that joined none,
// even while the process's multithreaded apartment serves it implicitly.
std::string OwnApartment() {
  APTTYPE type = APTTYPE_CURRENT;
  APTTYPEQUALIFIER qualifier = APTTYPEQUALIFIER_NONE;
  if (FAILED(::CoGetApartmentType(&type, &qualifier)) || qualifier == APTTYPEQUALIFIER_IMPLICIT_MTA) return "none";
  return type == APTTYPE_MTA ? "MTA" : "STA";
}

class ShadowCopyService : public PluginTest {
protected:
  void SetUp() override {
    ASSERT_TRUE(module_ && service.Resolved()) << "the service double must be loaded (WINEDLLOVERRIDES=vssapi=n)";
    // Every wait ends after a second, so a step that never finishes ends soon.
    ::SetEnvironmentVariableW(L"DISKWAY_VSS_TIMEOUT", L"1");
    service.Reset();
    service.SetImage(L"C:\\", image.c_str());
  }

  // The file as a program holds it (share mode 0), and as the snapshot of C:
  // shows it, which the test prepared before it locked the live file.
  VMLib::UniqueFile Hold(const std::wstring& relative, const std::string& snapshotBytes,
                         const std::string& liveBytes = "live") {
    WriteImage(image + L"\\" + (temp / relative).substr(3), snapshotBytes);
    WriteFileBytes(temp / relative, liveBytes);
    return HoldExclusively(temp / relative);
  }
  static void WriteImage(const std::wstring& path, const std::string& bytes) {
    MakeFolder(path.substr(0, path.rfind(L'\\')));
    WriteFileBytes(path, bytes);
  }

  uint32_t Open(IBackupDataRead* instance, const std::wstring& relative, uint32_t& id) {
    return instance->Open(temp.Virtual(relative), OpenRead, id);
  }

  VMLib::UniqueModule module_ = LoadServiceDouble();
  const VssServiceDouble service{module_.get()};
  const std::wstring image = temp / L"image-c";
  IBackupDataRead* reader = MakeReader();
};

TEST_F(ShadowCopyService, LockedFilesAreReadByteForByteFromOneSnapshotThatEndsWithTheInstanceOrTheRun) {
  WriteFileBytes(temp / L"free.txt", "free");
  uint32_t id = 0, second = 0;
  ASSERT_EQ(Open(reader, L"free.txt", id), 0u);
  reader->Close(id);
  EXPECT_EQ(::GetModuleHandleW(L"vsnp_2003.dll"), nullptr) << "a file nobody holds needs no shadow copy";

  std::string bytes(100000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + i / 256);
  const VMLib::UniqueFile one = Hold(L"one.bin", bytes), two = Hold(L"two.txt", "second");
  CaptureStderr();
  ASSERT_EQ(Open(reader, L"one.bin", id), 0u);
  ASSERT_EQ(Open(reader, L"two.txt", second), 0u);
  EXPECT_NE(GetCapturedStderr().find("Snapshot for \\\\?\\C:\\ already created. Reuse it.\n"), std::string::npos);
  EXPECT_TRUE(ReadAll(*reader, id) == bytes);
  EXPECT_EQ(ReadAll(*reader, second), "second");
  EXPECT_EQ(service.Calls(L"DoSnapshotSet"), 1);
  EXPECT_EQ(service.LiveSnapshots(), 1);
  ReleaseInstance(reader);
  EXPECT_EQ(service.LiveSnapshots(), 0);

  // The main job as the host runs it, with four workers: every held file
  // arrives whole, all from one snapshot, and the summary counts them. The
  // live files have the snapshot's size, as files unchanged since the
  // snapshot, so that only the bytes tell their source.
  MakeFolder(temp / L"src");
  std::list<VMLib::UniqueFile> held;
  for (int i = 0; i < 8; ++i) {
    WriteFileBytes(temp / (L"src\\free" + std::to_wstring(i) + L".txt"), "free");
    held.push_back(Hold(L"src\\held" + std::to_wstring(i) + L".db", bytes, std::string(bytes.size(), 'L')));
  }
  const int setsBefore = service.Calls(L"DoSnapshotSet");
  hosttest::CapturedOutput out;
  hosttest::CapturedOutput err;
  EXPECT_EQ(host::Run({L"--data", temp / L"data", L"backup", temp.Virtual(L"src"), temp.Virtual(L"dst"), L"--threads",
                       L"4"},
                      out, err),
            0)
      << out.text() << err.text();
  EXPECT_NE(out.text().find(L"Snapshot:  8 locked files read from a shadow copy"), std::wstring::npos) << out.text();
  EXPECT_EQ(service.Calls(L"DoSnapshotSet") - setsBefore, 1) << "one snapshot of the volume, not one per worker";
  for (int i = 0; i < 8; ++i) {
    EXPECT_TRUE(ReadFileBytes(temp / (L"dst\\held" + std::to_wstring(i) + L".db")) == bytes) << "not the snapshot's bytes";
    EXPECT_EQ(ReadFileBytes(temp / (L"dst\\free" + std::to_wstring(i) + L".txt")), "free");
  }
  EXPECT_EQ(service.LiveSnapshots(), 0);
}

TEST_F(ShadowCopyService, AfterAFailedSnapshotTheNextLockedFileIsReadFromAFreshOne) {
  const struct {
    const wchar_t* call;
    HRESULT result;
    const wchar_t* firstFailure; // null: the first file is read too
    int snapshotSets;
  } cases[] = {
      // A FAT or exFAT volume: refused, with no reason of the plug-in's own.
      {L"AddToSnapshotSet", VSS_E_VOLUME_NOT_SUPPORTED, L"", 1},
      {L"DoSnapshotSet", VSS_E_INSUFFICIENT_STORAGE, L"VSS: DoSnapshotSet failed (0x8004231F)", 2},
      // Writes could not be flushed in time: a new set is tried and made.
      {L"DoSnapshotSet", VSS_E_FLUSH_WRITES_TIMEOUT, nullptr, 2},
      // A step that never finishes ends at the limit.
      {L"DoSnapshotSet", VSS_S_ASYNC_PENDING,
       L"VSS: DoSnapshotSet failed (0x800705B4): no answer within 1 s (DISKWAY_VSS_TIMEOUT)", 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(std::wstring(c.call)) + " " + std::to_string(c.result));
    service.Reset();
    service.SetImage(L"C:\\", image.c_str());
    service.Fail(c.call, 1, c.result);
    IBackupDataRead* instance = MakeReader();
    const VMLib::UniqueFile first = Hold(L"first.txt", "first"), next = Hold(L"next.txt", "next");
    uint32_t id = 0;
    log.messages.clear();
    EXPECT_EQ(Open(instance, L"first.txt", id), c.firstFailure != nullptr ? 1u : 0u);
    Messages expected{{Info, LockedFileNotice(temp.Real(L"first.txt"))}};
    if (c.firstFailure != nullptr) expected.push_back({Warning, ShadowCopyFailure(c.firstFailure)});
    ExpectLogged(expected);
    if (c.firstFailure == nullptr) {
      EXPECT_EQ(ReadAll(*instance, id), "first");
      instance->Close(id);
    }
    ASSERT_EQ(Open(instance, L"next.txt", id), 0u);
    EXPECT_EQ(ReadAll(*instance, id), "next");
    EXPECT_EQ(service.Calls(L"DoSnapshotSet"), c.snapshotSets);
    EXPECT_EQ(service.LiveSnapshots(), 1);
    ReleaseInstance(instance);
    EXPECT_EQ(service.LiveSnapshots(), 0);
  }
}

// The host may release an instance from a thread of its own apartment, and
// BackupComplete may fail then: the failure is only printed, every thread's
// apartment stays as it was, and the snapshot still ends.
TEST_F(ShadowCopyService, ReleaseFromAnotherThreadWithBackupCompleteFailingLeavesApartmentsAndNoSnapshot) {
  ASSERT_EQ(OwnApartment(), "none");
  service.Fail(L"BackupComplete", 1, VSS_E_UNEXPECTED);
  const VMLib::UniqueFile held = Hold(L"held.txt", "copy");
  uint32_t id = 0;
  ASSERT_EQ(Open(reader, L"held.txt", id), 0u);
  EXPECT_EQ(ReadAll(*reader, id), "copy");
  EXPECT_EQ(OwnApartment(), "none") << "the open put the host's thread in an apartment";
  std::string releasing;
  CaptureStderr();
  std::thread([&] {
    ::CoInitializeEx(/*reserved=*/nullptr, COINIT_APARTMENTTHREADED);
    ReleaseInstance(reader);
    releasing = OwnApartment();
    ::CoUninitialize();
  }).join();
  EXPECT_EQ(GetCapturedStderr(), "BackupComplete failed (0x80042302)\n");
  EXPECT_EQ(releasing, "STA");
  EXPECT_EQ(OwnApartment(), "none");
  EXPECT_EQ(service.LiveSnapshots(), 0);
}

// The snapshot of C: shows the link again, leading off the snapshot, so a file
// behind it is read from the snapshot of the volume that holds it.
TEST_F(ShadowCopyService, FileBehindALinkToAnotherVolumeIsReadFromThatVolumesSnapshot) {
  const std::wstring link = L"C:\\diskway-vss-link";
  if (!Exists(link) || !(Attributes(link) & FILE_ATTRIBUTE_REPARSE_POINT)) {
    GTEST_SKIP() << "no link from C: to Z: (made natively by the vss_link_fixture test)";
  }
  const std::wstring name = L"held-" + std::to_wstring(::GetCurrentProcessId()) + L".txt";
  const std::wstring imageOfZ = temp / L"image-z";
  service.SetImage(L"Z:\\", imageOfZ.c_str());
  WriteImage(image + L"\\" + link.substr(3) + L"\\" + name, "from the snapshot of C:");
  WriteImage(imageOfZ + std::wstring(VSS_LINK_TARGET).substr(2) + L"\\" + name, "from the snapshot of Z:");
  WriteFileBytes(link + L"\\" + name, "live");
  VMLib::UniqueFile held = HoldExclusively(link + L"\\" + name);
  const VMLib::UniqueFile onC = Hold(L"c.txt", "c");

  uint32_t id = 0;
  ASSERT_EQ(Open(reader, L"c.txt", id), 0u);
  reader->Close(id);
  ASSERT_EQ(reader->Open(ToVirtual(link + L"\\" + name), OpenRead, id), 0u);
  EXPECT_EQ(ReadAll(*reader, id), "from the snapshot of Z:");
  EXPECT_EQ(service.LiveSnapshots(), 1) << "the snapshot of C: is released for the one of Z:";
  reader->Close(id);
  held.reset();
  ::DeleteFileW((link + L"\\" + name).c_str());
}

class Provider : public ShadowCopyService, public ::testing::WithParamInterface<const wchar_t*> {};

// A service that cannot make its components object fails Initialize, and
// the call that failed is named first; vssapi.dll comes in with Initialize
// and goes with the provider.
TEST_P(Provider, AFailingServiceThrowsNamingTheCallAndIsUnloadedWithTheProvider) {
  const VMLib::UniqueModule library(::LoadLibraryW(GetParam()));
  const auto getInterface = VMLib::GetFunction<GetInterfaceFn>(library.get(), "GetInterface");
  ASSERT_NE(getInterface, nullptr);
  ISnapshotProvider* const provider = getInterface();
  for (int nth = 1; nth <= 2; ++nth) service.Fail(L"CreateVssBackupComponents", nth, E_ACCESSDENIED);
  EXPECT_EQ(provider->Initialize(), E_ACCESSDENIED);
  EXPECT_EQ(provider->GetLastHResult(), E_ACCESSDENIED);
  // Taken as the plug-in takes it: read, then freed through the interface.
  try {
    provider->StartSnapshotSet();
    ADD_FAILURE() << "nothing thrown";
  } catch (IVssException* exception) {
    const std::wstring text = exception->GetText();
    EXPECT_EQ(text.rfind(L"CreateVssBackupComponents failed (0x80070005)", 0), 0u) << text;
    EXPECT_EQ(exception->GetErrorCode(), E_ACCESSDENIED);
    FreeVssException(exception);
  }
  EXPECT_FALSE(provider->IsSnapshotSetInProgress());
  provider->Destroy(1);
  // The provider's hold on the service goes with it: once this test lets go
  // of its own, nothing keeps vssapi.dll loaded.
  module_.reset();
  EXPECT_EQ(::GetModuleHandleW(L"vssapi.dll"), nullptr);
}
INSTANTIATE_TEST_SUITE_P(BothLibraries, Provider, ::testing::Values(L"vsnp_2003.dll", L"vsnp_xp.dll"));

// The exception keeps its text in a fixed buffer, so that a plain delete through
// IVssException* frees all of it.
TEST(ProviderException, CutsALongTextToItsBuffer) {
  const std::wstring text(3 * Providers::ProviderException::kTextCapacity, L'x');
  Providers::ProviderException exception(text.c_str(), 1);
  EXPECT_EQ(exception.GetText(), text.substr(0, Providers::ProviderException::kTextCapacity - 1));
}

} // namespace
} // namespace test
