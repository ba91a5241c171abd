// Virtual paths to Windows paths, and name sanitising.
#include "instance/PluginImplementation.h"
#include "tests/support/PluginFixture.h"

namespace test {
namespace {

class PathMapping : public PluginTest {
protected:
  std::wstring Map(const std::wstring& path) {
    if (!instance_) instance_ = std::make_unique<PluginImplementation>(&log, &host, InstanceRead);
    return instance_->MapPath(path);
  }

private:
  std::unique_ptr<PluginImplementation> instance_;
};

TEST_F(PathMapping, LocalPathsGetTheLongPathPrefixAndAColon) {
  EXPECT_EQ(Map(L""), L"");
  EXPECT_EQ(Map(L"C"), L"C");
  EXPECT_EQ(Map(L"C$"), L"\\\\?\\C:\\");
  EXPECT_EQ(Map(L"C:"), L"\\\\?\\C:\\");
  EXPECT_EQ(Map(L"C$\\"), L"\\\\?\\C:\\");
  EXPECT_EQ(Map(L"C$\\dir\\"), L"\\\\?\\C:\\dir\\");
  EXPECT_EQ(Map(L"C_\\Windows\\System32"), L"\\\\?\\C:\\Windows\\System32");
  EXPECT_EQ(Map(L"D$\\a/b\\..\\c"), L"\\\\?\\D:\\a/b\\..\\c") << "no normalisation";
}

TEST_F(PathMapping, PersistentNetworkDriveUsesItsRemotePath) {
  RegistryOverride::AddNetworkDrive(L"z", L"\\\\server\\share");
  EXPECT_EQ(Map(L"Z$\\Docs\\a.txt"), L"\\\\server\\share\\Docs\\a.txt");
  EXPECT_EQ(Map(L"Z$"), L"\\\\server\\share");
  // The subkey name is upper-cased, the path's letter is not.
  EXPECT_EQ(Map(L"z$\\x"), L"\\\\?\\z:\\x");
}

TEST_F(PathMapping, SubkeysThatCannotMatchLeaveTheLocalForm) {
  RegistryOverride::AddNetworkDrive(L"YY", L"\\\\server\\long");
  RegistryOverride::CreateKey(HKEY_CURRENT_USER, L"Network\\X");
  EXPECT_EQ(Map(L"Y$\\a"), L"\\\\?\\Y:\\a");
  EXPECT_EQ(Map(L"X$\\a"), L"\\\\?\\X:\\a") << "no RemotePath value";
}

TEST_F(PathMapping, MappingsTakeEffectOnTheNextCall) {
  EXPECT_EQ(Map(L"W$\\f"), L"\\\\?\\W:\\f");
  RegistryOverride::AddNetworkDrive(L"W", L"\\\\host\\w");
  EXPECT_EQ(Map(L"W$\\f"), L"\\\\host\\w\\f");
  ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Network\\W");
  EXPECT_EQ(Map(L"W$\\f"), L"\\\\?\\W:\\f");
}

TEST_F(PathMapping, SanitizeReplacesForbiddenCharactersInEveryComponent) {
  IBackupDataRead* reader = MakeReader();
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(reader->SanitizePath(L"a/b"), L"a_b");
  EXPECT_EQ(reader->SanitizePath(L"x\\y:z"), L"x\\y_z");
  EXPECT_EQ(reader->SanitizePath(L"C:\\a?b"), L"C_\\a_b");
  EXPECT_EQ(reader->SanitizePath(L"C$"), L"C$");
  EXPECT_EQ(reader->SanitizePath(L""), L"");
  EXPECT_EQ(reader->SanitizePath(L"\\\\a\\\\*\"<>|\\"), L"\\\\a\\\\_____\\");
}

} // namespace
} // namespace test
