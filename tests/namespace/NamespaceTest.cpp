// The virtual namespace as a host browses it: the root of drives, folders and
// single items, free space, and the network locations that browsing connects
// and drops.
#include <algorithm>
#include <tuple>

#include "tests/support/PluginFixture.h"

namespace test {
namespace {

class Namespace : public PluginTest {};

TEST_F(Namespace, DriveRootsListAsFoldersAndTheRootListsDrivesButNotOpticalOnesThenNetworkDrivesNotAlreadyShown) {
  IBackupDataRead* reader = MakeReader();
  FolderList list, drive;
  ASSERT_EQ(reader->ListFolder(L"C$", drive), 0u);
  const std::vector<std::wstring> names = EntryNames(drive);
  EXPECT_NE(std::find(names.begin(), names.end(), L"windows"), names.end());

  const std::wstring free(1, UnusedDriveLetter());
  RegistryOverride::AddNetworkDrive(free, L"\\\\server\\a");
  RegistryOverride::AddNetworkDrive(L"c", L"\\\\server\\c"); // C: is a drive already
  ASSERT_EQ(reader->ListFolder(L"", list), 0u);

  // ./diskway test maps R: as a CD-ROM drive, which a backup never browses.
  std::vector<std::wstring> expected;
  for (wchar_t letter = L'A'; letter <= L'Z'; ++letter) {
    const wchar_t root[] = {letter, L':', L'\\', 0};
    const UINT type = ::GetDriveTypeW(root);
    if (type != DRIVE_NO_ROOT_DIR && type != DRIVE_UNKNOWN && type != DRIVE_CDROM) expected.push_back({letter, L'$'});
  }
  ASSERT_EQ(expected[0], L"C$");
  expected.push_back(free + L"$");
  EXPECT_EQ(EntryNames(list), expected);
  for (const FolderEntry& entry : list) EXPECT_EQ(entry.info.attributes, uint32_t{FILE_ATTRIBUTE_DIRECTORY});
  EXPECT_TRUE(log.messages.empty());
}

TEST_F(Namespace, LocationsAreReconnectedForAMissingFolderAndDroppedAfterListingsOnceTheRootWasBrowsed) {
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
  ASSERT_EQ(reader->ListFolder(ToVirtual(temp.path()), list), 0u);
  EXPECT_TRUE(NetworkCalls().empty()) << "kept while the root is not browsed";

  // The root listing drops the connections after it, and makes them first
  // when they are down; from then on every listing that connected drops them.
  reader->ListFolder(L"", list);
  reader->ListFolder(L"", list);
  EXPECT_EQ(NetworkCalls(), (CallList{cancelDrive, cancelShare, add, cancelDrive}));
  ResetNetworkCalls();
  reader->ListFolder(temp.Virtual(L"missing"), list);
  reader->ListFolder(ToVirtual(temp.path()), list);
  EXPECT_EQ(NetworkCalls(), (CallList{cancelShare, add, cancelDrive}));
  EXPECT_TRUE(log.messages.empty());
}

TEST_F(Namespace, QueryFileInfoAnswersThroughNetworkDrivesAndForDriveRootsButNotForMissingItems) {
  MakeFolder(temp / L"remote\\docs");
  WriteFileBytes(temp / L"remote\\docs\\f.txt", "hello");
  RegistryOverride::AddNetworkDrive(L"n", temp / L"remote"); // a key in lower case names drive N: too
  IBackupDataRead* reader = MakeReader();
  // A persistent network drive is its remote path; a drive root answers as a folder.
  FileInfo info;
  ASSERT_EQ(reader->QueryFileInfo(L"N$\\docs\\f.txt", info), 0u);
  EXPECT_EQ(std::make_tuple(info.size, info.attributes & FILE_ATTRIBUTE_DIRECTORY), std::make_tuple(uint64_t{5}, 0u));
  for (const wchar_t* folder : {L"C$", L"N$", L"N$\\docs"}) {
    FileInfo folderInfo;
    EXPECT_EQ(reader->QueryFileInfo(folder, folderInfo), 0u) << folder;
    EXPECT_EQ(folderInfo.attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN), 0x10u) << folder;
  }
  EXPECT_EQ(reader->QueryFileInfo(temp.Virtual(L"nope"), info), 3u);
  EXPECT_EQ(reader->QueryFileInfo(std::wstring(1, UnusedDriveLetter()) + L"$", info), 3u);
  EXPECT_TRUE(log.messages.empty());
}

TEST_F(Namespace, FreeSpaceIsTheSystemsFiguresAndFailsForAnUnknownDriveOrTheRoot) {
  IBackupDataRead* reader = MakeReader();
  uint64_t total = 0, free = 0;
  ASSERT_EQ(reader->GetFreeSpace(ToVirtual(temp.path()), total, free), 0u);
  DWORD sectors = 0, bytes = 0, freeClusters = 0, totalClusters = 0;
  ASSERT_TRUE(::GetDiskFreeSpaceW(L"\\\\?\\C:\\", &sectors, &bytes, &freeClusters, &totalClusters));
  const uint64_t cluster = uint64_t{sectors} * bytes;
  EXPECT_EQ(total, uint64_t{totalClusters} * cluster);
  // Free space moves with everything else on the machine; a megabyte of slack.
  EXPECT_NEAR(static_cast<double>(free), static_cast<double>(uint64_t{freeClusters} * cluster), 1 << 20);
  EXPECT_EQ(reader->GetFreeSpace(std::wstring(1, UnusedDriveLetter()) + L"$\\x", total, free), 1u);
  EXPECT_EQ(reader->GetFreeSpace(L"", total, free), 1u);
}

TEST_F(Namespace, SanitizeReplacesForbiddenCharactersInEveryComponent) {
  IBackupDataRead* reader = MakeReader();
  EXPECT_EQ(reader->SanitizePath(L"x\\y:z"), L"x\\y_z");
  EXPECT_EQ(reader->SanitizePath(L"C:\\a/b*\"<>|?"), L"C_\\a_b______");
}

} // namespace
} // namespace test
