#include <string>

#include <gtest/gtest.h>

#include "host/HostLog.h"
#include "tests/host/CapturedOutput.h"
#include "tests/support/TempFolder.h"

using host::HostLog;
using hosttest::CapturedOutput;

namespace {

const wchar_t kLockedNotice[] = L"File '\\\\?\\C:\\data\\db.mdf' is locked. Trying to open file with VSS support.";

class LogSink : public ::testing::Test {
protected:
  CapturedOutput console;
  HostLog log{console};
};

} // namespace

TEST_F(LogSink, ConsoleLineCarriesTheLevelName) {
  log.Log(Info, L"one");
  log.Log(Warning, L"two");
  log.Log(Error, L"three");
  log.Log(Critical, L"four");
  EXPECT_EQ(console.text(), L"INFO: one\nWARNING: two\nERROR: three\nCRITICAL: four\n");
}

TEST_F(LogSink, CountsAndKeepsTheLastMessagePerLevel) {
  log.Log(Warning, L"first warning");
  log.Log(Error, L"the error");
  log.Log(Warning, L"second warning");
  EXPECT_EQ(log.Count(Info), 0u);
  EXPECT_EQ(log.Count(Warning), 2u);
  EXPECT_EQ(log.Count(Error), 1u);
  EXPECT_EQ(log.LastMessage(Warning), L"second warning");
  EXPECT_EQ(log.LastMessage(Error), L"the error");
  EXPECT_EQ(log.LastMessage(Critical), L"");
  EXPECT_EQ(log.MessageCount(), 3u);
}

TEST_F(LogSink, UnknownLevelsCountAsCriticalAndShowTheirNumber) {
  log.Log(9, L"odd");
  EXPECT_EQ(log.Count(Critical), 1u);
  EXPECT_EQ(log.LastMessage(Critical), L"odd");
  EXPECT_EQ(console.text(), L"LEVEL 9: odd\n");
}

TEST_F(LogSink, LastProblemIsTheMostSevereAfterTheMark) {
  log.Log(Error, L"old error");
  const uint64_t mark = log.MessageCount();
  EXPECT_EQ(log.LastProblemSince(mark), L"");
  log.Log(Info, L"notice");
  EXPECT_EQ(log.LastProblemSince(mark), L"");
  log.Log(Warning, L"warning");
  log.Log(Error, L"new error");
  log.Log(Warning, L"later warning");
  EXPECT_EQ(log.LastProblemSince(mark), L"new error");
  EXPECT_EQ(log.LastProblemSince(log.MessageCount()), L"");
}

TEST_F(LogSink, PluginFailureNamesStatusAndPluginReason) {
  const uint64_t mark = log.MessageCount();
  EXPECT_EQ(host::PluginFailure(log, mark, L"cannot create 'C$\\x'", 1).message(),
            L"cannot create 'C$\\x' (status 1)");
  log.Log(Error, L"Can't create directory");
  EXPECT_EQ(host::PluginFailure(log, mark, L"cannot create 'C$\\x'", 1).message(),
            L"cannot create 'C$\\x' (status 1): Can't create directory");
}

TEST_F(LogSink, OnlyTheInfoLockedNoticeCountsAsShadowCopy) {
  log.Log(Warning, kLockedNotice);
  log.Log(Info, L"File 'x' is open.");
  EXPECT_EQ(log.ShadowCopyNotices(), 0u);
  log.Log(Info, kLockedNotice);
  EXPECT_EQ(log.ShadowCopyNotices(), 1u);
  EXPECT_TRUE(host::IsShadowCopyNotice(Info, L"File '' is locked. Trying to open file with VSS support."));
  EXPECT_FALSE(host::IsShadowCopyNotice(Info, L"' is locked. Trying to open file with VSS support."));
}

TEST(LogFile, LogFileGetsTimestampedUtf8Lines) {
  test::TempFolder folder;
  const std::wstring path = folder / L"host.log";
  {
    CapturedOutput console;
    HostLog log(console);
    log.OpenFile(path);
    log.Log(Error, L"caf\u00e9 \u6587");
    log.Log(Info, nullptr);
  }
  const std::string bytes = test::ReadFileBytes(path);
  const size_t first = bytes.find('\n');
  ASSERT_NE(first, std::string::npos);
  const std::string line = bytes.substr(0, first);
  // "yyyy-mm-dd hh:mm:ss " before the level
  ASSERT_GT(line.size(), 20u);
  EXPECT_EQ(line[4], '-');
  EXPECT_EQ(line[10], ' ');
  EXPECT_EQ(line[13], ':');
  EXPECT_EQ(line.substr(20), "ERROR: caf\xC3\xA9 \xE6\x96\x87");
  EXPECT_EQ(bytes.substr(first + 21), "INFO: \n");
}

TEST(LogFile, LogFileIsAppendedTo) {
  test::TempFolder folder;
  const std::wstring path = folder / L"host.log";
  test::WriteFileBytes(path, "earlier run\n");
  {
    CapturedOutput console;
    HostLog log(console);
    log.OpenFile(path);
    log.Log(Warning, L"now");
  }
  const std::string bytes = test::ReadFileBytes(path);
  EXPECT_EQ(bytes.rfind("earlier run\n", 0), 0u);
  EXPECT_NE(bytes.find("WARNING: now\n"), std::string::npos);
}

TEST(LogFile, NoticesBelowTheConsoleLevelGoToTheFileOnly) {
  test::TempFolder folder;
  const std::wstring path = folder / L"host.log";
  CapturedOutput console;
  {
    HostLog log(console);
    log.OpenFile(path);
    log.SetConsoleLevel(Warning);
    log.Log(Info, L"locked, trying a shadow copy");
    log.Log(Warning, L"no shadow copy");
    log.Note(L"Backup finished");
  }
  EXPECT_EQ(console.text(), L"WARNING: no shadow copy\n");
  const std::string bytes = test::ReadFileBytes(path);
  EXPECT_NE(bytes.find("INFO: locked, trying a shadow copy\n"), std::string::npos) << bytes;
  EXPECT_NE(bytes.find("WARNING: no shadow copy\n"), std::string::npos) << bytes;
  EXPECT_NE(bytes.find(" Backup finished\n"), std::string::npos) << bytes;
}
