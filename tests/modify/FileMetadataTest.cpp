// Security descriptors put back, and what one that cannot be written costs:
// one warning, while the attributes and times still follow.

#include "tests/support/PluginFixture.h"
#include "vmlib/VMLib.h"

namespace test {
namespace {

class FileMetadata : public PluginTest {};

TEST_F(FileMetadata, ListedDescriptorsAreAcceptedBackAndOneThatCannotBeWrittenIsOnlyAWarning) {
  WriteFileBytes(temp / L"item.txt", "content");
  host.parameters[L"CopyACL"] = L"True";
  IBackupDataWrite* copying = MakeWriter();
  FolderList list;
  ASSERT_EQ(copying->ListFolder(ToVirtual(temp.path()), list), 0u);
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
  // What was listed goes back without a word, whether or not it holds a
  // SACL: a part the text lacks is left as the item has it.
  EXPECT_EQ(copying->ApplyFileInfo(temp.Virtual(L"copy.txt"), list.front().info), 0u);
  ExpectLogged({});

  FileInfo info;
  info.aclRights = L"not a descriptor";
  info.attributes = FILE_ATTRIBUTE_HIDDEN;
  info.validFields = FieldLastAccessTime | FieldLastWriteTime;
  const FILETIME access{123456789, 30500000}, write{987654321, 30400000};
  VMLib::time::FileTimeToTime(access, info.lastAccessTime);
  VMLib::time::FileTimeToTime(write, info.lastWriteTime);
  const uint32_t code = VMLib::filesystem::SetAclRights(temp.Real(L"item.txt"), info.aclRights, true, true, true, true);
  ASSERT_NE(code, 0u);
  EXPECT_EQ(copying->ApplyFileInfo(temp.Virtual(L"item.txt"), info), 0u);
  ExpectLogged({{Warning, WithErrorCode(L"Can't set file ACL rights for '" + temp.Real(L"item.txt") + L"'", code)}});
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  ASSERT_TRUE(::GetFileAttributesExW((temp / L"item.txt").c_str(), GetFileExInfoStandard, &data));
  EXPECT_TRUE(data.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN);
  EXPECT_EQ(::CompareFileTime(&data.ftLastAccessTime, &access), 0);
  EXPECT_EQ(::CompareFileTime(&data.ftLastWriteTime, &write), 0);
  // Only the attributes' failure fails the call: it is the host's sign that the item is not as it should be.
  EXPECT_EQ(copying->ApplyFileInfo(temp.Virtual(L"missing.txt"), info), 1u);
  ASSERT_EQ(log.messages.size(), 2u);
  EXPECT_EQ(log.messages[1].level, static_cast<uint32_t>(Error));
}

} // namespace
} // namespace test
