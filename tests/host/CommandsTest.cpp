#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "host/Commands.h"
#include "host/Format.h"
#include "tests/host/FakeData.h"
#include "tests/host/CapturedOutput.h"
#include "tests/support/TempFolder.h"

using host::HostError;
using hosttest::CapturedOutput;

namespace {

FolderEntry Entry(const std::wstring& name, uint32_t attributes, uint64_t size = 0) {
  FileInfo info;
  info.attributes = attributes;
  info.size = size;
  return FolderEntry(name, info);
}

class Commands : public ::testing::Test {
protected:
  // Runs one command line against the fake plug-in; the output is in `out`.
  void Run(const std::vector<std::wstring>& args) {
    const host::Options options = host::ParseArguments(args);
    host::RunPluginCommand({options, session, log, out, dataFolder});
  }

  // The listing line that ends in `name`; empty when there is none.
  std::wstring LineOf(const std::wstring& name) const {
    std::wistringstream lines(out.text());
    for (std::wstring line; std::getline(lines, line);) {
      if (line.size() >= name.size() && line.compare(line.size() - name.size(), name.size(), name) == 0) {
        return line;
      }
    }
    return L"";
  }

  CapturedOutput out;
  host::HostLog log{out};
  hosttest::FakeData data{log};
  hosttest::FakeSession session{data};
  const host::DataFolder dataFolder{L"C:\\store", L"C:\\store"};
};

} // namespace

TEST_F(Commands, ListingTheRootShowsDrives) {
  data.folders[L""] = {Entry(L"C$", FILE_ATTRIBUTE_DIRECTORY), Entry(L"Z$", FILE_ATTRIBUTE_DIRECTORY)};
  Run({L"ls"});
  EXPECT_EQ(LineOf(L"C$").rfind(L"DRIVE", 0), 0u) << out.text();
  EXPECT_EQ(LineOf(L"Z$").rfind(L"DRIVE", 0), 0u) << out.text();
}

TEST_F(Commands, ListingShowsTypeSizeAndAttributes) {
  data.folders[L"C$\\d"] = {Entry(L"sub", FILE_ATTRIBUTE_DIRECTORY),
                            Entry(L"big.bin", FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY, 1258291)};
  Run({L"ls", L"C$\\d"});
  const std::wstring folderLine = LineOf(L"sub");
  const std::wstring fileLine = LineOf(L"big.bin");
  EXPECT_EQ(folderLine.rfind(L"DIR ", 0), 0u) << out.text();
  EXPECT_EQ(fileLine.rfind(L"FILE ", 0), 0u) << out.text();
  EXPECT_NE(fileLine.find(L"1.2 MiB"), std::wstring::npos);
  EXPECT_NE(fileLine.find(L" RA "), std::wstring::npos);
}

TEST_F(Commands, ListingShowsOnlyTheTimesMarkedValid) {
  FolderEntry entry = Entry(L"f.txt", FILE_ATTRIBUTE_ARCHIVE);
  entry.info.lastWriteTime = 16148343670000000ll;
  entry.info.creationTime = 16148343670000000ll;
  entry.info.validFields = FieldLastWriteTime;
  data.folders[L"C$\\d"] = {entry};
  Run({L"ls", L"C$\\d"});
  const std::wstring line = LineOf(L"f.txt");
  const std::wstring modified = host::FormatFileTime(host::FileTimeFromTime(entry.info.lastWriteTime));
  EXPECT_NE(line.find(modified + L"  -  "), std::wstring::npos) << line;
}

TEST_F(Commands, ListingWithAclPrintsTheDescriptorUnderItsEntry) {
  FolderEntry entry = Entry(L"f.txt", FILE_ATTRIBUTE_ARCHIVE);
  entry.info.aclRights = L"O:BAG:SYD:(A;;FA;;;BA)";
  data.folders[L"C$\\d"] = {entry};
  Run({L"ls", L"C$\\d"});
  EXPECT_EQ(out.text().find(L"O:BAG:SYD"), std::wstring::npos);
  Run({L"ls", L"C$\\d", L"--acl"});
  EXPECT_NE(out.text().find(L"f.txt\n      ACL O:BAG:SYD:(A;;FA;;;BA)\n"), std::wstring::npos) << out.text();
}

TEST_F(Commands, ListingAMissingFolderFailsWithNotFound) {
  try {
    Run({L"ls", L"C$\\nothing"});
    FAIL() << "no failure";
  } catch (const HostError& error) {
    EXPECT_NE(error.message().find(L"not found"), std::wstring::npos);
  }
}

TEST_F(Commands, RemoveChoosesFolderOrFileByTheItemsAttributes) {
  data.infos[L"C$\\dir"] = Entry(L"dir", FILE_ATTRIBUTE_DIRECTORY).info;
  data.infos[L"C$\\file"] = Entry(L"file", FILE_ATTRIBUTE_ARCHIVE).info;
  Run({L"rm", L"C$\\dir"});
  Run({L"rm", L"C$\\file"});
  ASSERT_EQ(data.calls.size(), 2u);
  EXPECT_EQ(data.calls[0], L"RemoveFolder C$\\dir");
  EXPECT_EQ(data.calls[1], L"RemoveFile C$\\file");
  EXPECT_THROW(Run({L"rm", L"C$\\gone"}), HostError);
  EXPECT_EQ(data.calls.size(), 2u);
}

TEST_F(Commands, FailedChangeCarriesThePluginsMessage) {
  data.changeStatus = StatusFailure;
  try {
    Run({L"mv", L"C$\\a", L"C$\\b"});
    FAIL() << "no failure";
  } catch (const HostError& error) {
    EXPECT_NE(error.message().find(L"(status 1): Cannot do MoveItem C$\\a C$\\b"), std::wstring::npos)
        << error.message().c_str();
  }
}

TEST_F(Commands, InfoReleasesInstancesAndListsDrives) {
  data.folders[L""] = {Entry(L"C$", FILE_ATTRIBUTE_DIRECTORY), Entry(L"D$", FILE_ATTRIBUTE_DIRECTORY)};
  Run({L"info"});
  EXPECT_EQ(session.released, 1);
  EXPECT_NE(out.text().find(L"Computer 1.0"), std::wstring::npos);
  EXPECT_NE(out.text().find(L"3 (read, write)"), std::wstring::npos);
  EXPECT_NE(out.text().find(L"C$ D$\n"), std::wstring::npos);
  EXPECT_NE(out.text().find(L"C:\\store\n"), std::wstring::npos);
}

TEST_F(Commands, InfoRejectsAnotherPlugin) {
  data.folders[L""] = {};
  session.description.version = L"2.0";
  EXPECT_THROW(Run({L"info"}), HostError);
}

TEST_F(Commands, GetReportsAShadowCopyRead) {
  test::TempFolder folder;
  data.files[L"C$\\db"] = "rows";
  data.locked = true;
  Run({L"get", L"C$\\db", folder / L"db"});
  EXPECT_NE(out.text().find(L"read from a shadow copy"), std::wstring::npos) << out.text();
}

TEST(HostRun, ExitCodesTellUsageFromFailure) {
  test::TempFolder folder;
  CapturedOutput out;
  CapturedOutput err;
  EXPECT_EQ(host::Run({}, out, err), 2);
  EXPECT_EQ(host::Run({L"get", L"C$\\a"}, out, err), 2);
  EXPECT_EQ(host::Run({L"help"}, out, err), 0);
  EXPECT_EQ(host::Run({L"--data", folder.path(), L"locations", L"remove", L"nothing"}, out, err), 1);
  // NO_PLUGIN: the test folder holds no Diskway.dll.
  EXPECT_EQ(host::Run({L"--data", folder.path(), L"info"}, out, err), 1);
  EXPECT_NE(err.text().find(L"Diskway.dll"), std::wstring::npos);
}

TEST(HostRun, LocationsListNeverShowsThePassword) {
  test::TempFolder folder;
  CapturedOutput out;
  CapturedOutput err;
  ASSERT_EQ(host::Run({L"--data", folder.path(), L"locations", L"add", L"office", L"--share", L"\\\\srv\\docs",
                       L"--drive", L"Z:", L"--user", L"bob", L"--password", L"hunter2"},
                      out, err),
            0)
      << err.text();
  EXPECT_EQ(host::Run({L"--data", folder.path(), L"locations", L"list"}, out, err), 0);
  EXPECT_NE(out.text().find(L"(password set)"), std::wstring::npos) << out.text();
  EXPECT_EQ(out.text().find(L"hunter2"), std::wstring::npos);
}
