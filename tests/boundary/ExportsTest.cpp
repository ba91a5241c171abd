// The plug-in as a host meets it: loaded by name, three exports, objects that
// release themselves. Write instances serve the read calls in every other
// suite, as hosts use them.
#include <cstring>

#include "tests/support/PluginFixture.h"

namespace test {
namespace {

TEST(Exports, ResolveByPlainNamesAndGiveANewInfoObjectPerCallWithTheSameConstants) {
  const PluginLibrary& library = PluginLibrary::Get();
  ASSERT_TRUE(library.getPluginInfo && library.getBackupDataRead && library.getBackupDataWrite);
  const auto release = [](IPluginInfo* info) { info->Release(); };
  const std::unique_ptr<IPluginInfo, decltype(release)> info(library.getPluginInfo(), release),
      other(library.getPluginInfo(), release);
  ASSERT_TRUE(info && other);
  EXPECT_NE(info.get(), other.get());
  EXPECT_STREQ(info->GetName(), L"Computer");
  EXPECT_STREQ(info->GetVersion(), L"1.0");
  EXPECT_EQ(info->GetName(), other->GetName()) << "the same string pointers";
  EXPECT_EQ(info->GetVersion(), other->GetVersion());
  EXPECT_EQ(std::make_pair(info->GetCapabilities(), info->GetInfoValue()), std::make_pair(3, intptr_t{0}));
  EXPECT_EQ((std::vector<bool>{info->QueryFlag7(), info->QueryFlag8(), info->QueryFlag9()}),
            (std::vector<bool>{true, true, false}));
  const PluginInfoBlock block = info->GetInfoBlock();
  const unsigned char zeros[sizeof(block)] = {};
  EXPECT_EQ(std::memcmp(&block, zeros, sizeof(block)), 0);
}

} // namespace
} // namespace test
