// The virtual root: usable drives, persistent network drives, and free space.
#include <algorithm>

#include "tests/support/PluginFixture.h"

namespace test {
namespace {

// Drives Windows reports that the root must show, in Windows' order.
std::vector<std::wstring> ListableDrives() {
  std::vector<std::wstring> names;
  wchar_t drives[256] = {};
  ::GetLogicalDriveStringsW(255, drives);
  for (const wchar_t* drive = drives; *drive; drive += wcslen(drive) + 1) {
    const UINT type = ::GetDriveTypeW(drive);
    if (type != DRIVE_UNKNOWN && type != DRIVE_NO_ROOT_DIR && type != DRIVE_CDROM) {
      names.push_back(std::wstring(1, drive[0]) + L"$");
    }
  }
  return names;
}

class RootListing : public PluginTest {
protected:
  std::vector<std::wstring> RootNames() {
    FolderList list;
    EXPECT_EQ(MakeReader()->ListFolder(L"", list), 0u);
    return EntryNames(list);
  }
};

TEST_F(RootListing, ListsDrivesThenNetworkDrivesNotAlreadyShownAsBareFoldersAfterExistingEntries) {
  const std::wstring free(1, UnusedDriveLetter());
  RegistryOverride::AddNetworkDrive(free, L"\\\\server\\a");
  RegistryOverride::AddNetworkDrive(L"c", L"\\\\server\\c"); // C: is a drive already
  RegistryOverride::AddNetworkDrive(L"K", L"\\\\server\\k"); // shown by the entry already in the list
  RegistryOverride::AddNetworkDrive(L"y", L"\\\\server\\y"); // kept in the case stored
  FolderList list = {FolderEntry(L"kitchen", FileInfo())};
  ASSERT_EQ(MakeReader()->ListFolder(L"", list), 0u);

  std::vector<std::wstring> expected = ListableDrives();
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(expected.front(), L"C$");
  // Registry enumeration order: Wine returns subkeys sorted by name.
  expected.insert(expected.begin(), L"kitchen");
  expected.insert(expected.end(), {free + L"$", L"y$"});
  EXPECT_EQ(EntryNames(list), expected);
  for (auto entry = std::next(list.begin()); entry != list.end(); ++entry) {
    EXPECT_EQ(entry->info.attributes, static_cast<uint32_t>(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(entry->info.validFields, 0u);
    EXPECT_EQ(entry->info.lastWriteTime, 0);
    EXPECT_EQ(entry->info.size, 0u);
    EXPECT_TRUE(entry->info.aclRights.empty());
  }
}

TEST_F(RootListing, OpticalDrivesAreLeftOut) {
  wchar_t optical = 0;
  for (wchar_t letter = L'A'; letter <= L'Z' && optical == 0; ++letter) {
    const wchar_t root[] = {letter, L':', L'\\', 0};
    if (::GetDriveTypeW(root) == DRIVE_CDROM) optical = letter;
  }
  if (optical == 0) GTEST_SKIP() << "no drive of type CD-ROM; ./diskway test maps R: as one";
  const std::vector<std::wstring> names = RootNames();
  EXPECT_EQ(std::count(names.begin(), names.end(), std::wstring(1, optical) + L"$"), 0);
  EXPECT_EQ(names.front(), L"C$");
}

TEST_F(RootListing, NetworkDriveOnAFolderIsBrowsedAndRead) {
  MakeFolder(temp / L"exported\\inner");
  WriteFileBytes(temp / L"exported\\doc.txt", "shared");
  const std::wstring drive = std::wstring(1, UnusedDriveLetter()) + L"$";
  RegistryOverride::AddNetworkDrive(drive.substr(0, 1), temp / L"exported");
  const std::vector<std::wstring> names = RootNames();
  ASSERT_EQ(std::count(names.begin(), names.end(), drive), 1);

  IBackupDataRead* reader = MakeReader();
  FolderList inside;
  ASSERT_EQ(reader->ListFolder(drive, inside), 0u);
  EXPECT_EQ(EntryNames(inside), (std::vector<std::wstring>{L"inner", L"doc.txt"}));
  uint32_t id = 0;
  ASSERT_EQ(reader->Open(drive + L"\\doc.txt", OpenRead, id), 0u);
  EXPECT_EQ(ReadAll(*reader, id), "shared");
}

TEST_F(RootListing, RefreshesLocationsBeforeAndDisconnectsAfter) {
  IBackupDataRead* reader = MakeReader();
  FolderList list, again;
  reader->ListFolder(L"", list);
  EXPECT_TRUE(NetworkCalls().empty()) << "no location file, no connection";

  // A location added while the instance lives is found by the next root listing.
  AddLocationFile(L"new.loc", L"V:", L"\\\\srv\\v");
  reader->ListFolder(L"", again);
  EXPECT_EQ(NetworkCalls(), (CallList{CancelCall(L"\\\\srv\\v"), AddCall(L"V:", L"\\\\srv\\v"), CancelCall(L"V:")}));
  EXPECT_EQ(EntryNames(again), EntryNames(list));
}

TEST_F(RootListing, FreeSpaceIsTheSystemsFiguresOrFailsWithOutputsUntouchedAndLeavesErrorModeZero) {
  IBackupDataRead* reader = MakeReader();
  uint64_t total = 0, free = 0;
  ASSERT_EQ(reader->GetFreeSpace(temp.virtualPath(), total, free), 0u);
  DWORD sectors = 0, bytes = 0, freeClusters = 0, totalClusters = 0;
  ASSERT_TRUE(::GetDiskFreeSpaceW(L"\\\\?\\C:\\", &sectors, &bytes, &freeClusters, &totalClusters));
  const uint64_t cluster = uint64_t{sectors} * bytes;
  EXPECT_GT(total, 0u);
  EXPECT_EQ(total, uint64_t{totalClusters} * cluster);
  // Free space moves with everything else on the machine; a megabyte of slack.
  EXPECT_NEAR(static_cast<double>(free), static_cast<double>(uint64_t{freeClusters} * cluster), 1 << 20);
  EXPECT_EQ(::GetErrorMode(), 0u);

  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  total = 7;
  free = 9;
  EXPECT_EQ(reader->GetFreeSpace(std::wstring(1, UnusedDriveLetter()) + L"$\\x", total, free), 1u);
  EXPECT_EQ(::GetErrorMode(), 0u) << "left at 0, not restored";
  EXPECT_EQ(reader->GetFreeSpace(L"", total, free), 1u);
  EXPECT_EQ(std::make_pair(total, free), std::make_pair(uint64_t{7}, uint64_t{9}));
  EXPECT_TRUE(log.messages.empty());
}

} // namespace
} // namespace test
