// Shaping the storage tree: a folder that cannot be made, and removing items.
#include <algorithm>
#include <vector>

#include "tests/support/ImportReplacement.h"
#include "tests/support/PluginFixture.h"
#include "vmlib/ScopedHandle.h"

#include <winternl.h>

namespace test {
namespace {

class DirectoryOperations : public PluginTest {
protected:
  IBackupDataWrite* writer = MakeWriter();
};

TEST_F(DirectoryOperations, FileInTheWayFailsThatLevelAfterOneReconnect) {
  AddLocationFile(L"net.loc", L"G:", L"\\\\srv\\g");
  IBackupDataWrite* connected = MakeWriter();
  WriteFileBytes(temp / L"blocker", "file");
  ResetNetworkCalls();
  // The code the system gives for making a folder where a file stands.
  const uint32_t code = FailureCode(::CreateDirectoryW(temp.Real(L"blocker").c_str(), nullptr));

  EXPECT_EQ(connected->CreateFolder(temp.Virtual(L"blocker\\c\\d")), 1u);
  ExpectLogged({{Error, WithErrorCode(L"Can't create directory '" + temp.Real(L"blocker") + L"'", code)}});
  EXPECT_EQ(NetworkCalls(), (CallList{CancelCall(L"G:"), CancelCall(L"\\\\srv\\g"), AddCall(L"G:", L"\\\\srv\\g")}));
  EXPECT_FALSE(Exists(temp / L"blocker\\c"));
}

TEST_F(DirectoryOperations, RemoveFileClearsAttributesToleratesAMissingFileAndRefusesShortPathsAndFolders) {
  const std::wstring file = temp / L"guarded";
  WriteFileBytes(file, "x");
  ASSERT_TRUE(::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  EXPECT_EQ(writer->RemoveFile(temp.Virtual(L"guarded")), 0u);
  EXPECT_FALSE(Exists(file));
  EXPECT_EQ(writer->RemoveFile(temp.Virtual(L"guarded")), 0u);
  // A short path would resolve against the current drive or folder.
  for (const wchar_t* path : {L"", L"C"}) {
    EXPECT_EQ(writer->RemoveFolder(path), 1u);
    EXPECT_EQ(writer->RemoveFile(path), 1u);
  }
  EXPECT_TRUE(log.messages.empty());
  // A folder fails as a deletion of a file by name fails, and stays.
  MakeFolder(temp / L"folder");
  const uint32_t code = FailureCode(::DeleteFileW(temp.Real(L"folder").c_str()));
  EXPECT_EQ(writer->RemoveFile(temp.Virtual(L"folder")), 1u);
  EXPECT_TRUE(IsFolder(temp / L"folder"));
  ExpectLogged({{Error, WithErrorCode(L"Computer: cannot delete file '" + temp.Real(L"folder") + L"'", code)}});
}

TEST_F(DirectoryOperations, RemoveFolderKeepsOnlyTheLockedFileAndItsFoldersThenRemovesAll) {
  MakeFolder(temp / L"tree\\keep\\deeper");
  MakeFolder(temp / L"tree\\gone\\empty");
  for (const wchar_t* file : {L"top.txt", L"gone\\f.txt", L"keep\\sibling.txt", L"keep\\deeper\\locked.txt"}) {
    WriteFileBytes(temp / L"tree\\" + file, "x");
  }
  ::SetFileAttributesW((temp / L"tree\\top.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  ::SetFileAttributesW((temp / L"tree\\gone\\empty").c_str(), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY);
  VMLib::UniqueFile held = HoldExclusively(temp / L"tree\\keep\\deeper\\locked.txt");
  const std::wstring locked = temp.Real(L"tree\\keep\\deeper\\locked.txt");
  const uint32_t code = FailureCode(::DeleteFileW(locked.c_str()));

  EXPECT_EQ(writer->RemoveFolder(temp.Virtual(L"tree")), 1u);
  ExpectLogged({{Error, WithErrorCode(L"Computer: cannot delete file '" + locked + L"'", code)}});
  EXPECT_TRUE(Exists(locked));
  for (const wchar_t* gone : {L"tree\\top.txt", L"tree\\gone", L"tree\\keep\\sibling.txt"}) {
    EXPECT_FALSE(Exists(temp / gone)) << gone;
  }

  held.reset();
  EXPECT_EQ(writer->RemoveFolder(temp.Virtual(L"tree\\")), 0u) << "a trailing separator is fine";
  EXPECT_FALSE(Exists(temp / L"tree"));
  EXPECT_TRUE(log.messages.empty());
}

// Removing, moving, writing and applying attributes through names that
// lead elsewhere: a folder that is itself a link; a tree with links to a full
// and to an empty folder (RemoveDirectoryW would delete an empty target under
// Wine); a link to a read-only file outside the working folder, a link to a
// folder, a link whose target is missing and a folder holding a link.
// Windows acts on a link itself; Wine opens the target, so there each act is
// refused. Either way nothing outside changes.
TEST_F(DirectoryOperations, NamesThatLeadElsewhereChangeNothingThere) {
  const std::wstring fixture = LINK_FIXTURE, root = fixture + L"\\through";
  if (!(Attributes(fixture + L"\\tree\\link") & FILE_ATTRIBUTE_REPARSE_POINT)) {
    GTEST_SKIP() << "no link to a folder in the fixture (made natively by the link_fixture test)";
  }
  auto work = [&](const wchar_t* name) { return ToVirtual(root + L"\\work\\" + name); };
  uint32_t id = 0;
  const std::vector<uint32_t> statuses = {
      writer->RemoveFolder(ToVirtual(fixture + L"\\given")),
      writer->RemoveFolder(ToVirtual(fixture + L"\\tree")),
      writer->ApplyFileInfo(work(L"filelink"), FileInfo()),
      writer->Open(work(L"filelink"), 1, id),
      writer->Open(work(L"dangling"), 2, id),
      writer->MoveItem(work(L"filelink"), work(L"moved")),
      writer->MoveItem(work(L"dirlink"), work(L"moved-dir")),
      writer->RemoveFile(work(L"filelink")),
      writer->RemoveFolder(work(L"folder")),
  };

  EXPECT_EQ(ReadFileBytes(fixture + L"\\givenTarget\\keep.txt"), "keep\n");
  EXPECT_EQ(ReadFileBytes(fixture + L"\\outside\\keep.txt"), "keep\n");
  EXPECT_TRUE(IsFolder(fixture + L"\\emptytarget"));
  EXPECT_FALSE(Exists(fixture + L"\\tree\\sub"));
  const std::wstring target = root + L"\\outside\\target.txt";
  EXPECT_EQ(ReadFileBytes(target), "outside");
  EXPECT_TRUE(Attributes(target) & FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(ReadFileBytes(root + L"\\outside\\dir\\inner.txt"), "inside");
  EXPECT_FALSE(Exists(root + L"\\outside\\missing.txt"));
  // Windows opens a link to a folder itself. Wine 8 opens the target instead,
  // so the plug-in cannot remove a link there and must say so.
  if (::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") == nullptr) {
    EXPECT_FALSE(Exists(fixture + L"\\given") || Exists(fixture + L"\\tree")) << "a link was not removed as a link";
    return;
  }
  EXPECT_EQ(statuses, std::vector<uint32_t>(statuses.size(), 1u));
  for (const wchar_t* link : {L"\\given", L"\\through\\work\\filelink", L"\\through\\work\\dirlink",
                              L"\\through\\work\\folder\\inner-link"}) {
    EXPECT_TRUE(Exists(fixture + link)) << link;
  }
  // Each refusal is an error that names the item and says it reaches another
  // item, or is a link, or for the dangling link, that its target is missing:
  // the tree's refusals are one for each link in it.
  ASSERT_EQ(log.messages.size(), statuses.size() + 1);
  const std::wstring refused = L"Computer: cannot delete '\\\\?\\" + fixture;
  EXPECT_EQ(log.messages[0].text.rfind(refused + L"\\given': '", 0), 0u) << log.messages[0].text;
  for (size_t i : {1, 2}) EXPECT_EQ(log.messages[i].text.rfind(refused + L"\\tree\\", 0), 0u) << i;
  for (const LoggedMessage& message : log.messages) {
    EXPECT_TRUE(message.level == Error && (Contains(message.text, L"reaches another item") || Contains(message.text, L"it is a link") ||
                                           Contains(message.text, L"a link whose target is missing")))
        << message.text;
  }
}

TEST_F(DirectoryOperations, AShortNameNeverStandsInForTheFileItAnswersFor) {
  const std::wstring longName = temp / L"abcdefghij.txt";
  WriteFileBytes(longName, "long");
  WriteFileBytes(temp / L"other.txt", "other");
  std::wstring shortPath(MAX_PATH, L'\0');
  shortPath.resize(::GetShortPathNameW(longName.c_str(), &shortPath[0], MAX_PATH));
  const std::wstring shortName = shortPath.substr(shortPath.rfind(L'\\') + 1);
  if (shortName.empty() || shortName == L"abcdefghij.txt") GTEST_SKIP() << "this volume keeps no short names";

  uint32_t id = 0;
  EXPECT_EQ(writer->Open(temp.Virtual(shortName), 2, id), 1u);
  EXPECT_EQ(writer->MoveItem(temp.Virtual(L"other.txt"), temp.Virtual(shortName)), 1u);
  EXPECT_EQ(writer->RemoveFile(temp.Virtual(shortName)), 1u);
  EXPECT_EQ(ReadFileBytes(longName), "long");
  EXPECT_EQ(ReadFileBytes(temp / L"other.txt"), "other");
  EXPECT_EQ(log.messages.size(), 3u);
}

TEST_F(DirectoryOperations, WholeDrivesAndDotComponentsAreNeverRemoved) {
  WriteFileBytes(temp / L"stays", "x");
  MakeFolder(temp / L"sub");
  // A persistent network drive maps to a plain path, where Windows resolves
  // "..": "sub\.." would reach the test's folder itself.
  const std::wstring network(1, UnusedDriveLetter());
  RegistryOverride::AddNetworkDrive(network, temp.path());
  const std::wstring drive(1, temp.path()[0]);
  for (const std::wstring& path : {drive + L"$", drive + L"$\\", drive + L":\\\\", network + L"$\\sub\\.."}) {
    EXPECT_EQ(writer->RemoveFolder(path), 1u) << path;
    ASSERT_EQ(log.messages.size(), 1u) << path;
    EXPECT_EQ(log.messages[0].level, static_cast<uint32_t>(Error));
    EXPECT_EQ(log.messages[0].text.rfind(L"Computer: cannot delete directory '", 0), 0u);
    log.messages.clear();
  }
  // Windows drops a trailing period or blank of a network path's folder, so
  // these would reach "sub\\inner" and "sub\\kept.txt".
  MakeFolder(temp / L"sub\\inner");
  WriteFileBytes(temp / L"sub\\kept.txt", "kept");
  EXPECT_EQ(writer->RemoveFolder(network + L"$\\sub.\\inner"), 1u);
  EXPECT_EQ(writer->RemoveFile(network + L"$\\sub \\kept.txt"), 1u);
  EXPECT_EQ(log.messages.size(), 2u);
  EXPECT_EQ(ReadFileBytes(temp / L"stays"), "x");
  EXPECT_EQ(ReadFileBytes(temp / L"sub\\kept.txt"), "kept");
  EXPECT_TRUE(IsFolder(temp / L"sub\\inner"));
}

// The deepest stack address Diskway.dll has called NtCreateFile from: a walk
// opens each folder it enters, so the deepest open is as deep as it went.
ULONG_PTR deepestOpen = ~ULONG_PTR{0};
NTSTATUS NTAPI NoteDepthAndCreate(PHANDLE handle, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes,
                                  PIO_STATUS_BLOCK status, PLARGE_INTEGER size, ULONG fileAttributes, ULONG share,
                                  ULONG disposition, ULONG options, PVOID ea, ULONG eaLength) {
  volatile char here = 0;
  deepestOpen = std::min(deepestOpen, reinterpret_cast<ULONG_PTR>(&here));
  return ::NtCreateFile(handle, access, attributes, status, size, fileAttributes, share, disposition, options, ea,
                        eaLength);
}

TEST_F(DirectoryOperations, DeepTreesAreRemovedWithBoundedStack) {
  // A walk that recursed once per level would need at least a hundred bytes
  // per level, over 32 KiB here; the walk itself needs a few kilobytes at any
  // depth. Wine makes every level cost more to create than the last, so not
  // deeper than this.
  std::wstring path = temp.Real(L"deep");
  for (int level = 0; level < 400; ++level, path += L"\\d") {
    ASSERT_TRUE(::CreateDirectoryW(path.c_str(), nullptr)) << "level " << level;
  }
  WriteFileBytes(path.substr(0, path.size() - 2) + L"\\leaf.txt", "leaf");

  const ImportReplacement noting(::GetModuleHandleW(L"Diskway.dll"), "ntdll.dll", "NtCreateFile",
                                 reinterpret_cast<void*>(&NoteDepthAndCreate));
  ASSERT_TRUE(noting.active());
  volatile char frame = 0;
  EXPECT_EQ(writer->RemoveFolder(temp.Virtual(L"deep")), 0u);
  EXPECT_FALSE(Exists(temp / L"deep"));
  const ULONG_PTR top = reinterpret_cast<ULONG_PTR>(&frame);
  ASSERT_LT(deepestOpen, top) << "Diskway.dll opened nothing through NtCreateFile";
  EXPECT_LT(top - deepestOpen, 32u * 1024) << "stack use grows with the depth of the tree";
}

} // namespace
} // namespace test
