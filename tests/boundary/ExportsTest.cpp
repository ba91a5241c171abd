// The plug-in as a host meets it: loaded by name, three exports, objects that
// release themselves.
#include <cstring>
#include <tuple>

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

class BoundaryTest : public PluginTest {};

TEST_F(BoundaryTest, WriteInstanceUsedAsReadInstanceListsAndReadsLikeAReader) {
  MakeFolder(temp / L"sub");
  WriteFileBytes(temp / L"file.txt", "abc");
  FolderList fromReader, fromWriter;
  IBackupDataRead* writerAsReader = MakeWriter();
  EXPECT_EQ(MakeReader()->ListFolder(temp.virtualPath(), fromReader), 0u);
  EXPECT_EQ(writerAsReader->ListFolder(temp.virtualPath(), fromWriter), 0u);
  ASSERT_TRUE(fromReader.size() == 2 && fromWriter.size() == 2);
  for (auto r = fromReader.begin(), w = fromWriter.begin(); w != fromWriter.end(); ++w, ++r) {
    EXPECT_EQ(std::tie(w->name, w->info.size, w->info.attributes), std::tie(r->name, r->info.size, r->info.attributes));
  }
  uint32_t id = 99;
  ASSERT_EQ(writerAsReader->Open(temp.Virtual(L"file.txt"), OpenRead, id), 0u);
  EXPECT_EQ(ReadAll(*writerAsReader, id), "abc");
}

} // namespace
} // namespace test
