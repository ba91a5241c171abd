#include <gtest/gtest.h>

#include <cstring>

#include "tests/vmlib/TestFolder.h"
#include "tests/vmlib/WineDetection.h"
#include "vmlib/VMLib.h"

namespace {

using VMLib::UniqueFile;
using VMLib::filesystem::GetFileInfo;
using VMLib::filesystem::SetFileInfo;
using VMLib::tests::RunningUnderWine;
using VMLib::tests::TestFolder;

// Times with every 100-ns digit in use, all in the past and distinct.
constexpr FILETIME kCreation = {0x12345671u, 0x01D1ABCDu};
constexpr FILETIME kAccess = {0x76543219u, 0x01D2ABCDu};
constexpr FILETIME kWrite = {0x0ABCDEF3u, 0x01D3ABCDu};

uint64_t Ticks(const FILETIME& fileTime) {
  return (static_cast<uint64_t>(fileTime.dwHighDateTime) << 32) | fileTime.dwLowDateTime;
}

WIN32_FILE_ATTRIBUTE_DATA ReadAttributes(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  EXPECT_TRUE(::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
      << "GetFileAttributesExW failed with " << ::GetLastError();
  return data;
}

void SetTimesDirectly(const std::wstring& path) {
  UniqueFile file(::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                /*security=*/nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                /*templateFile=*/nullptr));
  ASSERT_TRUE(file.valid()) << "CreateFileW failed with " << ::GetLastError();
  ASSERT_TRUE(::SetFileTime(file.get(), &kCreation, &kAccess, &kWrite));
}

// The access and write times of `path` are those of Record().
void ExpectRecordTimes(const std::wstring& path) {
  const WIN32_FILE_ATTRIBUTE_DATA data = ReadAttributes(path);
  EXPECT_EQ(Ticks(data.ftLastAccessTime), Ticks(kAccess));
  EXPECT_EQ(Ticks(data.ftLastWriteTime), Ticks(kWrite));
}

bool HasAttributes(const std::wstring& path, DWORD attributes) {
  return (ReadAttributes(path).dwFileAttributes & attributes) == attributes;
}

WIN32_FIND_DATAW Record(DWORD attributes) {
  WIN32_FIND_DATAW data{};
  data.dwFileAttributes = attributes;
  data.ftCreationTime = kCreation;
  data.ftLastAccessTime = kAccess;
  data.ftLastWriteTime = kWrite;
  return data;
}

class vmlib_FileInfo : public testing::Test {
protected:
  TestFolder folder_;
};

TEST_F(vmlib_FileInfo, ReportsTimesSetOnFile) {
  const std::wstring path = folder_.MakeFile(L"file.txt");
  SetTimesDirectly(path);
  WIN32_FIND_DATAW data{};
  ASSERT_EQ(GetFileInfo(path.c_str(), data), 0u);
  EXPECT_EQ(Ticks(data.ftLastAccessTime), Ticks(kAccess));
  EXPECT_EQ(Ticks(data.ftLastWriteTime), Ticks(kWrite));
  EXPECT_EQ(Ticks(data.ftCreationTime), Ticks(ReadAttributes(path).ftCreationTime));
}

TEST_F(vmlib_FileInfo, ReportsAttributesSetOnFile) {
  const std::wstring path = folder_.MakeFile(L"file.txt");
  ASSERT_TRUE(::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  WIN32_FIND_DATAW data{};
  ASSERT_EQ(GetFileInfo(path.c_str(), data), 0u);
  EXPECT_EQ(data.dwFileAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_DIRECTORY),
            static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  EXPECT_EQ(data.dwFileAttributes, ReadAttributes(path).dwFileAttributes);
}

TEST_F(vmlib_FileInfo, ReportsSizeAndLastComponentOfFile) {
  const std::wstring path = folder_.MakeFile(L"five.bin", "12345");
  WIN32_FIND_DATAW data{};
  ASSERT_EQ(GetFileInfo(path.c_str(), data), 0u);
  EXPECT_EQ(data.nFileSizeHigh, 0u);
  EXPECT_EQ(data.nFileSizeLow, 5u);
  EXPECT_STREQ(data.cFileName, L"five.bin");
  EXPECT_STREQ(data.cAlternateFileName, L"");
}

TEST_F(vmlib_FileInfo, ReportsBothHalvesOfSizeAbove4GiB) {
  const std::wstring path = folder_.MakeFile(L"large.bin", "");
  {
    UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, /*share=*/0, /*security=*/nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, /*templateFile=*/nullptr));
    ASSERT_TRUE(file.valid());
    LARGE_INTEGER size;
    size.QuadPart = (5LL << 32) + 7; // sparse on the host file system, so cheap
    ASSERT_TRUE(::SetFilePointerEx(file.get(), size, /*newPosition=*/nullptr, FILE_BEGIN));
    ASSERT_TRUE(::SetEndOfFile(file.get()));
  }
  WIN32_FIND_DATAW data{};
  ASSERT_EQ(GetFileInfo(path.c_str(), data), 0u);
  EXPECT_EQ(data.nFileSizeHigh, 5u);
  EXPECT_EQ(data.nFileSizeLow, 7u);
}

TEST_F(vmlib_FileInfo, ReportsTimesAndAttributesOfFolder) {
  const std::wstring path = folder_.MakeFolder(L"sub");
  SetTimesDirectly(path);
  ASSERT_TRUE(::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN));
  WIN32_FIND_DATAW data{};
  ASSERT_EQ(GetFileInfo(path.c_str(), data), 0u);
  EXPECT_EQ(data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN),
            static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN));
  EXPECT_EQ(Ticks(data.ftLastAccessTime), Ticks(kAccess));
  EXPECT_EQ(Ticks(data.ftLastWriteTime), Ticks(kWrite));
  EXPECT_EQ(data.nFileSizeHigh, 0u);
  EXPECT_EQ(data.nFileSizeLow, 0u);
  EXPECT_STREQ(data.cFileName, L"sub");
}

TEST_F(vmlib_FileInfo, AnswersForDriveRoot) {
  const std::wstring root = L"\\\\?\\C:\\";
  WIN32_FIND_DATAW data{};
  ASSERT_EQ(GetFileInfo(root.c_str(), data), 0u);
  const WIN32_FILE_ATTRIBUTE_DATA expected = ReadAttributes(root);
  EXPECT_EQ(data.dwFileAttributes, expected.dwFileAttributes);
  EXPECT_TRUE(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  // The root's own times may move while other tests create items in C:\,
  // so only their presence is checked here.
  EXPECT_NE(Ticks(data.ftCreationTime), 0u);
  EXPECT_NE(Ticks(data.ftLastWriteTime), 0u);
  EXPECT_STREQ(data.cFileName, L"C:");
}

TEST_F(vmlib_FileInfo, MissingItemReturnsNotFoundAndLeavesRecordUntouched) {
  WIN32_FIND_DATAW data;
  std::memset(&data, 0xAB, sizeof(data));
  WIN32_FIND_DATAW before = data;
  EXPECT_EQ(GetFileInfo(folder_.Child(L"missing").c_str(), data), static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(std::memcmp(&data, &before, sizeof(data)), 0);
}

TEST_F(vmlib_FileInfo, SetAppliesTimesAndAttributesToFile) {
  const std::wstring path = folder_.MakeFile(L"file.txt");
  ASSERT_EQ(SetFileInfo(path.c_str(), Record(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE)), 0u);
  ExpectRecordTimes(path);
  EXPECT_TRUE(HasAttributes(path, FILE_ATTRIBUTE_HIDDEN));
  EXPECT_FALSE(HasAttributes(path, FILE_ATTRIBUTE_READONLY));
}

TEST_F(vmlib_FileInfo, SetAppliesCreationTime) {
  if (RunningUnderWine()) {
    GTEST_SKIP() << "Wine cannot store a creation time; it reports the last-write time instead";
  }
  const std::wstring path = folder_.MakeFile(L"file.txt");
  ASSERT_EQ(SetFileInfo(path.c_str(), Record(FILE_ATTRIBUTE_ARCHIVE)), 0u);
  EXPECT_EQ(Ticks(ReadAttributes(path).ftCreationTime), Ticks(kCreation));
}

TEST_F(vmlib_FileInfo, SetMakesFileReadOnlyAndKeepsItsTimes) {
  const std::wstring path = folder_.MakeFile(L"file.txt");
  ASSERT_EQ(SetFileInfo(path.c_str(), Record(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE)), 0u);
  EXPECT_TRUE(HasAttributes(path, FILE_ATTRIBUTE_READONLY));
  ExpectRecordTimes(path);
}

TEST_F(vmlib_FileInfo, SetChangesTimesOfReadOnlyFile) {
  const std::wstring path = folder_.MakeFile(L"file.txt");
  ASSERT_TRUE(::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_EQ(SetFileInfo(path.c_str(), Record(FILE_ATTRIBUTE_READONLY)), 0u);
  EXPECT_TRUE(HasAttributes(path, FILE_ATTRIBUTE_READONLY));
  ExpectRecordTimes(path);
}

TEST_F(vmlib_FileInfo, SetClearsReadOnlyWhenRecordLacksIt) {
  const std::wstring path = folder_.MakeFile(L"file.txt");
  ASSERT_TRUE(::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  ASSERT_EQ(SetFileInfo(path.c_str(), Record(0)), 0u);
  EXPECT_FALSE(HasAttributes(path, FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(HasAttributes(path, FILE_ATTRIBUTE_HIDDEN));
  ExpectRecordTimes(path);
}

TEST_F(vmlib_FileInfo, SetAppliesTimesAndAttributesToFolder) {
  const std::wstring path = folder_.MakeFolder(L"sub");
  ASSERT_EQ(SetFileInfo(path.c_str(), Record(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_SYSTEM)), 0u);
  EXPECT_TRUE(HasAttributes(path, FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_SYSTEM));
  ExpectRecordTimes(path);
}

TEST_F(vmlib_FileInfo, SetIgnoresDirectoryBitOnFile) {
  const std::wstring path = folder_.MakeFile(L"file.txt");
  ASSERT_EQ(SetFileInfo(path.c_str(), Record(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN)), 0u);
  EXPECT_FALSE(HasAttributes(path, FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_TRUE(HasAttributes(path, FILE_ATTRIBUTE_HIDDEN));
}

TEST_F(vmlib_FileInfo, RecordReadFromOneFileAppliesToAnother) {
  const std::wstring source = folder_.MakeFile(L"source.txt");
  const std::wstring target = folder_.MakeFile(L"target.txt");
  ASSERT_EQ(SetFileInfo(source.c_str(), Record(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN)), 0u);
  WIN32_FIND_DATAW record{};
  ASSERT_EQ(GetFileInfo(source.c_str(), record), 0u);
  ASSERT_EQ(SetFileInfo(target.c_str(), record), 0u);
  WIN32_FIND_DATAW copied{};
  ASSERT_EQ(GetFileInfo(target.c_str(), copied), 0u);
  EXPECT_EQ(copied.dwFileAttributes, record.dwFileAttributes);
  EXPECT_EQ(Ticks(copied.ftCreationTime), Ticks(record.ftCreationTime));
  EXPECT_EQ(Ticks(copied.ftLastAccessTime), Ticks(record.ftLastAccessTime));
  EXPECT_EQ(Ticks(copied.ftLastWriteTime), Ticks(record.ftLastWriteTime));
}

TEST_F(vmlib_FileInfo, SetOnMissingItemReturnsNotFound) {
  EXPECT_EQ(SetFileInfo(folder_.Child(L"missing").c_str(), Record(0)), static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
}

} // namespace
