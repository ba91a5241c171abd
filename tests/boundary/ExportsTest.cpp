// The plug-in as a host meets it: loaded by name, three exports, objects that
// release themselves.
#include <cstring>

#include "tests/support/PluginFixture.h"

namespace test {
namespace {

struct ReleaseDeleter {
  void operator()(IPluginInfo* info) const { info->Release(); }
};
using InfoObject = std::unique_ptr<IPluginInfo, ReleaseDeleter>;

TEST(Exports, ResolveByPlainNamesAndGiveANewInfoObjectPerCallWithTheSameConstants) {
  const PluginLibrary& library = PluginLibrary::Get();
  ASSERT_NE(library.getPluginInfo, nullptr);
  EXPECT_NE(library.getBackupDataRead, nullptr);
  EXPECT_NE(library.getBackupDataWrite, nullptr);

  InfoObject info(library.getPluginInfo()), other(library.getPluginInfo());
  ASSERT_TRUE(info && other);
  EXPECT_NE(info.get(), other.get());
  EXPECT_STREQ(info->GetName(), L"Computer");
  EXPECT_STREQ(info->GetVersion(), L"1.0");
  EXPECT_EQ(info->GetName(), other->GetName()) << "the same string pointers";
  EXPECT_EQ(info->GetVersion(), other->GetVersion());
  EXPECT_EQ(info->GetCapabilities(), 3);
  EXPECT_EQ(info->GetInfoValue(), 0);
  EXPECT_TRUE(info->QueryFlag7());
  EXPECT_TRUE(info->QueryFlag8());
  EXPECT_FALSE(info->QueryFlag9());
  const PluginInfoBlock block = info->GetInfoBlock();
  const unsigned char zeros[sizeof(block)] = {};
  EXPECT_EQ(std::memcmp(&block, zeros, sizeof(block)), 0);
}

class BoundaryTest : public PluginTest {};

TEST_F(BoundaryTest, WriteInstanceUsedAsReadInstanceListsAndReadsLikeAReader) {
  MakeFolder(temp / L"sub");
  WriteFileBytes(temp / L"file.txt", "abc");
  IBackupDataRead* reader = MakeReader();
  IBackupDataRead* writerAsReader = MakeWriter();
  FolderList fromReader, fromWriter;
  EXPECT_EQ(reader->ListFolder(temp.virtualPath(), fromReader), 0u);
  EXPECT_EQ(writerAsReader->ListFolder(temp.virtualPath(), fromWriter), 0u);
  ASSERT_EQ(EntryNames(fromWriter), EntryNames(fromReader));
  EXPECT_EQ(fromWriter.size(), 2u);
  for (auto r = fromReader.begin(), w = fromWriter.begin(); w != fromWriter.end(); ++w, ++r) {
    EXPECT_EQ(w->info.size, r->info.size);
    EXPECT_EQ(w->info.attributes, r->info.attributes);
  }

  uint32_t id = 99;
  ASSERT_EQ(writerAsReader->Open(temp.Virtual(L"file.txt"), OpenRead, id), 0u);
  EXPECT_EQ(ReadAll(*writerAsReader, id), "abc");
}

} // namespace
} // namespace test
