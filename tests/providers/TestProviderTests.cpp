// The scriptable provider double, so that plug-in tests built on it can trust
// what it records and answers.
#include <list>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/doubles/provider/TestProviderControl.h"
#include "tests/providers/ProviderTestSupport.h"
#include "vmlib/ScopedHandle.h"
#include "vmlib/WindowsApi.h"
#include "vss/ISnapshotProvider.h"

namespace {

using ProviderTests::CaptureVssException;
using Calls = std::vector<std::wstring>;

constexpr int32_t kInProgress = static_cast<int32_t>(0x80042316);

std::wstring DoublePath() {
  return ProviderTests::LibraryPath(DISKWAY_TEST_PROVIDER_DIR, L"vsnp_2003.dll");
}

class TestProvider : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_NO_FATAL_FAILURE(Load()); }

  void TearDown() override { DestroyAll(); }

  void Load() {
    module_ = ProviderTests::LoadLibraryAt(DoublePath());
    ASSERT_TRUE(module_);
    getInterface_ = VMLib::GetFunction<GetInterfaceFn>(module_.get(), "GetInterface");
    ASSERT_NE(nullptr, getInterface_);
    control_ = std::make_unique<TestProviderControl>(module_.get());
    ASSERT_TRUE(control_->Resolved());
    control_->Reset();
  }

  void DestroyAll() {
    for (ISnapshotProvider* provider : providers_) provider->Destroy(1);
    providers_.clear();
  }

  ISnapshotProvider* Create() {
    providers_.push_back(getInterface_());
    return providers_.back();
  }

  std::list<std::wstring> CreateSnapshots(ISnapshotProvider* provider,
                                          const std::list<std::wstring>& volumes) {
    std::list<std::wstring> roots;
    provider->CreateSnapshots(volumes, roots);
    return roots;
  }

  VMLib::UniqueModule module_;
  GetInterfaceFn getInterface_ = nullptr;
  std::unique_ptr<TestProviderControl> control_;
  std::vector<ISnapshotProvider*> providers_;
};

TEST_F(TestProvider, RecordsEveryCallWithItsArgumentsInOrder) {
  ISnapshotProvider* provider = getInterface_();
  provider->Initialize();
  provider->SetMessageCallback([](const wchar_t*) {});
  provider->SetTimeout(5000);
  provider->StartSnapshotSet();
  provider->AddVolume(L"C:\\");
  CreateSnapshots(provider, {L"C:\\", L"D:\\Mount Point\\"});
  provider->ReleaseSnapshots(true);
  provider->Destroy(1);
  EXPECT_EQ((Calls{L"GetInterface", L"Initialize", L"SetMessageCallback", L"SetTimeout 5000",
                   L"StartSnapshotSet", L"AddVolume C:\\",
                   L"CreateSnapshots C:\\|D:\\Mount Point\\", L"ReleaseSnapshots true",
                   L"Destroy 1"}),
            control_->Calls());
}

TEST_F(TestProvider, RecordsAnEmptyMessageCallbackAsSuch) {
  Create()->SetMessageCallback(SnapshotMessageCallback());
  const Calls calls = control_->Calls();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(L"SetMessageCallback empty", calls.back());
}

TEST_F(TestProvider, InitializeReturnsTheScriptedResult) {
  ISnapshotProvider* provider = Create();
  EXPECT_EQ(0, provider->Initialize());
  control_->SetInitializeResult(static_cast<int32_t>(0x80004005));
  EXPECT_EQ(static_cast<int32_t>(0x80004005), provider->Initialize());
  EXPECT_EQ(static_cast<int32_t>(0x80004005), provider->GetLastHResult());
}

TEST_F(TestProvider, AddVolumeFollowsTheScriptPerVolumeIgnoringCase) {
  ISnapshotProvider* provider = Create();
  provider->StartSnapshotSet();
  control_->SetAddVolumeResult(L"d:\\", false);
  EXPECT_TRUE(provider->AddVolume(L"C:\\"));
  EXPECT_FALSE(provider->AddVolume(L"D:\\"));
  control_->SetAddVolumeResult(nullptr, false);
  control_->SetAddVolumeResult(L"E:\\", true);
  EXPECT_FALSE(provider->AddVolume(L"C:\\"));
  EXPECT_TRUE(provider->AddVolume(L"E:\\"));
}

TEST_F(TestProvider, CreateSnapshotsGivesTheScriptedRootForEveryVolume) {
  control_->SetSnapshotRoot(nullptr, L"C:\\temp\\mirror");
  const auto roots = CreateSnapshots(Create(), {L"C:\\", L"D:\\"});
  EXPECT_EQ((std::list<std::wstring>{L"C:\\temp\\mirror", L"C:\\temp\\mirror"}), roots);
}

TEST_F(TestProvider, ARootScriptedForAVolumeWinsOverTheCommonOne) {
  control_->SetSnapshotRoot(nullptr, L"C:\\temp\\common");
  control_->SetSnapshotRoot(L"d:\\", L"C:\\temp\\d");
  const auto roots = CreateSnapshots(Create(), {L"C:\\", L"D:\\"});
  EXPECT_EQ((std::list<std::wstring>{L"C:\\temp\\common", L"C:\\temp\\d"}), roots);
}

TEST_F(TestProvider, UnscriptedRootIsTheVolumeWithoutItsBackslash) {
  const auto roots = CreateSnapshots(Create(), {L"C:\\", L"C:\\Mount\\"});
  EXPECT_EQ((std::list<std::wstring>{L"C:", L"C:\\Mount"}), roots);
}

TEST_F(TestProvider, SnapshotSetStateFollowsStartCreateAndRelease) {
  control_->SetSnapshotRoot(nullptr, L"C:\\mirror");
  ISnapshotProvider* provider = Create();
  std::wstring value;
  EXPECT_FALSE(provider->GetSnapshotSetId(value));
  provider->StartSnapshotSet();
  EXPECT_TRUE(provider->IsSnapshotSetInProgress());
  CreateSnapshots(provider, {L"C:\\"});
  ASSERT_EQ(1u, provider->GetSnapshotCount());
  ASSERT_TRUE(provider->GetSnapshotVolume(0, value));
  EXPECT_EQ(L"C:\\", value);
  ASSERT_TRUE(provider->GetSnapshotDevice(0, value));
  EXPECT_EQ(L"C:\\mirror", value);
  provider->ReleaseSnapshots(false);
  EXPECT_FALSE(provider->IsSnapshotSetInProgress());
  EXPECT_EQ(0u, provider->GetSnapshotCount());
}

TEST_F(TestProvider, TuningEntriesRoundTrip) {
  ISnapshotProvider* provider = Create();
  provider->SetTimeout(4321);
  provider->SetRetryCount(6);
  EXPECT_EQ(4321u, provider->GetTimeout());
  EXPECT_EQ(6u, provider->GetRetryCount());
}

TEST_F(TestProvider, ScriptedOperationThrowsAfterRecordingTheCall) {
  control_->SetThrow(L"CreateSnapshots", kInProgress, L"DoSnapshotSet failed (0x80042316)");
  ISnapshotProvider* provider = Create();
  const std::list<std::wstring> volumes = {L"C:\\"};
  std::list<std::wstring> roots;
  const auto thrown = CaptureVssException([&] { provider->CreateSnapshots(volumes, roots); });
  ASSERT_TRUE(thrown.thrown);
  EXPECT_EQ(L"DoSnapshotSet failed (0x80042316)", thrown.text);
  EXPECT_EQ(kInProgress, thrown.code);
  EXPECT_EQ(kInProgress, provider->GetLastHResult());
  EXPECT_TRUE(roots.empty());
  const Calls calls = control_->Calls();
  ASSERT_EQ(3u, calls.size());
  EXPECT_EQ(L"CreateSnapshots C:\\", calls[1]);
}

TEST_F(TestProvider, EachThrowingOperationIsScriptedOnItsOwn) {
  control_->SetThrow(L"StartSnapshotSet", 1, L"start");
  control_->SetThrow(L"ReleaseSnapshots", 2, L"release");
  ISnapshotProvider* provider = Create();
  EXPECT_EQ(L"start", CaptureVssException([provider] { provider->StartSnapshotSet(); }).text);
  EXPECT_FALSE(CaptureVssException([provider] { provider->AddVolume(L"C:\\"); }).thrown);
  EXPECT_EQ(2, CaptureVssException([provider] { provider->ReleaseSnapshots(true); }).code);
}

TEST_F(TestProvider, NullTextStopsTheThrowing) {
  control_->SetThrow(L"AddVolume", 1, L"volume failed");
  control_->SetThrow(L"AddVolume", 0, nullptr);
  ISnapshotProvider* provider = Create();
  EXPECT_FALSE(CaptureVssException([provider] { provider->AddVolume(L"C:\\"); }).thrown);
}

TEST_F(TestProvider, SendMessageReachesTheRegisteredCallback) {
  std::vector<std::wstring> heard;
  Create()->SetMessageCallback([&heard](const wchar_t* text) { heard.push_back(text); });
  EXPECT_TRUE(control_->SendMessage(L"Creating shadow copy of C:\\ ..."));
  EXPECT_EQ((Calls{L"Creating shadow copy of C:\\ ..."}), heard);
}

TEST_F(TestProvider, SendMessageReportsThatNoCallbackIsThere) {
  EXPECT_FALSE(control_->SendMessage(L"nobody listens"));
  Create()->SetMessageCallback(SnapshotMessageCallback());
  EXPECT_FALSE(control_->SendMessage(L"nobody listens"));
}

TEST_F(TestProvider, DestroyedProviderReceivesNoMoreMessages) {
  int heard = 0;
  ISnapshotProvider* provider = getInterface_();
  provider->SetMessageCallback([&heard](const wchar_t*) { ++heard; });
  provider->Destroy(1);
  EXPECT_FALSE(control_->SendMessage(L"too late"));
  EXPECT_EQ(0, heard);
}

TEST_F(TestProvider, ScriptedMessagesGoOutBeforeTheOperationThrows) {
  control_->AddMessage(L"CreateSnapshots", L"first");
  control_->AddMessage(L"CreateSnapshots", L"second");
  control_->SetThrow(L"CreateSnapshots", 1, L"failed");
  std::vector<std::wstring> heard;
  ISnapshotProvider* provider = Create();
  provider->SetMessageCallback([&heard](const wchar_t* text) { heard.push_back(text); });
  provider->StartSnapshotSet();
  EXPECT_TRUE(heard.empty());
  const std::list<std::wstring> volumes = {L"C:\\"};
  std::list<std::wstring> roots;
  EXPECT_TRUE(CaptureVssException([&] { provider->CreateSnapshots(volumes, roots); }).thrown);
  EXPECT_EQ((Calls{L"first", L"second"}), heard);
}

TEST_F(TestProvider, LiveProvidersCountsObjectsUntilDestroyed) {
  ISnapshotProvider* first = getInterface_();
  ISnapshotProvider* second = getInterface_();
  EXPECT_NE(first, second);
  EXPECT_EQ(2, control_->LiveProviders());
  first->Destroy(1);
  EXPECT_EQ(1, control_->LiveProviders());
  second->Destroy(1);
  EXPECT_EQ(0, control_->LiveProviders());
}

TEST_F(TestProvider, ResetForgetsScriptAndRecord) {
  control_->SetInitializeResult(5);
  control_->SetAddVolumeResult(nullptr, false);
  control_->SetThrow(L"StartSnapshotSet", 1, L"start");
  ISnapshotProvider* provider = Create();
  control_->Reset();
  EXPECT_TRUE(control_->Calls().empty());
  EXPECT_EQ(0, provider->Initialize());
  EXPECT_FALSE(CaptureVssException([provider] { provider->StartSnapshotSet(); }).thrown);
  EXPECT_TRUE(provider->AddVolume(L"C:\\"));
}

TEST_F(TestProvider, LoadingTheLibraryAgainStartsAfresh) {
  control_->SetInitializeResult(5);
  getInterface_()->Destroy(1);
  control_.reset();
  module_.reset();
  ASSERT_NO_FATAL_FAILURE(Load());
  EXPECT_EQ(0, Create()->Initialize());
  EXPECT_EQ((Calls{L"GetInterface", L"Initialize"}), control_->Calls());
}

TEST_F(TestProvider, RecordCopyIsCutToTheBufferButReportsItsFullLength) {
  Create()->Initialize();
  const auto calls = VMLib::GetFunction<TestProviderCallsFn>(module_.get(), "TestProviderCalls");
  wchar_t buffer[6] = {L'#', L'#', L'#', L'#', L'#', L'#'};
  EXPECT_EQ(std::wstring(L"GetInterface\nInitialize\n").size(), calls(buffer, 5));
  EXPECT_STREQ(L"GetI", buffer);
  EXPECT_EQ(L'#', buffer[5]);
}

TEST(ProviderWithoutInterface, LoadsButLacksGetInterface) {
  const VMLib::UniqueModule module = ProviderTests::LoadLibraryAt(
      ProviderTests::LibraryPath(DISKWAY_NO_INTERFACE_DIR, L"vsnp_2003.dll"));
  ASSERT_TRUE(module);
  EXPECT_EQ(nullptr, VMLib::GetFunction<GetInterfaceFn>(module.get(), "GetInterface"));
}

} // namespace
