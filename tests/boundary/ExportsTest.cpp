// The plug-in as a host meets it: loaded by name, three exports, objects that
// release themselves.
#include <cstring>

#include "tests/support/PluginFixture.h"
#include "vmlib/ScopedHandle.h"

namespace test {
namespace {

TEST(Exports, ResolveByPlainNames) {
  const PluginLibrary& library = PluginLibrary::Get();
  EXPECT_NE(library.getPluginInfo, nullptr);
  EXPECT_NE(library.getBackupDataRead, nullptr);
  EXPECT_NE(library.getBackupDataWrite, nullptr);
}

TEST(PluginInfoObject, AnswersItsConstants) {
  InfoObject info(PluginLibrary::Get().getPluginInfo());
  ASSERT_NE(info, nullptr);
  EXPECT_STREQ(info->GetName(), L"Computer");
  EXPECT_STREQ(info->GetVersion(), L"1.0");
  EXPECT_EQ(info->GetCapabilities(), 3);
  EXPECT_EQ(info->GetInfoValue(), 0);
  EXPECT_TRUE(info->QueryFlag7());
  EXPECT_TRUE(info->QueryFlag8());
  EXPECT_FALSE(info->QueryFlag9());
  const PluginInfoBlock block = info->GetInfoBlock();
  const unsigned char zeros[sizeof(block)] = {};
  EXPECT_EQ(std::memcmp(&block, zeros, sizeof(block)), 0);
}

TEST(PluginInfoObject, EachCallGivesANewObjectWithTheSameStringPointers) {
  InfoObject first(PluginLibrary::Get().getPluginInfo());
  InfoObject second(PluginLibrary::Get().getPluginInfo());
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(first.get(), second.get());
  EXPECT_EQ(first->GetName(), second->GetName());
  EXPECT_EQ(first->GetVersion(), second->GetVersion());
  EXPECT_EQ(first->GetName(), first->GetName());
}

class BoundaryTest : public PluginTest {};

TEST_F(BoundaryTest, WriteInstanceUsedAsReadInstanceListsLikeAReader) {
  MakeFolder(temp / L"sub");
  WriteFileBytes(temp / L"file.txt", "abc");
  IBackupDataRead* reader = MakeReader();
  IBackupDataRead* writerAsReader = MakeWriter();
  ASSERT_NE(reader, nullptr);
  ASSERT_NE(writerAsReader, nullptr);

  FolderList fromReader, fromWriter;
  EXPECT_EQ(reader->ListFolder(temp.virtualPath(), fromReader), 0u);
  EXPECT_EQ(writerAsReader->ListFolder(temp.virtualPath(), fromWriter), 0u);
  ASSERT_EQ(fromReader.size(), fromWriter.size());
  auto r = fromReader.begin();
  for (auto w = fromWriter.begin(); w != fromWriter.end(); ++w, ++r) {
    EXPECT_EQ(w->name, r->name);
    EXPECT_EQ(w->info.size, r->info.size);
    EXPECT_EQ(w->info.attributes, r->info.attributes);
  }

  uint32_t id = 99;
  ASSERT_EQ(writerAsReader->Open(temp.Virtual(L"file.txt"), OpenRead, id), 0u);
  char buffer[8] = {};
  uint32_t size = sizeof(buffer);
  EXPECT_EQ(writerAsReader->Read(buffer, size, id), 0u);
  EXPECT_EQ(std::string(buffer, size), "abc");
  EXPECT_EQ(writerAsReader->Close(id), 0u);
}

TEST_F(BoundaryTest, ReservedEntriesDoNothing) {
  IBackupDataWrite* writer = MakeWriter();
  ASSERT_NE(writer, nullptr);
  EXPECT_EQ(writer->Reserved6(), 0u);
  EXPECT_EQ(writer->Reserved7(), 0u);
  writer->Reserved8();
  EXPECT_TRUE(log.messages.empty());
}

// A reader that overrides neither default still answers with the interface's.
class MinimalReader : public IBackupDataRead {
public:
  uint32_t Open(const std::wstring&, uint32_t, uint32_t&) override { return 1; }
  uint32_t Read(void*, uint32_t&, const uint32_t&) override { return 1; }
  uint32_t Seek(uint32_t&, int64_t&) override { return 1; }
  uint32_t Close(uint32_t&) override { return 0; }
  uint32_t QueryFileInfo(const std::wstring&, FileInfo&) override { return 3; }
  uint32_t ListFolder(const std::wstring&, FolderList&) override { return 3; }
  void Reserved8() override {}
};

TEST(InterfaceDefaults, FreeSpaceIsNotSupportedAndSanitizeCopies) {
  MinimalReader reader;
  uint64_t total = 11, free = 22;
  EXPECT_EQ(reader.GetFreeSpace(L"C$", total, free), 6u);
  EXPECT_EQ(total, 11u);
  EXPECT_EQ(free, 22u);
  EXPECT_EQ(reader.SanitizePath(L"C:\\a?b"), L"C:\\a?b");
}

} // namespace
} // namespace test
