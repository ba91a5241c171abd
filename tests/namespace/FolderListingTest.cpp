// Listing real folders and describing single items.
#include <algorithm>

#include "tests/support/PluginFixture.h"
#include "vmlib/ScopedHandle.h"
#include "vmlib/VMLib.h"

namespace test {
namespace {

// What Windows enumerates for the folder, in its order, "." and ".." left out.
std::vector<WIN32_FIND_DATAW> RawListing(const std::wstring& folder) {
  std::vector<WIN32_FIND_DATAW> items;
  WIN32_FIND_DATAW data;
  VMLib::UniqueFind search(::FindFirstFileW((folder + L"\\*").c_str(), &data));
  if (!search) return items;
  do {
    const std::wstring name = data.cFileName;
    if (name != L"." && name != L"..") items.push_back(data);
  } while (::FindNextFileW(search.get(), &data));
  return items;
}

class FolderListing : public PluginTest {
protected:
  void AddLocation() {
    MakeFolder(dataFolder);
    WriteFileBytes(dataFolder + L"\\share.loc", "");
    host.AddLocation(L"share.loc", L"u", L"p", L"S:", L"\\\\srv\\s");
  }
};

TEST_F(FolderListing, FoldersComeFirstThenFilesEachInEnumerationOrder) {
  WriteFileBytes(temp / L"a", "1");
  MakeFolder(temp / L"x");
  WriteFileBytes(temp / L"b", "22");
  MakeFolder(temp / L"y");
  WriteFileBytes(temp / L".git", "");

  std::vector<std::wstring> expected;
  const std::vector<WIN32_FIND_DATAW> raw = RawListing(temp.path());
  for (const auto& item : raw) if (item.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) expected.push_back(item.cFileName);
  for (const auto& item : raw) if (!(item.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) expected.push_back(item.cFileName);

  FolderList list;
  list.emplace_back(L"already-there", FileInfo());
  IBackupDataRead* reader = MakeReader();
  ASSERT_EQ(reader->ListFolder(temp.virtualPath(), list), 0u);
  expected.insert(expected.begin(), L"already-there");
  EXPECT_EQ(EntryNames(list), expected);
  EXPECT_EQ(list.size(), 6u);
  EXPECT_TRUE(log.messages.empty());
}

TEST_F(FolderListing, EntriesCarryTheSearchDataWithAllFourValidBits) {
  WriteFileBytes(temp / L"file.bin", std::string(70000, 'z'));
  MakeFolder(temp / L"folder");
  ::SetFileAttributesW((temp / L"file.bin").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);

  FolderList list;
  ASSERT_EQ(MakeReader()->ListFolder(temp.virtualPath(), list), 0u);
  ASSERT_EQ(list.size(), 2u);
  for (const WIN32_FIND_DATAW& raw : RawListing(temp.path())) {
    const auto entry = std::find_if(list.begin(), list.end(), [&](const FolderEntry& e) { return e.name == raw.cFileName; });
    ASSERT_NE(entry, list.end());
    EXPECT_EQ(entry->info.attributes, raw.dwFileAttributes);
    EXPECT_EQ(entry->info.size, (static_cast<uint64_t>(raw.nFileSizeHigh) << 32) | raw.nFileSizeLow);
    int64_t written = 0;
    VMLib::time::FileTimeToTime(raw.ftLastWriteTime, written);
    EXPECT_EQ(entry->info.lastWriteTime, written);
    EXPECT_EQ(entry->info.validFields, 0xFu);
    EXPECT_TRUE(entry->info.aclRights.empty());
  }
  EXPECT_EQ(list.back().info.size, 70000u);
}

TEST_F(FolderListing, EmptyFolderListsNothing) {
  MakeFolder(temp / L"empty");
  FolderList list;
  EXPECT_EQ(MakeReader()->ListFolder(temp.Virtual(L"empty"), list), 0u);
  EXPECT_TRUE(list.empty());
}

TEST_F(FolderListing, DriveRootListsLikeAFolder) {
  FolderList list;
  EXPECT_EQ(MakeReader()->ListFolder(L"C$", list), 0u);
  const std::vector<std::wstring> names = EntryNames(list);
  EXPECT_NE(std::find(names.begin(), names.end(), L"windows"), names.end());
}

TEST_F(FolderListing, FileOrMissingPathIsNotFoundAfterOneReconnect) {
  AddLocation();
  WriteFileBytes(temp / L"plain.txt", "x");
  IBackupDataRead* reader = MakeReader();
  for (const std::wstring& path : {temp.Virtual(L"plain.txt"), temp.Virtual(L"missing")}) {
    ResetNetworkCalls();
    FolderList list;
    list.emplace_back(L"kept", FileInfo());
    EXPECT_EQ(reader->ListFolder(path, list), 3u);
    EXPECT_EQ(EntryNames(list), std::vector<std::wstring>{L"kept"});
    // Connected since construction: dropped, then brought up again.
    EXPECT_EQ(NetworkCalls(), (std::vector<std::wstring>{
                                  L"cancel S: flags=0 force=1", L"cancel \\\\srv\\s flags=0 force=1",
                                  L"add local=S: remote=\\\\srv\\s type=1 scope=0 display=0 usage=0 comment=(null) "
                                  L"provider=(null) user=u password=p flags=0"}));
  }
  EXPECT_TRUE(log.messages.empty());
}

TEST_F(FolderListing, ListingsDisconnectOnceTheRootHasBeenBrowsed) {
  AddLocation();
  IBackupDataRead* reader = MakeReader();
  FolderList list;
  reader->ListFolder(temp.virtualPath(), list);
  EXPECT_EQ(NetworkCalls().size(), 2u) << "connected at construction, kept while the root is not browsed";

  reader->ListFolder(L"", list);
  ResetNetworkCalls();
  reader->ListFolder(temp.Virtual(L"missing"), list);
  reader->ListFolder(temp.virtualPath(), list);
  const std::vector<std::wstring> calls = NetworkCalls();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[2], L"cancel S: flags=0 force=1");
}

TEST_F(FolderListing, AclTextOnlyWithCopyAclOn) {
  WriteFileBytes(temp / L"f.txt", "x");
  FolderList without;
  ASSERT_EQ(MakeReader()->ListFolder(temp.virtualPath(), without), 0u);
  ASSERT_EQ(without.size(), 1u);
  EXPECT_TRUE(without.front().info.aclRights.empty());

  host.parameters[L"CopyACL"] = L"True";
  FolderList with;
  ASSERT_EQ(MakeReader()->ListFolder(temp.virtualPath(), with), 0u);
  ASSERT_EQ(with.size(), 1u);
  EXPECT_NE(with.front().info.aclRights.find(L"D:"), std::wstring::npos);
  EXPECT_NE(with.front().info.aclRights.find(L"O:"), std::wstring::npos);

  // Where the SACL cannot be read (Wine), the item is still listed with the
  // other parts, and one warning names it.
  const std::wstring itemPath = L"\\\\?\\" + (temp / L"f.txt");
  std::wstring probe;
  const uint32_t saclStatus = VMLib::filesystem::GetAclRights(itemPath, probe, true, true, true, true);
  std::vector<std::wstring> expected;
  if (saclStatus != 0) expected.push_back(WithErrorCode(L"Can't get file ACL rights for '" + itemPath + L"'", saclStatus));
  EXPECT_EQ(log.Texts(), expected);
}

TEST_F(FolderListing, QueryFileInfoFillsWithoutResettingTheRecord) {
  WriteFileBytes(temp / L"f.txt", "hello");
  FileInfo info;
  info.aclRights = L"host text";
  info.hostText = L"untouched";
  info.validFields = 0x30;
  ASSERT_EQ(MakeReader()->QueryFileInfo(temp.Virtual(L"f.txt"), info), 0u);
  EXPECT_EQ(info.size, 5u);
  EXPECT_EQ(info.validFields, 0x3Fu);
  EXPECT_EQ(info.aclRights, L"host text");
  EXPECT_EQ(info.hostText, L"untouched");
  EXPECT_FALSE(info.attributes & FILE_ATTRIBUTE_DIRECTORY);
}

TEST_F(FolderListing, QueryFileInfoOfMissingItemsAndDrives) {
  IBackupDataRead* reader = MakeReader();
  FileInfo info;
  EXPECT_EQ(reader->QueryFileInfo(temp.Virtual(L"nope"), info), 3u);
  EXPECT_EQ(reader->QueryFileInfo(L"C$", info), 0u);
  EXPECT_TRUE(info.attributes & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_FALSE(info.attributes & FILE_ATTRIBUTE_HIDDEN);

  const DWORD drives = ::GetLogicalDrives();
  wchar_t unused = 0;
  for (wchar_t letter = L'Q'; letter >= L'D' && unused == 0; --letter) {
    if ((drives & (1u << (letter - L'A'))) == 0) unused = letter;
  }
  ASSERT_NE(unused, 0);
  FileInfo untouched;
  untouched.size = 42;
  EXPECT_EQ(reader->QueryFileInfo(std::wstring(1, unused) + L"$", untouched), 3u);
  EXPECT_EQ(untouched.size, 42u);
  EXPECT_TRUE(log.messages.empty());
}

TEST_F(FolderListing, QueryFileInfoReachesANetworkDriveThroughItsRemotePath) {
  MakeFolder(temp / L"remote\\docs");
  RegistryOverride::AddNetworkDrive(L"N", temp / L"remote");
  FileInfo info;
  IBackupDataRead* reader = MakeReader();
  EXPECT_EQ(reader->QueryFileInfo(L"N$\\docs", info), 0u);
  EXPECT_TRUE(info.attributes & FILE_ATTRIBUTE_DIRECTORY);
  FileInfo drive;
  EXPECT_EQ(reader->QueryFileInfo(L"N$", drive), 0u);
  EXPECT_TRUE(drive.attributes & FILE_ATTRIBUTE_DIRECTORY);
}

} // namespace
} // namespace test
