// Security descriptors as SDDL text. Items are made through plain paths and
// handed to VMLib with the \\?\ prefix, as the plug-in passes them. Under
// Wine 8 (as root) every file reads back the same synthesized owner, group and
// DACL whatever was written, so no test expects a written descriptor to change
// what is read back.
#include <gtest/gtest.h>


#include "tests/support/ImportReplacement.h"
#include "tests/support/NativeShell.h"
#include "tests/support/TempFolder.h"
#include "vmlib/VMLib.h"

#include <aclapi.h>

#include <cwchar>
#include <optional>

namespace {

using VMLib::filesystem::GetAclRights;
using VMLib::filesystem::SetAclRights;

const wchar_t kLeftOver[] = L"D:O:G: left over from another item";

class AclRights : public testing::Test {
protected:
  std::wstring MakeFile(const std::wstring& name) {
    test::WriteFileBytes(temp_ / name, "content");
    return Long(name);
  }
  std::wstring Long(const std::wstring& name) const { return L"\\\\?\\" + (temp_ / name); }

  test::TempFolder temp_;
};

// Windows refuses the SACL to a process without SeSecurityPrivilege, but Wine
// refuses it only when it is asked for alone. In a second round VMLib's import
// of GetSecurityInfo is pointed at a stand-in that refuses like Windows.
DWORD WINAPI RefuseSacl(HANDLE item, SE_OBJECT_TYPE type, SECURITY_INFORMATION parts, PSID* owner, PSID* group,
                        PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor) {
  if (parts & SACL_SECURITY_INFORMATION) return ERROR_PRIVILEGE_NOT_HELD;
  return ::GetSecurityInfo(item, type, parts, owner, group, dacl, sacl, descriptor);
}

// What Get gives, Set takes back unchanged with the same flags, for every
// choice of parts, on files and folders, whether or not the text holds a
// SACL (an item without one gives none, and Wine reads none). Get gives only
// the selected parts, and nothing on failure: a refused SACL is reported, but
// the owner and the DACL are not lost with it. No flag means no change,
// whatever the text.
TEST_F(AclRights, WhatGetGivesSetTakesBackWithTheSameFlags) {
  const std::wstring file = MakeFile(L"file"), folder = Long(L"folder");
  test::MakeFolder(temp_ / L"folder");
  for (const bool refusing : {false, true}) {
    std::optional<test::ImportReplacement> refusal;
    if (refusing) {
      refusal.emplace(::GetModuleHandleW(L"VMLib.dll"), "advapi32.dll", "GetSecurityInfo",
                      reinterpret_cast<void*>(&RefuseSacl));
      ASSERT_TRUE(refusal->active());
    }
    for (const std::wstring& path : {file, folder}) {
      for (int bits = 0; bits < 16; ++bits) {
        // The parts selected, in the order of the flags.
        const bool dacl = bits & 1, owner = bits & 2, group = bits & 4, sacl = bits & 8;
        std::wstring descriptor = kLeftOver;
        const uint32_t getStatus = GetAclRights(path, descriptor, dacl, owner, group, sacl);
        EXPECT_TRUE(getStatus == 0 || sacl) << "only the SACL may be refused: " << getStatus;
        EXPECT_TRUE(!refusing || getStatus == (sacl ? ERROR_PRIVILEGE_NOT_HELD : 0u)) << getStatus;
        EXPECT_EQ(test::Contains(descriptor, L"D:"), dacl) << descriptor;
        EXPECT_EQ(test::Contains(descriptor, L"O:"), owner) << descriptor;
        EXPECT_EQ(test::Contains(descriptor, L"G:"), group) << descriptor;
        EXPECT_EQ(SetAclRights(path, descriptor, dacl, owner, group, sacl), 0u) << bits << " " << descriptor;
      }
    }
  }
  std::wstring descriptor = kLeftOver;
  EXPECT_EQ(GetAclRights(Long(L"missing"), descriptor, true, true, true, false),
            static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(descriptor, L"");
  EXPECT_EQ(SetAclRights(file, L"not a descriptor", false, false, false, false), 0u);
  EXPECT_NE(SetAclRights(file, L"not a descriptor", true, true, true, false), 0u);
}

// A selected part the text lacks is left as the item has it: a missing
// DACL must never be written as a null one, which grants everyone all.
TEST_F(AclRights, APartTheTextLacksIsLeftAsItIs) {
  const std::wstring file = MakeFile(L"file");
  std::wstring before, ownerOnly, after;
  ASSERT_EQ(GetAclRights(file, before, true, false, false, false), 0u);
  ASSERT_EQ(GetAclRights(file, ownerOnly, false, true, false, false), 0u);
  EXPECT_EQ(SetAclRights(file, ownerOnly, true, true, true, true), 0u);
  ASSERT_EQ(GetAclRights(file, after, true, false, false, false), 0u);
  EXPECT_EQ(after, before) << "a missing DACL must not become NO_ACCESS_CONTROL";
}

// Windows hands a \\?\ path to the file system as it is, where a doubled
// separator after the root names nothing; Wine takes it. For one test
// VMLib's opens by name refuse it as Windows does.
HANDLE WINAPI StrictCreateFile(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                               DWORD disposition, DWORD flags, HANDLE templateFile) {
  if (std::wcslen(path) < 8 || std::wcsncmp(path, L"\\\\?\\", 4) != 0 || std::wcsncmp(path + 6, L"\\\\", 2) != 0) {
    return ::CreateFileW(path, access, share, security, disposition, flags, templateFile);
  }
  ::SetLastError(ERROR_INVALID_NAME);
  return INVALID_HANDLE_VALUE;
}

// A listing under a drive root passes the root, a separator and the name.
TEST_F(AclRights, AnItemDirectlyUnderADriveRootIsReadThroughTheRootsDoubledSeparator) {
  const test::ImportReplacement create(::GetModuleHandleW(L"VMLib.dll"), "kernel32.dll", "CreateFileW",
                                       reinterpret_cast<void*>(&StrictCreateFile));
  ASSERT_TRUE(create.active());
  std::wstring descriptor;
  EXPECT_EQ(GetAclRights(L"\\\\?\\C:\\\\users", descriptor, true, true, true, false), 0u);
  EXPECT_TRUE(test::Contains(descriptor, L"D:") && test::Contains(descriptor, L"O:")) << descriptor;
}

// Read as SetAclRights writes: from the item itself. Wine opens a link as
// what it leads to, which is refused rather than read as the link's.
TEST_F(AclRights, ALinkIsNeverReadAsWhatItLeadsTo) {
  if (test::RunNative(temp_.path(), "mkdir target && ln -s target link") != 0) {
    GTEST_SKIP() << "links are made on the Linux side of Wine";
  }
  std::wstring descriptor = kLeftOver;
  EXPECT_EQ(GetAclRights(Long(L"link"), descriptor, true, true, true, false), 4395u);
  EXPECT_EQ(descriptor, L"");
}

} // namespace
