// Locked files read end to end: the plug-in, its wrapper, the real
// vsnp_2003.dll beside this program, and the shadow-copy service double in
// place of the system's vssapi.dll (Wine's own is a stub); and both provider
// libraries as built, driven directly.
#include <array>
#include <cwchar>
#include <list>
#include <thread>
#include <vector>

#include <objbase.h>
#include <vss.h>
#include <vsserror.h>

#include "contract/ISnapshotProvider.h"
#include "providers/ProviderException.h"
#include "tests/doubles/vssapi/VssApiControl.h"
#include "tests/host/CapturedOutput.h"
#include "tests/support/ImportReplacement.h"
#include "tests/support/PluginFixture.h"

#include <tlhelp32.h>

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

class ShadowCopyService : public PluginTest {
protected:
  void SetUp() override {
    ASSERT_NE(service, nullptr) << "the service double must be loaded (WINEDLLOVERRIDES=vssapi=n)";
    // Every wait ends after a second, so a step that never finishes ends soon.
    ::SetEnvironmentVariableW(L"DISKWAY_VSS_TIMEOUT", L"1");
    service->Reset();
    service->SetImage(L"C:\\", image.c_str());
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
  VssServiceControl* const service = VssServiceControlOf(module_.get());
  const std::wstring image = temp / L"image-c";
  IBackupDataRead* reader = MakeReader();
};

// Locked files are read from one snapshot, which ends with the instance or
// with the run. The host may release an instance from a thread of its own
// apartment, and BackupComplete may fail then: the failure is only printed,
// every thread's apartment stays as it was, and the snapshot still ends.
TEST_F(ShadowCopyService, LockedFilesAreReadByteForByteFromOneSnapshotThatEndsWithTheInstanceOrTheRun) {
  ASSERT_EQ(OwnApartment(), "none");
  WriteFileBytes(temp / L"free.txt", "free");
  uint32_t id = 0, second = 0;
  ASSERT_EQ(Open(reader, L"free.txt", id), 0u);
  reader->Close(id);
  EXPECT_EQ(::GetModuleHandleW(L"vsnp_2003.dll"), nullptr) << "a file nobody holds needs no shadow copy";

  // Writers take part in a copy backup that declares no system state. One
  // that fails, or whose metadata cannot be read, is named; the snapshot is used.
  service->AddWriter(L"Frozen Writer", S_OK, VSS_E_WRITERERROR_TIMEOUT);
  service->AddWriter(L"Mute Writer", E_OUTOFMEMORY, S_OK);
  const std::string bytes = Pattern(100000, 0);
  const VMLib::UniqueFile one = Hold(L"one.bin", bytes), two = Hold(L"two.txt", "second");
  CaptureStderr();
  ASSERT_EQ(Open(reader, L"one.bin", id), 0u);
  ASSERT_EQ(Open(reader, L"two.txt", second), 0u);
  const std::string printed = GetCapturedStderr();
  EXPECT_NE(printed.find("Snapshot for \\\\?\\C:\\ already created. Reuse it.\n"), std::string::npos);
  EXPECT_NE(printed.find("GetWriterMetadata failed (0x8007000E): writer 2 of 2 skipped\n"), std::string::npos);
  EXPECT_NE(printed.find("Warning: writer 'Frozen Writer' failed (state 9, 0x800423F2)"), std::string::npos);
  EXPECT_EQ(service->Argument(L"SetBackupState", 1), 0) << "a bootable system-state backup was declared";
  EXPECT_TRUE(ReadAll(*reader, id) == bytes);
  EXPECT_EQ(ReadAll(*reader, second), "second");
  EXPECT_EQ(OwnApartment(), "none") << "the open put the host's thread in an apartment";
  EXPECT_EQ(service->Calls(L"DoSnapshotSet"), 1);
  EXPECT_EQ(service->LiveSnapshots(), 1);
  service->Fail(L"BackupComplete", 1, VSS_E_UNEXPECTED);
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
  EXPECT_EQ(service->LiveSnapshots(), 0);

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
  const int setsBefore = service->Calls(L"DoSnapshotSet");
  const hosttest::HostRun run = hosttest::Run(
      {L"--data", temp / L"data", L"backup", temp.Virtual(L"src"), temp.Virtual(L"dst"), L"--threads", L"4"});
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(run.output.find(L"Snapshot:  8 locked files read from a shadow copy"), std::wstring::npos) << run.output;
  EXPECT_EQ(service->Calls(L"DoSnapshotSet") - setsBefore, 1) << "one snapshot of the volume, not one per worker";
  for (int i = 0; i < 8; ++i) {
    EXPECT_TRUE(ReadFileBytes(temp / (L"dst\\held" + std::to_wstring(i) + L".db")) == bytes) << "not the snapshot's bytes";
    EXPECT_EQ(ReadFileBytes(temp / (L"dst\\free" + std::to_wstring(i) + L".txt")), "free");
  }
  EXPECT_EQ(service->LiveSnapshots(), 0);

  // A user who is not an administrator is refused every components object:
  // the host's summary names the rights it takes.
  service->Fail(L"CreateVssBackupComponents", 0, E_ACCESSDENIED);
  const hosttest::HostRun denied =
      hosttest::Run({L"--data", temp / L"data", L"backup", temp.Virtual(L"src"), temp.Virtual(L"denied")});
  EXPECT_EQ(denied.exitCode, 1);
  EXPECT_NE(denied.output.find(L"could not be read from a shadow copy: VSS: CreateVssBackupComponents failed "
                               L"(0x80070005): access denied: making shadow copies needs administrator rights (run "
                               L"the program as administrator, elevated under UAC)\n  Access was denied: shadow "
                               L"copies need administrator rights."),
            std::wstring::npos)
      << denied.output;
}

// No Open waits longer than the limit (1 s here) and a little more, and every
// failure reaches standard error, naming the call and its result: through the
// sink, or from the provider itself while Initialize runs, before it has one.
// Each provider is destroyed with its instance.
TEST_F(ShadowCopyService, AfterAFailedSnapshotTheNextLockedFileIsReadFromAFreshOne) {
  const std::wstring notInImage =
      WithErrorCode(L"Cannot open file from VSS snapshot '" + temp.Real(L"first.txt") + L"'", ERROR_FILE_NOT_FOUND);
  const struct {
    const wchar_t* call;
    HRESULT result;
    int times; // calls that fail, from the first; 0: it and the writers' metadata are slow once
    const wchar_t* firstFailure; // null: the first file is read too
    int snapshotSets;
    bool imageLacksFirst = false;
  } cases[] = {
      // A FAT or exFAT volume: refused, with no reason of the plug-in's own.
      {L"AddToSnapshotSet", VSS_E_VOLUME_NOT_SUPPORTED, 1, L"", 1},
      {L"DoSnapshotSet", VSS_E_INSUFFICIENT_STORAGE, 1, L"VSS: DoSnapshotSet failed (0x8004231F)", 2},
      // Writes could not be flushed in time: a new set is tried and made.
      {L"DoSnapshotSet", VSS_E_FLUSH_WRITES_TIMEOUT, 1, nullptr, 2},
      // A step that never finishes ends at the limit; one that finishes just
      // as it is cancelled there is kept.
      {L"DoSnapshotSet", VSS_S_ASYNC_PENDING, 1,
       L"VSS: DoSnapshotSet failed (0x800705B4): no answer within 1 s (DISKWAY_VSS_TIMEOUT)", 2},
      {L"DoSnapshotSet", VSS_S_ASYNC_FINISHED, 1, nullptr, 1},
      // Another program's set: the attempts at ours are spread over the limit.
      {L"StartSnapshotSet", VSS_E_SNAPSHOT_SET_IN_PROGRESS, 4, L"VSS: StartSnapshotSet failed (0x80042316)", 1},
      // Steps that end within the limit each, but not together.
      {L"PrepareForBackup", S_OK, 0,
       L"VSS: PrepareForBackup failed (0x800705B4): no answer within 1 s (DISKWAY_VSS_TIMEOUT)", 1},
      // The service cannot serve: the next locked file loads the library again.
      {L"InitializeForBackup", VSS_E_UNEXPECTED, 1, L"Cannot load vssapi.dll. Shadow copying will be unavailable", 1},
      // A snapshot that cannot serve a file is dropped, even when the service
      // fails to drop it: the open fails with its own reason.
      {L"AbortBackup", VSS_E_UNEXPECTED, 1, notInImage.c_str(), 2, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(std::wstring(c.call)) + " " + std::to_string(c.result));
    SetUp();
    for (int nth = 1; nth <= c.times; ++nth) service->Fail(c.call, nth, c.result);
    for (const wchar_t* call : {L"GatherWriterMetadata", c.call}) service->Slow(call, c.times == 0 ? 700 : 0);
    const size_t threads = ThreadCount();
    ASSERT_GT(threads, 0u) << "this system lists no threads of ours";
    IBackupDataRead* instance = MakeReader();
    const VMLib::UniqueFile first = Hold(L"first.txt", "first"), next = Hold(L"next.txt", "next");
    if (c.imageLacksFirst) ::DeleteFileW((image + L"\\" + (temp / L"first.txt").substr(3)).c_str());
    uint32_t id = 0;
    log.messages.clear();
    const DWORD started = ::GetTickCount();
    CaptureStderr();
    EXPECT_EQ(Open(instance, L"first.txt", id), c.firstFailure != nullptr ? 1u : 0u);
    EXPECT_LT(::GetTickCount() - started, 2000u);
    const std::string heard = GetCapturedStderr(), call(c.call, c.call + std::wcslen(c.call));
    EXPECT_EQ(heard.find(call + " failed (0x") != std::string::npos, c.result != VSS_S_ASYNC_FINISHED) << heard;
    Messages expected{{Info, LockedFileNotice(temp.Real(L"first.txt"))}};
    if (c.firstFailure != nullptr) expected.push_back({Warning, ShadowCopyFailure(c.firstFailure)});
    ExpectLogged(expected);
    if (c.firstFailure == nullptr) {
      EXPECT_EQ(ReadAll(*instance, id), "first");
      instance->Close(id);
    }
    ASSERT_EQ(Open(instance, L"next.txt", id), 0u);
    EXPECT_EQ(ReadAll(*instance, id), "next");
    EXPECT_EQ(service->Calls(L"DoSnapshotSet"), c.snapshotSets);
    EXPECT_EQ(service->LiveSnapshots(), 1);
    ReleaseInstance(instance);
    EXPECT_EQ(service->LiveSnapshots(), 0);
    EXPECT_EQ(ThreadCount(), threads) << "the provider was not destroyed";
  }
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
  service->SetImage(L"Z:\\", imageOfZ.c_str());
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
  EXPECT_EQ(service->LiveSnapshots(), 1) << "the snapshot of C: is released for the one of Z:";
  reader->Close(id);
  held.reset();
  ::DeleteFileW((link + L"\\" + name).c_str());
}

// What the provider asked of COM security, answered as COM would: S_OK where
// nothing set it yet, RPC_E_TOO_LATE where the host did. Wine's COM security
// is a stub that answers S_OK to every call, so the test answers instead.
// Each request: the components objects asked for until then, and the
// authentication and impersonation levels asked for.
std::vector<std::array<DWORD, 3>> securityRequests;
HRESULT securityAnswer = S_OK;

HRESULT WINAPI AnswerComSecurity(PSECURITY_DESCRIPTOR, LONG, SOLE_AUTHENTICATION_SERVICE*, void*,
                                 DWORD authentication, DWORD impersonation, void*, DWORD, void*) {
  const int made = VssServiceControlOf(::GetModuleHandleW(L"vssapi.dll"))->Calls(L"CreateVssBackupComponents");
  securityRequests.push_back({static_cast<DWORD>(made), authentication, impersonation});
  return securityAnswer;
}

// COM security is asked for before the service is first called, and a host
// that set its own first (RPC_E_TOO_LATE) keeps it. With DISKWAY_VSS_WRITERS=0
// the set is made in the file-share context, asking no writer.
TEST_F(ShadowCopyService, ComSecurityIsSetBeforeTheServiceIsCalledUnlessTheHostSetItFirst) {
  const VMLib::UniqueModule library(::LoadLibraryW(L"vsnp_2003.dll"));
  const test::ImportReplacement answering(library.get(), "ole32.dll", "CoInitializeSecurity",
                                         reinterpret_cast<void*>(&AnswerComSecurity));
  ASSERT_TRUE(answering.active());
  const VMLib::UniqueFile held = Hold(L"held.txt", "copy");
  for (const HRESULT answer : {S_OK, RPC_E_TOO_LATE, E_OUTOFMEMORY}) {
    SCOPED_TRACE(answer);
    securityAnswer = answer;
    securityRequests.clear();
    const DWORD before = static_cast<DWORD>(service->Calls(L"CreateVssBackupComponents"));
    ::SetEnvironmentVariableW(L"DISKWAY_VSS_WRITERS", answer == E_OUTOFMEMORY ? L"0" : nullptr);
    IBackupDataRead* instance = MakeReader();
    uint32_t id = 0;
    CaptureStderr();
    const uint32_t opened = Open(instance, L"held.txt", id);
    const std::string printed = GetCapturedStderr();
    ::SetEnvironmentVariableW(L"DISKWAY_VSS_WRITERS", nullptr);
    ASSERT_EQ(opened, 0u);
    EXPECT_EQ(ReadAll(*instance, id), "copy");
    ReleaseInstance(instance);
    const std::vector<std::array<DWORD, 3>> expected{{before, RPC_C_AUTHN_LEVEL_PKT_PRIVACY, RPC_C_IMP_LEVEL_IDENTIFY}};
    EXPECT_EQ(securityRequests, expected) << "one request, before the service";
    EXPECT_EQ(printed.find("CoInitializeSecurity failed (0x8007000E): writers may not be heard") != std::string::npos,
              answer == E_OUTOFMEMORY)
        << printed;
    EXPECT_EQ(service->Argument(L"SetContext", 0),
              answer == E_OUTOFMEMORY ? VSS_CTX_FILE_SHARE_BACKUP : VSS_CTX_BACKUP);
  }
  EXPECT_EQ(service->Calls(L"GatherWriterMetadata"), 2) << "a writer was asked without writers";
}

class Provider : public ShadowCopyService, public ::testing::WithParamInterface<const wchar_t*> {};

// A user refused the service still gets a provider, so that the refusal is
// thrown, naming the call and the rights it takes, where the plug-in stores
// its text; vssapi.dll comes in with Initialize and goes with the provider.
TEST_P(Provider, AccessDeniedIsThrownNamingTheCallAndTheServiceIsUnloadedWithTheProvider) {
  const VMLib::UniqueModule library(::LoadLibraryW(GetParam()));
  const auto getInterface = VMLib::GetFunction<GetInterfaceFn>(library.get(), "GetInterface");
  ASSERT_NE(getInterface, nullptr);
  ISnapshotProvider* const provider = getInterface();
  service->Fail(L"CreateVssBackupComponents", 0, E_ACCESSDENIED);
  EXPECT_EQ(provider->Initialize(), 0);
  EXPECT_EQ(provider->GetLastHResult(), E_ACCESSDENIED);
  // Taken as the plug-in takes it: read, then freed through the interface.
  try {
    provider->StartSnapshotSet();
    ADD_FAILURE() << "nothing thrown";
  } catch (IVssException* exception) {
    const std::wstring text = exception->GetText();
    EXPECT_EQ(text.rfind(L"CreateVssBackupComponents failed (0x80070005): access denied: making shadow", 0), 0u);
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
