// The open-file table and the transfer of file contents.
#include <tuple>

#include "tests/support/ImportReplacement.h"
#include "tests/support/PluginFixture.h"

namespace test {
namespace {

class OpenFiles : public PluginTest {
protected:
  uint32_t Open(const std::wstring& relative, uint32_t mode, uint32_t& id) {
    return writer->Open(temp.Virtual(relative), mode, id);
  }

  IBackupDataWrite* writer = MakeWriter();
};

TEST_F(OpenFiles, UnopenedIdsAreReportedByNumberAndOpensTakeTheLowestFreeOfOneToThree) {
  uint32_t unopened = 3, size = 4;
  char buffer[4] = {};
  int64_t offset = 0;
  EXPECT_EQ(writer->Close(unopened), 0u);
  EXPECT_EQ(writer->Read(buffer, size, unopened), 1u);
  EXPECT_EQ(size, 4u) << "size untouched";
  EXPECT_EQ(writer->Write(buffer, size, unopened), 1u);
  EXPECT_EQ(writer->Seek(unopened, offset), 1u);
  ExpectLogged({{Error, L"Attempting to read an unopened file (3)."},
                {Error, L"Attempting to write an unopened file (3)."},
                {Error, L"Attempting to seek an unopened file (3)."}});

  const wchar_t* names[] = {L"a", L"b", L"c", L"d"};
  std::vector<uint32_t> ids(4, 77);
  for (size_t i = 0; i < 4; ++i) {
    WriteFileBytes(temp / names[i], "x");
    EXPECT_EQ(Open(names[i], i == 2 ? OpenWrite : OpenRead, ids[i]), i < 3 ? 0u : 1u) << i;
  }
  EXPECT_EQ(ids, (std::vector<uint32_t>{1, 2, 3, 0}));
  EXPECT_TRUE(log.messages.empty()) << "a fourth open fails without a message";
  EXPECT_EQ(writer->Close(ids[1]), 0u);
  uint32_t reused = 0;
  EXPECT_EQ(Open(L"d", OpenRead, reused), 0u);
  EXPECT_EQ(reused, 2u);
}

TEST_F(OpenFiles, ReadsFromWhereASeekPutsThemUntilEndOfDataWhichHasSizeZero) {
  WriteFileBytes(temp / L"f", "0123456789");
  uint32_t id = 0, size = 4;
  ASSERT_EQ(Open(L"f", OpenRead, id), 0u);
  EXPECT_EQ(ReadAll(*writer, id), "0123456789");
  char buffer[4];
  EXPECT_EQ(writer->Read(buffer, size, id), 5u);
  EXPECT_EQ(size, 0u);
  int64_t eight = 8;
  ASSERT_EQ(writer->Seek(id, eight), 0u);
  ASSERT_EQ(writer->Read(buffer, size = 4, id), 0u);
  EXPECT_EQ(std::string(buffer, size), "89");
  EXPECT_TRUE(log.messages.empty());
}

TEST_F(OpenFiles, WriteModesCreateOrReplaceAndModeOneRestoresAttributesOnClose) {
  const DWORD attributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  WriteFileBytes(temp / L"old", "previous contents");
  WriteFileBytes(temp / L"protected", "old");
  ASSERT_TRUE(::SetFileAttributesW((temp / L"protected").c_str(), attributes));
  const DWORD before = Attributes(temp / L"protected");
  using Case = std::pair<const wchar_t*, uint32_t>; // any mode but 0 and 1 writes like 2
  for (const auto& [name, mode] : {Case{L"old", 7}, Case{L"new", 2}, Case{L"protected", 1}}) {
    uint32_t id = 0, size = 5;
    ASSERT_EQ(Open(name, mode, id), 0u) << name;
    EXPECT_EQ(Attributes(temp / name) & attributes, 0u) << "cleared while open";
    EXPECT_EQ(writer->Write("fresh", size, id), 0u);
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(writer->Close(id), 0u);
    EXPECT_EQ(ReadFileBytes(temp / name), "fresh");
  }
  EXPECT_EQ(Attributes(temp / L"protected"), before);
  EXPECT_TRUE(log.messages.empty());
}

TEST_F(OpenFiles, FailedOpensSetIdZeroWithOneMessage) {
  MakeFolder(temp / L"folder");
  ASSERT_TRUE(::SetFileAttributesW((temp / L"folder").c_str(), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN));
  const DWORD before = Attributes(temp / L"folder");
  const uint32_t refusal = FailureCode(VMLib::UniqueFile(::CreateFileW(temp.Real(L"folder").c_str(), GENERIC_WRITE, 0,
                                                                       nullptr, CREATE_ALWAYS, 0, nullptr)).valid());
  const struct {
    const wchar_t* name;
    uint32_t mode, level, code;
  } cases[] = {{L"folder", OpenOverwriteKeepAttributes, Error, refusal},
               {L"absent", OpenRead, Warning, ERROR_FILE_NOT_FOUND}};
  for (const auto& c : cases) {
    uint32_t id = 9;
    EXPECT_EQ(Open(c.name, c.mode, id), 1u) << c.name;
    EXPECT_EQ(id, 0u);
    ExpectLogged({{c.level, WithErrorCode(L"Cannot open file '" + temp.Real(c.name) + L"'", c.code)}});
  }
  EXPECT_EQ(Attributes(temp / L"folder"), before) << "mode 1 leaves a folder alone";
}

// A full disk answers in two codes. Wine's files give only the second
// (ERROR_DISK_FULL), so the plug-in's import of WriteFile answers both here.
DWORD fullDiskCode = 0;
BOOL WINAPI WriteToFullDisk(HANDLE, LPCVOID, DWORD, LPDWORD written, LPOVERLAPPED) {
  *written = 0;
  ::SetLastError(fullDiskCode);
  return FALSE;
}

TEST_F(OpenFiles, AFullDiskIsStatusSevenOnlyWhenTheHandleSaysSo) {
  const ImportReplacement full(::GetModuleHandleW(L"Diskway.dll"), "kernel32.dll", "WriteFile",
                               reinterpret_cast<void*>(&WriteToFullDisk));
  ASSERT_TRUE(full.active());
  uint32_t id = 0;
  ASSERT_EQ(Open(L"full", OpenWrite, id), 0u);
  for (const auto& [code, status, messages] :
       {std::tuple{DWORD{ERROR_HANDLE_DISK_FULL}, 7u, size_t{0}}, {DWORD{ERROR_DISK_FULL}, 1u, size_t{1}}}) {
    fullDiskCode = code;
    uint32_t size = 4;
    EXPECT_EQ(writer->Write("data", size, id), status) << code;
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(log.messages.size(), messages) << code;
  }
}

} // namespace
} // namespace test
