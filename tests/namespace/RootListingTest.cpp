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

wchar_t UnusedDriveLetter() {
  const DWORD drives = ::GetLogicalDrives();
  for (wchar_t letter = L'P'; letter >= L'D'; --letter) {
    if ((drives & (1u << (letter - L'A'))) == 0) return letter;
  }
  return 0;
}

class RootListing : public PluginTest {};

TEST_F(RootListing, ListsDrivesThenNetworkDrivesNotAlreadyShown) {
  const wchar_t free = UnusedDriveLetter();
  ASSERT_NE(free, 0);
  RegistryOverride::AddNetworkDrive(std::wstring(1, free), L"\\\\server\\a");
  RegistryOverride::AddNetworkDrive(L"c", L"\\\\server\\c");   // C: is a drive already
  RegistryOverride::AddNetworkDrive(L"y", L"\\\\server\\y");   // kept in the case stored
  FolderList list;
  ASSERT_EQ(MakeReader()->ListFolder(L"", list), 0u);

  std::vector<std::wstring> expected = ListableDrives();
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(expected.front(), L"C$");
  // Registry enumeration order: Wine returns subkeys sorted by name.
  std::vector<std::wstring> network = {std::wstring(1, free) + L"$", L"y$"};
  expected.insert(expected.end(), network.begin(), network.end());
  EXPECT_EQ(EntryNames(list), expected);
  for (const FolderEntry& entry : list) {
    EXPECT_EQ(entry.info.attributes, static_cast<uint32_t>(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(entry.info.validFields, 0u);
    EXPECT_EQ(entry.info.lastWriteTime, 0);
    EXPECT_EQ(entry.info.size, 0u);
    EXPECT_TRUE(entry.info.aclRights.empty());
  }
}

TEST_F(RootListing, OpticalDrivesAreLeftOut) {
  wchar_t optical = 0;
  for (wchar_t letter = L'A'; letter <= L'Z' && optical == 0; ++letter) {
    const wchar_t root[] = {letter, L':', L'\\', 0};
    if (::GetDriveTypeW(root) == DRIVE_CDROM) optical = letter;
  }
  if (optical == 0) GTEST_SKIP() << "no drive of type CD-ROM; ./diskway test maps R: as one";
  FolderList list;
  ASSERT_EQ(MakeReader()->ListFolder(L"", list), 0u);
  const std::vector<std::wstring> names = EntryNames(list);
  EXPECT_EQ(std::find(names.begin(), names.end(), std::wstring(1, optical) + L"$"), names.end());
  EXPECT_NE(std::find(names.begin(), names.end(), L"C$"), names.end());
}

TEST_F(RootListing, EntriesAlreadyInTheListKeepANetworkDriveOut) {
  RegistryOverride::AddNetworkDrive(L"K", L"\\\\server\\k");
  FolderList list;
  list.emplace_back(L"kitchen", FileInfo());
  ASSERT_EQ(MakeReader()->ListFolder(L"", list), 0u);
  EXPECT_EQ(list.front().name, L"kitchen");
  const std::vector<std::wstring> names = EntryNames(list);
  EXPECT_EQ(std::find(names.begin(), names.end(), L"K$"), names.end());
}

TEST_F(RootListing, NetworkDriveOnAFolderIsBrowsedThroughItsName) {
  MakeFolder(temp / L"exported\\inner");
  WriteFileBytes(temp / L"exported\\doc.txt", "shared");
  const wchar_t free = UnusedDriveLetter();
  RegistryOverride::AddNetworkDrive(std::wstring(1, free), temp / L"exported");
  IBackupDataRead* reader = MakeReader();
  FolderList root;
  ASSERT_EQ(reader->ListFolder(L"", root), 0u);
  const std::wstring drive = std::wstring(1, free) + L"$";
  const std::vector<std::wstring> names = EntryNames(root);
  ASSERT_NE(std::find(names.begin(), names.end(), drive), names.end());

  FolderList inside;
  ASSERT_EQ(reader->ListFolder(drive, inside), 0u);
  EXPECT_EQ(EntryNames(inside), (std::vector<std::wstring>{L"inner", L"doc.txt"}));
  uint32_t id = 0;
  ASSERT_EQ(reader->Open(drive + L"\\doc.txt", OpenRead, id), 0u);
  char buffer[16];
  uint32_t size = sizeof(buffer);
  EXPECT_EQ(reader->Read(buffer, size, id), 0u);
  EXPECT_EQ(std::string(buffer, size), "shared");
  reader->Close(id);
}

TEST_F(RootListing, RefreshesLocationsBeforeAndDisconnectsAfter) {
  IBackupDataRead* reader = MakeReader();
  EXPECT_TRUE(NetworkCalls().empty()) << "no location yet";
  FolderList list;
  reader->ListFolder(L"", list);
  EXPECT_TRUE(NetworkCalls().empty()) << "no location file, no connection";

  // A location added while the instance lives is found by the next root listing.
  MakeFolder(dataFolder);
  WriteFileBytes(dataFolder + L"\\new.loc", "");
  host.AddLocation(L"new.loc", L"u", L"p", L"V:", L"\\\\srv\\v");
  FolderList again;
  reader->ListFolder(L"", again);
  const std::vector<std::wstring> calls = NetworkCalls();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0], L"cancel \\\\srv\\v flags=0 force=1");
  EXPECT_EQ(calls[1].rfind(L"add local=V: remote=\\\\srv\\v ", 0), 0u) << calls[1];
  EXPECT_EQ(calls[2], L"cancel V: flags=0 force=1");
  EXPECT_EQ(EntryNames(again), EntryNames(list));
}

TEST_F(RootListing, FreeSpaceMatchesTheSystemsFigures) {
  IBackupDataRead* reader = MakeReader();
  uint64_t total = 0, free = 0;
  ASSERT_EQ(reader->GetFreeSpace(temp.virtualPath(), total, free), 0u);
  DWORD sectors = 0, bytes = 0, freeClusters = 0, totalClusters = 0;
  ASSERT_TRUE(::GetDiskFreeSpaceW(L"\\\\?\\C:\\", &sectors, &bytes, &freeClusters, &totalClusters));
  const uint64_t cluster = uint64_t{sectors} * bytes;
  EXPECT_EQ(total, uint64_t{totalClusters} * cluster);
  // Free space moves with everything else on the machine; a megabyte of slack.
  EXPECT_NEAR(static_cast<double>(free), static_cast<double>(uint64_t{freeClusters} * cluster), 1 << 20);
  EXPECT_GT(total, 0u);
  EXPECT_EQ(::GetErrorMode(), 0u);
}

TEST_F(RootListing, FreeSpaceOfAMissingDriveFailsWithOutputsUntouched) {
  IBackupDataRead* reader = MakeReader();
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  uint64_t total = 7, free = 9;
  EXPECT_EQ(reader->GetFreeSpace(std::wstring(1, UnusedDriveLetter()) + L"$\\x", total, free), 1u);
  EXPECT_EQ(total, 7u);
  EXPECT_EQ(free, 9u);
  EXPECT_EQ(::GetErrorMode(), 0u) << "left at 0, not restored";
  EXPECT_EQ(reader->GetFreeSpace(L"", total, free), 1u);
  EXPECT_EQ(total, 7u);
  EXPECT_TRUE(log.messages.empty());
}

} // namespace
} // namespace test
