// The shadow-copy providers as built: Wine's vssapi.dll is a stub, so these
// cover everything short of a real snapshot.
#include <algorithm>
#include <cwchar>
#include <functional>
#include <list>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "providers/ProviderException.h"
#include "vmlib/ScopedHandle.h"
#include "vmlib/WindowsApi.h"
#include "contract/ISnapshotProvider.h"

namespace {

constexpr int32_t kBadState = static_cast<int32_t>(0x80042301);

// Build folders arrive with forward slashes. Dependencies are looked up beside
// the library first, as for the plug-in.
VMLib::UniqueModule LoadLibraryIn(const wchar_t* folder, const wchar_t* file) {
  std::wstring path = std::wstring(folder) + L"\\" + file;
  std::replace(path.begin(), path.end(), L'/', L'\\');
  return VMLib::UniqueModule(::LoadLibraryExW(path.c_str(), /*file=*/nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
}

struct Thrown {
  bool thrown = false;
  std::wstring text;
  int32_t code = 0;
};

// Takes what `call` throws as the plug-in does: reads the IVssException* and
// frees it with a plain delete of the interface type.
Thrown Catch(const std::function<void()>& call) {
  Thrown result;
  try {
    call();
  } catch (IVssException* exception) {
    result = {true, exception->GetText(), exception->GetErrorCode()};
    FreeVssException(exception);
  }
  return result;
}

std::wstring Hex(int32_t code) {
  wchar_t text[16];
  std::swprintf(text, sizeof(text) / sizeof(text[0]), L"0x%08X", static_cast<uint32_t>(code));
  return text;
}

class RealProvider : public ::testing::TestWithParam<const wchar_t*> {
protected:
  void SetUp() override {
    module_ = LoadLibraryIn(DISKWAY_BIN_DIR, GetParam());
    ASSERT_TRUE(module_);
    const auto getInterface = VMLib::GetFunction<GetInterfaceFn>(module_.get(), "GetInterface");
    ASSERT_NE(getInterface, nullptr);
    provider_ = getInterface();
  }
  void TearDown() override {
    if (provider_ != nullptr) provider_->Destroy(1);
  }

  VMLib::UniqueModule module_;
  ISnapshotProvider* provider_ = nullptr;
};

// Calls out of order throw bad state naming the call, before and after an
// Initialize that fails for want of a working service (under Wine the
// factory itself fails, and that call is named first); vssapi.dll comes in
// with Initialize and goes again with the provider.
TEST_P(RealProvider, CallsOutOfOrderAndWithoutAWorkingServiceThrowNamingTheCall) {
  std::list<std::wstring> roots = {L"stale"};
  const struct {
    const wchar_t* call;
    std::function<void()> run;
  } cases[] = {
      {L"StartSnapshotSet", [this] { provider_->StartSnapshotSet(); }}, // not initialized
      {L"AddToSnapshotSet", [this] { provider_->AddVolume(L"C:\\"); }},
      {L"DoSnapshotSet", [this, &roots] { provider_->CreateSnapshots({L"C:\\"}, roots); }},
  };
  for (const auto& c : cases) {
    const Thrown thrown = Catch(c.run);
    EXPECT_EQ(thrown.text.rfind(std::wstring(c.call) + L" failed (0x80042301): ", 0), 0u) << thrown.text;
    EXPECT_EQ(thrown.code, kBadState);
  }
  EXPECT_TRUE(roots.empty());
  EXPECT_EQ(provider_->GetLastHResult(), kBadState);
  // Ending a set that never started is no error.
  EXPECT_FALSE(Catch([this] { provider_->ReleaseSnapshots(true); }).thrown);
  EXPECT_FALSE(Catch([this] { provider_->ReleaseSnapshots(false); }).thrown);

  EXPECT_EQ(::GetModuleHandleW(L"vssapi.dll"), nullptr);
  const int32_t result = provider_->Initialize();
  if (result == 0) GTEST_SKIP() << "a working shadow-copy service is present";
  EXPECT_EQ(provider_->GetLastHResult(), result);
  EXPECT_FALSE(provider_->IsVolumeSupported(L"C:\\"));
  const Thrown thrown = Catch([this] { provider_->StartSnapshotSet(); });
  EXPECT_EQ(thrown.code, result);
  const size_t failed = thrown.text.find(L" failed (" + Hex(result) + L")");
  EXPECT_NE(failed, std::wstring::npos) << thrown.text;
  EXPECT_NE(failed, 0u) << thrown.text;
  EXPECT_FALSE(provider_->IsSnapshotSetInProgress());
  std::exchange(provider_, nullptr)->Destroy(1);
  EXPECT_EQ(::GetModuleHandleW(L"vssapi.dll"), nullptr);
}

INSTANTIATE_TEST_SUITE_P(BothLibraries, RealProvider, ::testing::Values(L"vsnp_2003.dll", L"vsnp_xp.dll"));

// The exception keeps its text in a fixed buffer, so that a plain delete through
// IVssException* frees all of it.
TEST(ProviderException, CutsALongTextToItsBuffer) {
  const std::wstring text(3 * Providers::ProviderException::kTextCapacity, L'x');
  Providers::ProviderException exception(text.c_str(), 1);
  EXPECT_EQ(exception.GetText(), text.substr(0, Providers::ProviderException::kTextCapacity - 1));
}

} // namespace
