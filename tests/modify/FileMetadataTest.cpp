// Putting back attributes, times and security descriptors.
#include "tests/support/PluginFixture.h"
#include "vmlib/ScopedHandle.h"
#include "vmlib/VMLib.h"

namespace test {
namespace {

struct Times {
  FILETIME creation, access, write;
};

Times TimesOf(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  ::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
  return {data.ftCreationTime, data.ftLastAccessTime, data.ftLastWriteTime};
}

uint64_t Ticks(const FILETIME& time) { return (uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime; }

int64_t ToTime(uint64_t ticks) {
  FILETIME fileTime{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  int64_t time = 0;
  VMLib::time::FileTimeToTime(fileTime, time);
  return time;
}

uint64_t NowTicks() {
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  return Ticks(now);
}

// Whether this system keeps a creation time apart from the last write time
// (Wine reports the last write time for both).
bool CreationTimeIsKept(const std::wstring& scratch) {
  WriteFileBytes(scratch, "");
  VMLib::UniqueFile file(::CreateFileW(scratch.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  const FILETIME early{1000, 20000000}, late{5000, 30000000};
  ::SetFileTime(file.get(), &early, nullptr, &late);
  file.reset();
  return Ticks(TimesOf(scratch).creation) == Ticks(early);
}

class FileMetadata : public PluginTest {
protected:
  void SetUp() override {
    file = temp / L"item.txt";
    WriteFileBytes(file, "content");
  }
  FileInfo RecordWith(uint32_t validFields) {
    FileInfo info;
    info.creationTime = ToTime(kCreation);
    info.lastAccessTime = ToTime(kAccess);
    info.lastWriteTime = ToTime(kWrite);
    info.attributes = FILE_ATTRIBUTE_ARCHIVE;
    info.validFields = validFields;
    return info;
  }

  static constexpr uint64_t kCreation = 130000000000000000ull;
  static constexpr uint64_t kAccess = 131000000000000000ull;
  static constexpr uint64_t kWrite = 132000000000000000ull;
  std::wstring file;
};

TEST_F(FileMetadata, TimesWithoutValidBitsBecomeTheTimeOfTheCall) {
  IBackupDataWrite* writer = MakeWriter();
  for (uint32_t validFields : {0u, 8u}) {
    const uint64_t before = NowTicks();
    ASSERT_EQ(writer->ApplyFileInfo(temp.Virtual(L"item.txt"), RecordWith(validFields)), 0u);
    const Times times = TimesOf(file);
    for (const FILETIME& time : {times.creation, times.access, times.write}) {
      EXPECT_GE(Ticks(time) + 10000000, before) << "within a second of the call";
      EXPECT_LE(Ticks(time), NowTicks() + 10000000);
    }
  }
  EXPECT_TRUE(log.messages.empty());
}

TEST_F(FileMetadata, ValidTimesAreAppliedExactlyAndHighBitsChangeNothing) {
  const bool creationKept = CreationTimeIsKept(temp / L"probe");
  IBackupDataWrite* writer = MakeWriter();
  for (uint32_t validFields : {7u, 0xFFFFFFF7u, 0xFu}) {
    ASSERT_EQ(writer->ApplyFileInfo(temp.Virtual(L"item.txt"), RecordWith(validFields)), 0u);
    const Times times = TimesOf(file);
    EXPECT_EQ(Ticks(times.access), kAccess);
    EXPECT_EQ(Ticks(times.write), kWrite);
    if (creationKept) {
      EXPECT_EQ(Ticks(times.creation), kCreation);
    }
  }
}

TEST_F(FileMetadata, AttributesAreAppliedToFilesAndFolders) {
  MakeFolder(temp / L"folder");
  IBackupDataWrite* writer = MakeWriter();
  FileInfo info = RecordWith(7);
  info.attributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;
  ASSERT_EQ(writer->ApplyFileInfo(temp.Virtual(L"item.txt"), info), 0u);
  EXPECT_EQ(Attributes(file) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN),
            static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  EXPECT_EQ(Ticks(TimesOf(file).write), kWrite) << "times survive the read-only bit";

  info.attributes = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN;
  ASSERT_EQ(writer->ApplyFileInfo(temp.Virtual(L"folder"), info), 0u);
  EXPECT_TRUE(Attributes(temp / L"folder") & FILE_ATTRIBUTE_HIDDEN);
  EXPECT_EQ(Ticks(TimesOf(temp / L"folder").write), kWrite);
}

TEST_F(FileMetadata, InvalidPathTouchesNothing) {
  WriteFileBytes(temp / L"odd.", "x");
  const Times before = TimesOf(temp / L"odd.");
  IBackupDataWrite* writer = MakeWriter();
  FileInfo info = RecordWith(7);
  info.attributes = FILE_ATTRIBUTE_HIDDEN;
  EXPECT_EQ(writer->ApplyFileInfo(temp.Virtual(L"odd."), info), 1u);
  EXPECT_EQ(Ticks(TimesOf(temp / L"odd.").write), Ticks(before.write));
  EXPECT_FALSE(Attributes(temp / L"odd.") & FILE_ATTRIBUTE_HIDDEN);
}

TEST_F(FileMetadata, TimesQueriedFromOneFileArriveUnchangedOnAnother) {
  const std::wstring source = temp / L"source.txt";
  WriteFileBytes(source, "s");
  VMLib::UniqueFile handle(::CreateFileW(source.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  const FILETIME access{123456789, 30500000}, write{987654321, 30400000};
  ASSERT_TRUE(::SetFileTime(handle.get(), nullptr, &access, &write));
  handle.reset();

  IBackupDataWrite* writer = MakeWriter();
  FileInfo info;
  ASSERT_EQ(writer->QueryFileInfo(temp.Virtual(L"source.txt"), info), 0u);
  ASSERT_EQ(writer->ApplyFileInfo(temp.Virtual(L"item.txt"), info), 0u);
  const Times from = TimesOf(source), to = TimesOf(file);
  EXPECT_EQ(Ticks(to.creation), Ticks(from.creation));
  EXPECT_EQ(Ticks(to.access), Ticks(from.access));
  EXPECT_EQ(Ticks(to.write), Ticks(from.write));
}

TEST_F(FileMetadata, AclFailureIsAWarningWhenTheRestSucceeds) {
  host.parameters[L"CopyACL"] = L"True";
  IBackupDataWrite* writer = MakeWriter();
  FileInfo info = RecordWith(7);
  info.aclRights = L"not a descriptor";
  const std::wstring realPath = L"\\\\?\\" + file;
  const uint32_t code = VMLib::filesystem::SetAclRights(realPath, info.aclRights, true, true, true, true);
  ASSERT_NE(code, 0u);

  EXPECT_EQ(writer->ApplyFileInfo(temp.Virtual(L"item.txt"), info), 0u);
  ASSERT_EQ(log.messages.size(), 1u);
  EXPECT_EQ(log.messages[0].level, static_cast<uint32_t>(Warning));
  EXPECT_EQ(log.messages[0].text, WithErrorCode(L"Can't set file ACL rights for '" + realPath + L"'", code));
  EXPECT_EQ(Ticks(TimesOf(file).write), kWrite);
}

TEST_F(FileMetadata, DescriptorsReadByListingAreAcceptedBack) {
  host.parameters[L"CopyACL"] = L"True";
  IBackupDataWrite* writer = MakeWriter();
  FileInfo info;
  ASSERT_EQ(writer->QueryFileInfo(temp.Virtual(L"item.txt"), info), 0u);
  ASSERT_FALSE(info.aclRights.empty());
  log.messages.clear();
  WriteFileBytes(temp / L"copy.txt", "c");
  EXPECT_EQ(writer->ApplyFileInfo(temp.Virtual(L"copy.txt"), info), 0u);
  // A SACL the system would not let us read cannot be written either; the
  // other parts go through.
  for (const LoggedMessage& message : log.messages) {
    EXPECT_EQ(message.level, static_cast<uint32_t>(Warning));
    EXPECT_EQ(message.text.rfind(L"Can't set file ACL rights for '", 0), 0u);
  }
}

TEST_F(FileMetadata, MissingItemFailsWithTheAttributesMessage) {
  IBackupDataWrite* writer = MakeWriter();
  const std::wstring realPath = L"\\\\?\\" + (temp / L"missing.txt");
  WIN32_FIND_DATAW data = {};
  data.dwFileAttributes = FILE_ATTRIBUTE_ARCHIVE;
  const uint32_t code = VMLib::filesystem::SetFileInfo(realPath.c_str(), data);
  ASSERT_NE(code, 0u);
  EXPECT_EQ(writer->ApplyFileInfo(temp.Virtual(L"missing.txt"), RecordWith(7)), 1u);
  EXPECT_EQ(log.Texts(), std::vector<std::wstring>{
                             WithErrorCode(L"Can't set file attributes for '" + realPath + L"'", code)})
      << "ACL copying is off: the descriptor write changes nothing and says nothing";
  EXPECT_EQ(log.messages[0].level, static_cast<uint32_t>(Error));
}

} // namespace
} // namespace test
