// Listing real folders and describing single items.
#include <algorithm>
#include <tuple>

#include "tests/support/PluginFixture.h"
#include "vmlib/VMLib.h"

namespace test {
namespace {

class FolderListing : public PluginTest {};

TEST_F(FolderListing, FoldersFirstThenFilesInEnumerationOrderAfterExistingEntriesWithTheirSearchData) {
  WriteFileBytes(temp / L"a", "1");
  MakeFolder(temp / L"x");
  WriteFileBytes(temp / L"b", std::string(70000, 'z'));
  MakeFolder(temp / L"y\\empty");
  WriteFileBytes(temp / L".git", "");
  ::SetFileAttributesW((temp / L"b").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);

  IBackupDataRead* reader = MakeReader();
  FolderList list = {FolderEntry(L"already-there", FileInfo())}, empty, root;
  ASSERT_EQ(reader->ListFolder(temp.virtualPath(), list), 0u);
  std::vector<WIN32_FIND_DATAW> raw = FolderItems(temp.path());
  std::stable_partition(raw.begin(), raw.end(), [](const WIN32_FIND_DATAW& item) {
    return (item.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  });
  ASSERT_TRUE(raw.size() == 5 && list.size() == 6);
  EXPECT_EQ(list.front().name, L"already-there");
  auto entry = std::next(list.begin());
  for (const WIN32_FIND_DATAW& item : raw) {
    int64_t written = 0;
    VMLib::time::FileTimeToTime(item.ftLastWriteTime, written);
    EXPECT_EQ(std::tie(entry->name, entry->info.attributes, entry->info.size, entry->info.lastWriteTime),
              std::make_tuple(std::wstring(item.cFileName), uint32_t{item.dwFileAttributes},
                              (uint64_t{item.nFileSizeHigh} << 32) | item.nFileSizeLow, written));
    EXPECT_EQ(entry->info.validFields, 0xFu);
    EXPECT_TRUE(entry->info.aclRights.empty());
    ++entry;
  }
  EXPECT_EQ(reader->ListFolder(temp.Virtual(L"y\\empty"), empty), 0u);
  EXPECT_TRUE(empty.empty());
  // A drive root lists like a folder.
  EXPECT_EQ(reader->ListFolder(L"C$", root), 0u);
  const std::vector<std::wstring> names = EntryNames(root);
  EXPECT_NE(std::find(names.begin(), names.end(), L"windows"), names.end());
  EXPECT_TRUE(log.messages.empty());
}

TEST_F(FolderListing, FileOrMissingPathIsNotFoundAfterOneReconnectAndListingsDisconnectOnceTheRootWasBrowsed) {
  AddLocationFile(L"share.loc", L"S:", L"\\\\srv\\s");
  WriteFileBytes(temp / L"plain.txt", "x");
  IBackupDataRead* reader = MakeReader();
  FolderList list = {FolderEntry(L"kept", FileInfo())};
  EXPECT_EQ(reader->ListFolder(temp.Virtual(L"plain.txt"), list), 3u);
  EXPECT_EQ(reader->ListFolder(temp.Virtual(L"missing"), list), 3u);
  EXPECT_EQ(EntryNames(list), std::vector<std::wstring>{L"kept"});
  // Connected at construction, then each time dropped and brought up again.
  const std::wstring cancelShare = CancelCall(L"\\\\srv\\s"), add = AddCall(L"S:", L"\\\\srv\\s"),
                     cancelDrive = CancelCall(L"S:");
  EXPECT_EQ(NetworkCalls(), (CallList{cancelShare, add, cancelDrive, cancelShare, add, cancelDrive, cancelShare, add}));
  ResetNetworkCalls();
  ASSERT_EQ(reader->ListFolder(temp.virtualPath(), list), 0u);
  EXPECT_TRUE(NetworkCalls().empty()) << "kept while the root is not browsed";

  reader->ListFolder(L"", list);
  ResetNetworkCalls();
  reader->ListFolder(temp.Virtual(L"missing"), list);
  reader->ListFolder(temp.virtualPath(), list);
  EXPECT_EQ(NetworkCalls(), (CallList{cancelShare, add, cancelDrive}));
  EXPECT_TRUE(log.messages.empty());
}

TEST_F(FolderListing, QueryFileInfoFillsWithoutResettingAndAnswersForDrivesButNotForMissingItems) {
  WriteFileBytes(temp / L"f.txt", "hello");
  MakeFolder(temp / L"remote\\docs");
  RegistryOverride::AddNetworkDrive(L"N", temp / L"remote");
  IBackupDataRead* reader = MakeReader();
  FileInfo info;
  info.aclRights = L"host text";
  info.hostText = L"untouched";
  info.validFields = 0x30;
  ASSERT_EQ(reader->QueryFileInfo(temp.Virtual(L"f.txt"), info), 0u);
  EXPECT_EQ(info.size, 5u);
  EXPECT_EQ(info.validFields, 0x3Fu);
  EXPECT_EQ(info.aclRights, L"host text");
  EXPECT_EQ(info.hostText, L"untouched");
  EXPECT_FALSE(info.attributes & FILE_ATTRIBUTE_DIRECTORY);

  for (const wchar_t* folder : {L"C$", L"N$", L"N$\\docs"}) {
    FileInfo folderInfo;
    EXPECT_EQ(reader->QueryFileInfo(folder, folderInfo), 0u) << folder;
    EXPECT_EQ(folderInfo.attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN), 0x10u) << folder;
  }
  EXPECT_EQ(reader->QueryFileInfo(temp.Virtual(L"nope"), info), 3u);
  EXPECT_EQ(reader->QueryFileInfo(std::wstring(1, UnusedDriveLetter()) + L"$", info), 3u);
  EXPECT_EQ(info.size, 5u) << "untouched";
  EXPECT_TRUE(log.messages.empty());
}

} // namespace
} // namespace test
