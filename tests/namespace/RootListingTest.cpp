// The virtual root: usable drives, persistent network drives, and free space.
#include <tuple>

#include "tests/support/PluginFixture.h"

namespace test {
namespace {

class RootListing : public PluginTest {};

TEST_F(RootListing, ListsDrivesButNotOpticalOnesThenNetworkDrivesNotAlreadyShownAfterExistingEntries) {
  const std::wstring free(1, UnusedDriveLetter());
  RegistryOverride::AddNetworkDrive(free, L"\\\\server\\a");
  RegistryOverride::AddNetworkDrive(L"c", L"\\\\server\\c"); // C: is a drive already
  RegistryOverride::AddNetworkDrive(L"K", L"\\\\server\\k"); // shown by the entry already in the list
  RegistryOverride::AddNetworkDrive(L"y", L"\\\\server\\y"); // kept in the case stored
  FolderList list = {FolderEntry(L"kitchen", FileInfo())};
  ASSERT_EQ(MakeReader()->ListFolder(L"", list), 0u);

  // ./diskway test maps R: as a CD-ROM drive, which a backup never browses.
  std::vector<std::wstring> expected{L"kitchen"};
  for (wchar_t letter = L'A'; letter <= L'Z'; ++letter) {
    const wchar_t root[] = {letter, L':', L'\\', 0};
    const UINT type = ::GetDriveTypeW(root);
    if (type != DRIVE_NO_ROOT_DIR && type != DRIVE_UNKNOWN && type != DRIVE_CDROM) expected.push_back({letter, L'$'});
  }
  ASSERT_EQ(expected[1], L"C$");
  // Registry enumeration order: Wine returns subkeys sorted by name.
  expected.insert(expected.end(), {free + L"$", L"y$"});
  EXPECT_EQ(EntryNames(list), expected);
  for (auto entry = std::next(list.begin()); entry != list.end(); ++entry) {
    const FileInfo& info = entry->info;
    EXPECT_EQ(std::make_tuple(info.attributes, info.validFields, info.lastWriteTime, info.size, info.aclRights),
              std::make_tuple(uint32_t{FILE_ATTRIBUTE_DIRECTORY}, 0u, int64_t{0}, uint64_t{0}, std::wstring()));
  }
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
