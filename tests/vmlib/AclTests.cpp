// Under Wine 8 (running as root) every file reads back the same synthesized
// owner, group and DACL whatever was written, so round trips are compared on
// the text Wine reports, and no test expects a written DACL to change it.
#include <gtest/gtest.h>

#include "tests/vmlib/TestFolder.h"
#include "tests/vmlib/WineDetection.h"
#include "vmlib/VMLib.h"

namespace {

using VMLib::filesystem::GetAclRights;
using VMLib::filesystem::SetAclRights;
using VMLib::tests::RunningUnderWine;
using VMLib::tests::TestFolder;

bool Contains(const std::wstring& text, const wchar_t* part) {
  return text.find(part) != std::wstring::npos;
}

class vmlib_AclRights : public testing::Test {
protected:
  TestFolder folder_;
  const std::wstring file_ = folder_.MakeFile(L"file.txt");
};

TEST_F(vmlib_AclRights, DaclFlagGivesOnlyDacl) {
  std::wstring descriptor;
  ASSERT_EQ(GetAclRights(file_, descriptor, /*dacl=*/true, /*owner=*/false, /*group=*/false, /*sacl=*/false), 0u);
  EXPECT_TRUE(Contains(descriptor, L"D:")) << descriptor;
  EXPECT_FALSE(Contains(descriptor, L"O:")) << descriptor;
  EXPECT_FALSE(Contains(descriptor, L"G:")) << descriptor;
}

TEST_F(vmlib_AclRights, OwnerAndGroupFlagsGiveNoDacl) {
  std::wstring descriptor;
  ASSERT_EQ(GetAclRights(file_, descriptor, /*dacl=*/false, /*owner=*/true, /*group=*/true, /*sacl=*/false), 0u);
  EXPECT_TRUE(Contains(descriptor, L"O:")) << descriptor;
  EXPECT_TRUE(Contains(descriptor, L"G:")) << descriptor;
  EXPECT_FALSE(Contains(descriptor, L"D:")) << descriptor;
}

TEST_F(vmlib_AclRights, AllFlagsFalseGiveEmptyTextAndZero) {
  std::wstring descriptor = L"left over from another item";
  EXPECT_EQ(GetAclRights(file_, descriptor, false, false, false, false), 0u);
  EXPECT_EQ(descriptor, L"");
}

TEST_F(vmlib_AclRights, MissingItemGivesNotFoundAndEmptyText) {
  std::wstring descriptor = L"left over from another item";
  EXPECT_EQ(GetAclRights(folder_.Child(L"missing"), descriptor, true, true, true, false),
            static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(descriptor, L"");
}

TEST_F(vmlib_AclRights, SetAcceptsOwnOutputForFile) {
  std::wstring before;
  ASSERT_EQ(GetAclRights(file_, before, true, true, true, false), 0u);
  ASSERT_EQ(SetAclRights(file_, before, true, true, true, false), 0u);
  std::wstring after;
  ASSERT_EQ(GetAclRights(file_, after, true, true, true, false), 0u);
  EXPECT_EQ(after, before);
}

TEST_F(vmlib_AclRights, SetAcceptsOwnOutputForFolder) {
  const std::wstring folder = folder_.MakeFolder(L"sub");
  std::wstring before;
  ASSERT_EQ(GetAclRights(folder, before, true, true, true, false), 0u);
  ASSERT_EQ(SetAclRights(folder, before, true, true, true, false), 0u);
  std::wstring after;
  ASSERT_EQ(GetAclRights(folder, after, true, true, true, false), 0u);
  EXPECT_EQ(after, before);
}

TEST_F(vmlib_AclRights, SetAcceptsOwnOutputForEachPartAlone) {
  const bool selections[3][3] = {{true, false, false}, {false, true, false}, {false, false, true}};
  for (const auto& s : selections) {
    std::wstring descriptor;
    ASSERT_EQ(GetAclRights(file_, descriptor, s[0], s[1], s[2], false), 0u);
    EXPECT_EQ(SetAclRights(file_, descriptor, s[0], s[1], s[2], false), 0u) << descriptor;
  }
}

TEST_F(vmlib_AclRights, SetWithAllFlagsFalseChangesNothing) {
  std::wstring before;
  ASSERT_EQ(GetAclRights(file_, before, true, true, true, false), 0u);
  EXPECT_EQ(SetAclRights(file_, L"not a descriptor", false, false, false, false), 0u);
  std::wstring after;
  ASSERT_EQ(GetAclRights(file_, after, true, true, true, false), 0u);
  EXPECT_EQ(after, before);
}

TEST_F(vmlib_AclRights, SetRejectsMalformedText) {
  EXPECT_NE(SetAclRights(file_, L"not a descriptor", true, true, true, false), 0u);
}

// A DACL flag with a text that has no DACL must not become a null DACL,
// which would grant everyone full access.
TEST_F(vmlib_AclRights, SetRejectsTextLackingSelectedPart) {
  std::wstring ownerOnly;
  ASSERT_EQ(GetAclRights(file_, ownerOnly, false, true, false, false), 0u);
  EXPECT_EQ(SetAclRights(file_, ownerOnly, true, false, false, false),
            static_cast<uint32_t>(ERROR_INVALID_SECURITY_DESCR));
  EXPECT_EQ(SetAclRights(file_, ownerOnly, false, false, true, false),
            static_cast<uint32_t>(ERROR_INVALID_SECURITY_DESCR));
}

TEST_F(vmlib_AclRights, SaclReadIsDeniedUnderWine) {
  if (!RunningUnderWine()) GTEST_SKIP() << "Windows grants the SACL with SeSecurityPrivilege enabled";
  std::wstring descriptor = L"left over from another item";
  EXPECT_EQ(GetAclRights(file_, descriptor, false, false, false, /*sacl=*/true),
            static_cast<uint32_t>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(descriptor, L"");
}

} // namespace
