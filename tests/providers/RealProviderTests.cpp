// The shadow-copy providers as built, loaded from the product folder. Wine's
// vssapi.dll is a stub, so these cover everything short of a real snapshot.
#include <cwchar>
#include <list>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/providers/ProviderTestSupport.h"
#include "vmlib/ScopedHandle.h"
#include "vmlib/WindowsApi.h"
#include "vss/ISnapshotProvider.h"

namespace {

using ProviderTests::CaptureVssException;

constexpr int32_t kBadState = static_cast<int32_t>(0x80042301);
constexpr uint32_t kTenMinutesMs = 10 * 60 * 1000;

std::wstring HexCode(int32_t code) {
  wchar_t text[16];
  std::swprintf(text, sizeof(text) / sizeof(text[0]), L"0x%08X", static_cast<uint32_t>(code));
  return text;
}

bool ShadowCopyLibraryLoaded() { return ::GetModuleHandleW(L"vssapi.dll") != nullptr; }

class RealProvider : public ::testing::TestWithParam<const wchar_t*> {
protected:
  void SetUp() override {
    module_ = ProviderTests::LoadLibraryAt(ProviderTests::LibraryPath(DISKWAY_BIN_DIR, GetParam()));
    ASSERT_TRUE(module_) << "cannot load " << testing::PrintToString(std::wstring(GetParam()));
    getInterface_ = VMLib::GetFunction<GetInterfaceFn>(module_.get(), "GetInterface");
  }

  void TearDown() override {
    for (ISnapshotProvider* provider : providers_) provider->Destroy(1);
  }

  ISnapshotProvider* Create() {
    providers_.push_back(getInterface_());
    return providers_.back();
  }

  // Hands destruction over to the test.
  ISnapshotProvider* CreateUnowned() { return getInterface_(); }

  VMLib::UniqueModule module_;
  GetInterfaceFn getInterface_ = nullptr;
  std::vector<ISnapshotProvider*> providers_;
};

#define SKIP_IF_SERVICE_WORKS(result) \
  if ((result) == 0) GTEST_SKIP() << "a working shadow-copy service is present"

TEST_P(RealProvider, ExportsGetInterfaceUnderItsPlainName) {
  EXPECT_NE(nullptr, getInterface_);
}

TEST_P(RealProvider, EachGetInterfaceCallGivesANewObject) {
  ASSERT_NE(nullptr, getInterface_);
  ISnapshotProvider* first = Create();
  ISnapshotProvider* second = Create();
  ASSERT_NE(first, second);
  first->SetTimeout(1000);
  second->SetTimeout(2000);
  EXPECT_EQ(1000u, first->GetTimeout());
  EXPECT_EQ(2000u, second->GetTimeout());
}

TEST_P(RealProvider, LoadingLeavesTheShadowCopyLibraryUnloaded) {
  ASSERT_NE(nullptr, getInterface_);
  Create();
  EXPECT_FALSE(ShadowCopyLibraryLoaded());
}

TEST_P(RealProvider, InitializeFailsWithoutAWorkingService) {
  ASSERT_NE(nullptr, getInterface_);
  ISnapshotProvider* provider = Create();
  const int32_t result = provider->Initialize();
  SKIP_IF_SERVICE_WORKS(result);
  EXPECT_EQ(result, provider->GetLastHResult());
  EXPECT_FALSE(provider->IsVolumeSupported(L"C:\\"));
}

TEST_P(RealProvider, DestroyAfterFailedInitializeUnloadsTheShadowCopyLibrary) {
  ASSERT_NE(nullptr, getInterface_);
  ISnapshotProvider* provider = CreateUnowned();
  const int32_t result = provider->Initialize();
  const bool loaded = ShadowCopyLibraryLoaded();
  provider->Destroy(1);
  SKIP_IF_SERVICE_WORKS(result);
  if (!loaded) GTEST_SKIP() << "this system has no vssapi.dll to load";
  EXPECT_FALSE(ShadowCopyLibraryLoaded());
}

TEST_P(RealProvider, StartSnapshotSetBeforeInitializeThrowsBadState) {
  ASSERT_NE(nullptr, getInterface_);
  ISnapshotProvider* provider = Create();
  const auto thrown = CaptureVssException([provider] { provider->StartSnapshotSet(); });
  ASSERT_TRUE(thrown.thrown);
  EXPECT_EQ(0u, thrown.text.find(L"StartSnapshotSet failed (0x80042301)")) << thrown.text.c_str();
  EXPECT_EQ(kBadState, thrown.code);
  EXPECT_EQ(kBadState, provider->GetLastHResult());
  EXPECT_FALSE(provider->IsSnapshotSetInProgress());
}

TEST_P(RealProvider, StartSnapshotSetAfterFailedInitializeThrows) {
  ASSERT_NE(nullptr, getInterface_);
  ISnapshotProvider* provider = Create();
  const int32_t result = provider->Initialize();
  SKIP_IF_SERVICE_WORKS(result);
  const auto thrown = CaptureVssException([provider] { provider->StartSnapshotSet(); });
  ASSERT_TRUE(thrown.thrown);
  // The call that failed comes first: under Wine the factory itself.
  const size_t failed = thrown.text.find(L" failed (" + HexCode(result) + L")");
  EXPECT_NE(std::wstring::npos, failed) << thrown.text.c_str();
  EXPECT_NE(0u, failed) << thrown.text.c_str();
  EXPECT_EQ(result, thrown.code);
  EXPECT_FALSE(provider->IsSnapshotSetInProgress());
}

TEST_P(RealProvider, AddVolumeOutsideASnapshotSetThrows) {
  ASSERT_NE(nullptr, getInterface_);
  ISnapshotProvider* provider = Create();
  const auto thrown = CaptureVssException([provider] { provider->AddVolume(L"C:\\"); });
  ASSERT_TRUE(thrown.thrown);
  EXPECT_EQ(0u, thrown.text.find(L"AddToSnapshotSet failed (0x80042301)")) << thrown.text.c_str();
  EXPECT_EQ(0u, provider->GetSnapshotCount());
}

TEST_P(RealProvider, CreateSnapshotsOutsideASnapshotSetThrowsAndGivesNoRoots) {
  ASSERT_NE(nullptr, getInterface_);
  ISnapshotProvider* provider = Create();
  const std::list<std::wstring> volumes = {L"C:\\"};
  std::list<std::wstring> roots = {L"stale"};
  const auto thrown = CaptureVssException([&] { provider->CreateSnapshots(volumes, roots); });
  ASSERT_TRUE(thrown.thrown);
  EXPECT_EQ(0u, thrown.text.find(L"DoSnapshotSet failed (0x80042301)")) << thrown.text.c_str();
  EXPECT_TRUE(roots.empty());
}

TEST_P(RealProvider, EndingASetThatNeverStartedIsHarmless) {
  ASSERT_NE(nullptr, getInterface_);
  ISnapshotProvider* provider = Create();
  EXPECT_FALSE(CaptureVssException([provider] { provider->ReleaseSnapshots(true); }).thrown);
  EXPECT_FALSE(CaptureVssException([provider] { provider->ReleaseSnapshots(false); }).thrown);
  provider->AbortSnapshotSet();
  EXPECT_EQ(0, provider->GetLastHResult());
}

TEST_P(RealProvider, NothingIsListedBeforeASnapshotSet) {
  ASSERT_NE(nullptr, getInterface_);
  ISnapshotProvider* provider = Create();
  std::wstring untouched = L"untouched";
  EXPECT_EQ(0u, provider->GetSnapshotCount());
  EXPECT_FALSE(provider->GetSnapshotVolume(0, untouched));
  EXPECT_FALSE(provider->GetSnapshotDevice(0, untouched));
  EXPECT_FALSE(provider->GetSnapshotId(0, untouched));
  EXPECT_FALSE(provider->GetSnapshotSetId(untouched));
  EXPECT_EQ(0u, provider->GetWriterCount());
  EXPECT_FALSE(provider->GetWriterName(0, untouched));
  EXPECT_EQ(L"untouched", untouched);
  EXPECT_FALSE(provider->IsSnapshotSetInProgress());
}

TEST_P(RealProvider, TimeoutDefaultsToTenMinutesAndRoundTrips) {
  ASSERT_NE(nullptr, getInterface_);
  ISnapshotProvider* provider = Create();
  EXPECT_EQ(kTenMinutesMs, provider->GetTimeout());
  provider->SetTimeout(1234);
  EXPECT_EQ(1234u, provider->GetTimeout());
  provider->SetTimeout(0);
  EXPECT_EQ(kTenMinutesMs, provider->GetTimeout());
}

TEST_P(RealProvider, RetryCountRoundTripsWithAtLeastOneAttempt) {
  ASSERT_NE(nullptr, getInterface_);
  ISnapshotProvider* provider = Create();
  EXPECT_GE(provider->GetRetryCount(), 3u);
  EXPECT_LE(provider->GetRetryCount(), 5u);
  provider->SetRetryCount(7);
  EXPECT_EQ(7u, provider->GetRetryCount());
  provider->SetRetryCount(0);
  EXPECT_EQ(1u, provider->GetRetryCount());
}

INSTANTIATE_TEST_SUITE_P(BothLibraries, RealProvider,
                         ::testing::Values(L"vsnp_2003.dll", L"vsnp_xp.dll"));

TEST(RealProviders, TheTwoLibrariesNameThemselvesApart) {
  VMLib::UniqueModule server =
      ProviderTests::LoadLibraryAt(ProviderTests::LibraryPath(DISKWAY_BIN_DIR, L"vsnp_2003.dll"));
  VMLib::UniqueModule xp =
      ProviderTests::LoadLibraryAt(ProviderTests::LibraryPath(DISKWAY_BIN_DIR, L"vsnp_xp.dll"));
  ASSERT_TRUE(server);
  ASSERT_TRUE(xp);
  ISnapshotProvider* fromServer = VMLib::GetFunction<GetInterfaceFn>(server.get(), "GetInterface")();
  ISnapshotProvider* fromXp = VMLib::GetFunction<GetInterfaceFn>(xp.get(), "GetInterface")();
  EXPECT_STRNE(fromServer->GetProviderName(), fromXp->GetProviderName());
  EXPECT_NE(0u, fromServer->GetProviderVersion());
  fromServer->Destroy(1);
  fromXp->Destroy(1);
}

} // namespace
