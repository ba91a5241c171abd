// Shaping the storage tree: creating, removing and moving items.

#include "tests/support/PluginFixture.h"
#include "vmlib/ScopedHandle.h"

namespace test {
namespace {

class DirectoryOperations : public PluginTest {
protected:
  void SetUp() override {
    writer = MakeWriter();
    ASSERT_NE(writer, nullptr);
  }
  static std::wstring Real(const std::wstring& windowsPath) { return L"\\\\?\\" + windowsPath; }

  IBackupDataWrite* writer = nullptr;
};

TEST_F(DirectoryOperations, CreateFolderOnAnExistingFolderIsSilent) {
  EXPECT_EQ(writer->CreateFolder(temp.virtualPath()), 0u);
  EXPECT_EQ(writer->CreateFolder(L"C$"), 0u);
  EXPECT_TRUE(log.messages.empty());
  EXPECT_TRUE(NetworkCalls().empty());
}

TEST_F(DirectoryOperations, CreateFolderMakesEveryMissingLevel) {
  EXPECT_EQ(writer->CreateFolder(temp.Virtual(L"1\\2\\3\\4\\5")), 0u);
  EXPECT_TRUE(Attributes(temp / L"1\\2\\3\\4\\5") & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(writer->CreateFolder(temp.Virtual(L"1\\2\\x\\")), 0u) << "a trailing separator is fine";
  EXPECT_TRUE(log.messages.empty());
}

TEST_F(DirectoryOperations, FileInTheWayFailsThatLevelAfterOneReconnect) {
  MakeFolder(dataFolder);
  WriteFileBytes(dataFolder + L"\\net.loc", "");
  host.AddLocation(L"net.loc", L"u", L"p", L"G:", L"\\\\srv\\g");
  IBackupDataWrite* connected = MakeWriter();
  MakeFolder(temp / L"a");
  WriteFileBytes(temp / L"a\\blocker", "file");
  ResetNetworkCalls();

  // The code the system gives for making a folder where a file stands.
  ASSERT_FALSE(::CreateDirectoryW(Real(temp / L"a\\blocker").c_str(), nullptr));
  const DWORD code = ::GetLastError();

  EXPECT_EQ(connected->CreateFolder(temp.Virtual(L"a\\blocker\\c\\d")), 1u);
  EXPECT_EQ(log.Texts(), std::vector<std::wstring>{
                             WithErrorCode(L"Can't create directory '" + Real(temp / L"a\\blocker") + L"'", code)});
  EXPECT_EQ(log.messages[0].level, static_cast<uint32_t>(Error));
  const std::vector<std::wstring> calls = NetworkCalls();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0], L"cancel G: flags=0 force=1");
  EXPECT_EQ(calls[1], L"cancel \\\\srv\\g flags=0 force=1");
  EXPECT_EQ(calls[2].rfind(L"add local=G: ", 0), 0u);
  EXPECT_FALSE(Exists(temp / L"a\\blocker\\c"));
}

TEST_F(DirectoryOperations, CreateFolderRefusesAnInvalidPath) {
  EXPECT_EQ(writer->CreateFolder(temp.Virtual(L"new\\bad.")), 1u);
  EXPECT_FALSE(Exists(temp / L"new"));
}

TEST_F(DirectoryOperations, RemoveFileClearsAttributesAndToleratesAMissingFile) {
  const std::wstring file = temp / L"guarded";
  WriteFileBytes(file, "x");
  ASSERT_TRUE(::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  EXPECT_EQ(writer->RemoveFile(temp.Virtual(L"guarded")), 0u);
  EXPECT_FALSE(Exists(file));
  EXPECT_EQ(writer->RemoveFile(temp.Virtual(L"guarded")), 0u);
  EXPECT_TRUE(log.messages.empty());

  // A missing folder is not a missing file.
  ASSERT_FALSE(::SetFileAttributesW(Real(temp / L"nofolder\\f").c_str(), FILE_ATTRIBUTE_NORMAL));
  const DWORD code = ::GetLastError();
  EXPECT_EQ(writer->RemoveFile(temp.Virtual(L"nofolder\\f")), 1u);
  EXPECT_EQ(log.Texts(), std::vector<std::wstring>{
                             WithErrorCode(L"Computer: cannot delete file '" + Real(temp / L"nofolder\\f") + L"'", code)});
}

TEST_F(DirectoryOperations, ShortPathsAreRefusedWithoutTouchingAnything) {
  for (const wchar_t* path : {L"", L"C"}) {
    EXPECT_EQ(writer->RemoveFolder(path), 1u);
    EXPECT_EQ(writer->RemoveFile(path), 1u);
  }
  EXPECT_TRUE(log.messages.empty());
}

TEST_F(DirectoryOperations, RemoveFolderKeepsOnlyTheLockedFileAndItsFolders) {
  MakeFolder(temp / L"tree\\keep\\deeper");
  MakeFolder(temp / L"tree\\gone\\inner");
  WriteFileBytes(temp / L"tree\\top.txt", "1");
  WriteFileBytes(temp / L"tree\\gone\\inner\\f.txt", "2");
  WriteFileBytes(temp / L"tree\\keep\\sibling.txt", "3");
  const std::wstring lockedFile = temp / L"tree\\keep\\deeper\\locked.txt";
  WriteFileBytes(lockedFile, "4");
  ::SetFileAttributesW((temp / L"tree\\top.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  VMLib::UniqueFile held(::CreateFileW(lockedFile.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held.valid());
  ASSERT_FALSE(::DeleteFileW(lockedFile.c_str()));
  const DWORD code = ::GetLastError();

  EXPECT_EQ(writer->RemoveFolder(temp.Virtual(L"tree")), 1u);
  EXPECT_EQ(log.Texts(), std::vector<std::wstring>{
                             WithErrorCode(L"Computer: cannot delete file '" + Real(lockedFile) + L"'", code)});
  EXPECT_TRUE(Exists(lockedFile));
  EXPECT_FALSE(Exists(temp / L"tree\\top.txt"));
  EXPECT_FALSE(Exists(temp / L"tree\\gone"));
  EXPECT_FALSE(Exists(temp / L"tree\\keep\\sibling.txt"));

  held.reset();
  log.messages.clear();
  EXPECT_EQ(writer->RemoveFolder(temp.Virtual(L"tree")), 0u);
  EXPECT_FALSE(Exists(temp / L"tree"));
  EXPECT_TRUE(log.messages.empty());
}

TEST_F(DirectoryOperations, RemoveFolderOfAReadOnlyEmptyFolderAndOfAMissingOne) {
  MakeFolder(temp / L"ro");
  ASSERT_TRUE(::SetFileAttributesW((temp / L"ro").c_str(), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(writer->RemoveFolder(temp.Virtual(L"ro\\")), 0u) << "a trailing separator is fine";
  EXPECT_FALSE(Exists(temp / L"ro"));

  ASSERT_FALSE(::SetFileAttributesW(Real(temp / L"ro").c_str(), FILE_ATTRIBUTE_DIRECTORY));
  const DWORD code = ::GetLastError();
  EXPECT_EQ(writer->RemoveFolder(temp.Virtual(L"ro")), 1u);
  EXPECT_EQ(log.Texts(), std::vector<std::wstring>{
                             WithErrorCode(L"Computer: cannot delete directory '" + Real(temp / L"ro") + L"'", code)});
}

TEST_F(DirectoryOperations, RemovalNeverEntersALinkedFolder) {
  const std::wstring fixture = REPARSE_FIXTURE;
  const std::wstring link = fixture + L"\\tree\\link";
  if (!(Attributes(link) & FILE_ATTRIBUTE_REPARSE_POINT) || Attributes(link) == INVALID_FILE_ATTRIBUTES) {
    GTEST_SKIP() << "no directory link in the fixture (made natively by the modify_reparse_fixture test)";
  }
  const uint32_t status = writer->RemoveFolder(ToVirtual(fixture + L"\\tree"));
  EXPECT_EQ(ReadFileBytes(fixture + L"\\outside\\keep.txt"), "keep\n");
  EXPECT_FALSE(Exists(fixture + L"\\tree\\sub"));
  if (Exists(link)) {
    // Wine removes neither a Unix link to a folder nor anything through it.
    EXPECT_EQ(status, 1u);
    ASSERT_EQ(log.messages.size(), 1u);
    EXPECT_EQ(log.messages[0].text.rfind(L"Computer: cannot delete directory '" + Real(link) + L"'", 0), 0u);
  } else {
    EXPECT_EQ(status, 0u);
    EXPECT_TRUE(log.messages.empty());
  }
}

TEST_F(DirectoryOperations, DeepTreesAreRemovedOnASmallStack) {
  // A walk that recursed once per level, each level holding its search data
  // (over half a kilobyte), would overflow the 64 KiB stack below. Wine makes
  // every level cost more to create than the last, so not deeper than this.
  const int depth = 400;
  std::wstring path = L"\\\\?\\" + (temp / L"deep");
  for (int level = 0; level < depth; ++level) {
    ASSERT_TRUE(::CreateDirectoryW(path.c_str(), nullptr)) << "level " << level;
    path += L"\\d";
  }
  WriteFileBytes(path.substr(0, path.size() - 2) + L"\\leaf.txt", "leaf");

  struct Job {
    IBackupDataWrite* writer;
    std::wstring path;
    uint32_t status = 99;
  } job{writer, temp.Virtual(L"deep")};
  auto run = [](void* context) -> DWORD {
    Job* job = static_cast<Job*>(context);
    job->status = job->writer->RemoveFolder(job->path);
    return 0;
  };
  VMLib::UniqueKernelHandle thread(::CreateThread(nullptr, 64 * 1024, run, &job,
                                                  STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
  ASSERT_TRUE(thread.valid());
  ASSERT_EQ(::WaitForSingleObject(thread.get(), 60000), WAIT_OBJECT_0);
  EXPECT_EQ(job.status, 0u);
  EXPECT_FALSE(Exists(temp / L"deep"));
}

TEST_F(DirectoryOperations, MoveReplacesAFileAndReportsBothPathsOnFailure) {
  WriteFileBytes(temp / L"source", "new");
  WriteFileBytes(temp / L"target", "old");
  EXPECT_EQ(writer->MoveItem(temp.Virtual(L"source"), temp.Virtual(L"target")), 0u);
  EXPECT_EQ(ReadFileBytes(temp / L"target"), "new");
  EXPECT_FALSE(Exists(temp / L"source"));

  MakeFolder(temp / L"folder");
  const std::wstring source = Real(temp / L"target"), target = Real(temp / L"folder");
  ASSERT_FALSE(::MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED));
  const DWORD code = ::GetLastError();
  EXPECT_EQ(writer->MoveItem(temp.Virtual(L"target"), temp.Virtual(L"folder")), 1u);
  EXPECT_EQ(log.Texts(), std::vector<std::wstring>{
                             WithErrorCode(L"Can't move file from '" + source + L"' to '" + target + L"'", code)});
  EXPECT_EQ(ReadFileBytes(temp / L"target"), "new");
}

} // namespace
} // namespace test
