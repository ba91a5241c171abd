// Virtual paths to Windows paths, and name sanitising.
#include "namespace/PathMapping.h"
#include "tests/support/PluginFixture.h"

namespace test {
namespace {

using PathCases = std::initializer_list<std::pair<const wchar_t*, const wchar_t*>>;

class PathMapping : public PluginTest {
protected:
  void ExpectMapped(PathCases cases) {
    for (const auto& [path, expected] : cases) EXPECT_EQ(paths::MapPath(path), expected) << path;
  }
};

TEST_F(PathMapping, LocalPathsGetTheLongPathPrefixAndAColonWithoutNormalisation) {
  ExpectMapped({{L"", L""}, {L"C", L"C"}, {L"C$", L"\\\\?\\C:\\"}, {L"C:", L"\\\\?\\C:\\"}, {L"C$\\", L"\\\\?\\C:\\"},
                {L"C$\\dir\\", L"\\\\?\\C:\\dir\\"}, {L"C_\\Windows\\System32", L"\\\\?\\C:\\Windows\\System32"},
                {L"D$\\a/b\\..\\c", L"\\\\?\\D:\\a/b\\..\\c"}});
}

TEST_F(PathMapping, PersistentNetworkDriveUsesItsRemotePathFromTheNextCallOn) {
  ExpectMapped({{L"Z$\\Docs\\a.txt", L"\\\\?\\Z:\\Docs\\a.txt"}});
  RegistryOverride::AddNetworkDrive(L"z", L"\\\\server\\share");
  RegistryOverride::AddNetworkDrive(L"YY", L"\\\\server\\long");
  RegistryOverride::CreateKey(HKEY_CURRENT_USER, L"Network\\X");
  ExpectMapped({{L"Z$\\Docs\\a.txt", L"\\\\server\\share\\Docs\\a.txt"},
                {L"Z$", L"\\\\server\\share"},
                {L"z$\\x", L"\\\\?\\z:\\x"},  // the subkey is upper-cased, the path's letter is not
                {L"Y$\\a", L"\\\\?\\Y:\\a"},  // a longer subkey never matches
                {L"X$\\a", L"\\\\?\\X:\\a"}}); // no RemotePath value
  ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Network\\z");
  ExpectMapped({{L"Z$\\Docs\\a.txt", L"\\\\?\\Z:\\Docs\\a.txt"}});
}

TEST_F(PathMapping, SanitizeReplacesForbiddenCharactersInEveryComponent) {
  IBackupDataRead* reader = MakeReader();
  for (const auto& [path, expected] : PathCases{{L"a/b", L"a_b"}, {L"x\\y:z", L"x\\y_z"}, {L"C:\\a?b", L"C_\\a_b"},
                                               {L"C$", L"C$"}, {L"", L""},
                                               {L"\\\\a\\\\*\"<>|\\", L"\\\\a\\\\_____\\"}}) {
    EXPECT_EQ(reader->SanitizePath(path), expected) << path;
  }
}

} // namespace
} // namespace test
