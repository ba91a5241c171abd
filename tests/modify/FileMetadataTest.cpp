// Putting back attributes, times and security descriptors.
#include <array>

#include "tests/support/PluginFixture.h"
#include "vmlib/VMLib.h"

namespace test {
namespace {

using Ticks = std::array<uint64_t, 3>; // creation, last access, last write

uint64_t TicksOf(const FILETIME& time) { return (uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime; }

Ticks TimesOf(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  ::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
  return {TicksOf(data.ftCreationTime), TicksOf(data.ftLastAccessTime), TicksOf(data.ftLastWriteTime)};
}

void SetTimes(const std::wstring& path, const FILETIME* creation, const FILETIME* access, const FILETIME* write) {
  VMLib::UniqueFile file(::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(::SetFileTime(file.get(), creation, access, write));
}

class FileMetadata : public PluginTest {
protected:
  void SetUp() override { WriteFileBytes(file, "content"); }
  static FileInfo RecordWith(uint32_t validFields, uint32_t attributes = FILE_ATTRIBUTE_ARCHIVE) {
    FileInfo info;
    int64_t* times[] = {&info.creationTime, &info.lastAccessTime, &info.lastWriteTime};
    for (size_t i = 0; i < 3; ++i) {
      VMLib::time::FileTimeToTime(FILETIME{static_cast<DWORD>(kTimes[i]), static_cast<DWORD>(kTimes[i] >> 32)},
                                  *times[i]);
    }
    info.attributes = attributes;
    info.validFields = validFields;
    return info;
  }
  uint32_t Apply(const std::wstring& relative, const FileInfo& info, IBackupDataWrite* instance = nullptr) {
    return (instance != nullptr ? instance : writer)->ApplyFileInfo(temp.Virtual(relative), info);
  }

  static constexpr Ticks kTimes = {130000000000000000ull, 131000000000000000ull, 132000000000000000ull};
  const std::wstring file = temp / L"item.txt";
  IBackupDataWrite* writer = MakeWriter();
};

TEST_F(FileMetadata, TimesWithAValidBitAreAppliedExactlyTheOthersBecomeTheTimeOfTheCall) {
  // Wine reports the last write time as the creation time: where a creation
  // time of its own does not stick, the creation time is not compared.
  const FILETIME early{1000, 20000000};
  SetTimes(file, &early, nullptr, nullptr);
  const bool creationKept = TimesOf(file)[0] == TicksOf(early);
  for (uint32_t validFields : {0u, 8u, 7u, 0xFFFFFFF7u, 0xFu}) {
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    ASSERT_EQ(Apply(L"item.txt", RecordWith(validFields)), 0u);
    const Ticks times = TimesOf(file);
    if (validFields & 7) {
      EXPECT_EQ((Ticks{creationKept ? times[0] : kTimes[0], times[1], times[2]}), kTimes) << validFields;
    } else {
      for (uint64_t time : times) EXPECT_NEAR(time, TicksOf(now), 10000000.0) << "within a second of the call";
    }
  }
  EXPECT_TRUE(log.messages.empty());
}

TEST_F(FileMetadata, AttributesAreAppliedToFilesAndFoldersWithTheirTimesAndTheQueriedTimesOfAnother) {
  MakeFolder(temp / L"folder");
  const std::pair<const wchar_t*, DWORD> cases[] = {{L"item.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN},
                                                    {L"folder", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN}};
  for (const auto& [name, attributes] : cases) {
    ASSERT_EQ(Apply(name, RecordWith(7, attributes)), 0u);
    EXPECT_EQ(Attributes(temp / name) & attributes, attributes) << name;
    EXPECT_EQ(TimesOf(temp / name)[2], kTimes[2]) << "times survive the read-only bit";
  }
  const FILETIME access{123456789, 30500000}, write{987654321, 30400000};
  WriteFileBytes(temp / L"source.txt", "s");
  WriteFileBytes(temp / L"target.txt", "t");
  SetTimes(temp / L"source.txt", nullptr, &access, &write);
  FileInfo info;
  ASSERT_EQ(writer->QueryFileInfo(temp.Virtual(L"source.txt"), info), 0u);
  ASSERT_EQ(Apply(L"target.txt", info), 0u);
  EXPECT_EQ(TimesOf(temp / L"target.txt"), TimesOf(temp / L"source.txt"));
}

TEST_F(FileMetadata, InvalidPathTouchesNothingAndAMissingItemFailsWithTheAttributesMessage) {
  const std::wstring odd = temp.Real(L"odd."); // only the long form keeps the trailing period
  WriteFileBytes(odd, "x");
  const Ticks before = TimesOf(odd);
  EXPECT_EQ(Apply(L"odd.", RecordWith(7, FILE_ATTRIBUTE_HIDDEN)), 1u);
  EXPECT_EQ(TimesOf(odd), before);
  EXPECT_EQ(Attributes(odd) & FILE_ATTRIBUTE_HIDDEN, 0u);
  log.messages.clear();

  WIN32_FIND_DATAW data = {};
  data.dwFileAttributes = FILE_ATTRIBUTE_ARCHIVE;
  const uint32_t code = VMLib::filesystem::SetFileInfo(temp.Real(L"missing.txt").c_str(), data);
  ASSERT_NE(code, 0u);
  EXPECT_EQ(Apply(L"missing.txt", RecordWith(7)), 1u);
  // ACL copying is off: the descriptor write changes nothing and says nothing.
  ExpectLogged({{Error, WithErrorCode(L"Can't set file attributes for '" + temp.Real(L"missing.txt") + L"'", code)}});
}

TEST_F(FileMetadata, ListedDescriptorsAreAcceptedBackAndAnAclFailureIsOneWarning) {
  host.parameters[L"CopyACL"] = L"True";
  IBackupDataWrite* copying = MakeWriter();
  FolderList list;
  ASSERT_EQ(copying->ListFolder(temp.virtualPath(), list), 0u);
  const std::wstring& listed = list.front().info.aclRights;
  EXPECT_TRUE(listed.find(L"O:") != std::wstring::npos && listed.find(L"D:") != std::wstring::npos) << listed;
  // Where the SACL cannot be read, the item is still listed with the
  // other parts, and one warning names it.
  std::wstring probe;
  const uint32_t saclStatus = VMLib::filesystem::GetAclRights(temp.Real(L"item.txt"), probe, true, true, true, true);
  Messages expected;
  if (saclStatus != 0) {
    expected.push_back(
        {Warning, WithErrorCode(L"Can't get file ACL rights for '" + temp.Real(L"item.txt") + L"'", saclStatus)});
  }
  ExpectLogged(expected);
  WriteFileBytes(temp / L"copy.txt", "c");
  EXPECT_EQ(Apply(L"copy.txt", list.front().info, copying), 0u);
  // A SACL the system would not let us read cannot be written either; the
  // other parts go through.
  for (const LoggedMessage& message : log.messages) {
    EXPECT_EQ(message.level, static_cast<uint32_t>(Warning));
    EXPECT_EQ(message.text.rfind(L"Can't set file ACL rights for '", 0), 0u);
  }
  log.messages.clear();

  FileInfo info = RecordWith(7);
  info.aclRights = L"not a descriptor";
  const uint32_t code = VMLib::filesystem::SetAclRights(temp.Real(L"item.txt"), info.aclRights, true, true, true, true);
  ASSERT_NE(code, 0u);
  EXPECT_EQ(Apply(L"item.txt", info, copying), 0u);
  ExpectLogged({{Warning, WithErrorCode(L"Can't set file ACL rights for '" + temp.Real(L"item.txt") + L"'", code)}});
  EXPECT_EQ(TimesOf(file)[2], kTimes[2]);
}

} // namespace
} // namespace test
