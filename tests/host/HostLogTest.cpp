#include <string>

#include <gtest/gtest.h>

#include "host/HostLog.h"
#include "tests/host/CapturedOutput.h"
#include "tests/support/TempFolder.h"

// The tree commands show warnings and worse; --log keeps every message and
// the summary, timestamped, after what earlier runs left in the file.
TEST(LogFile, KeepsWhatTheConsoleLeavesOutAfterEarlierRuns) {
  test::TempFolder folder;
  const std::wstring path = folder / L"host.log";
  test::WriteFileBytes(path, "earlier run\n");
  hosttest::CapturedOutput console;
  {
    host::HostLog log(console);
    log.OpenFile(path);
    log.SetConsoleLevel(Warning);
    log.Log(Info, L"caf\u00e9 \u6587 is locked");
    log.Log(Warning, L"no shadow copy");
    log.Note(L"Backup finished");
  }
  EXPECT_EQ(console.text(), L"WARNING: no shadow copy\n");
  const std::string bytes = test::ReadFileBytes(path);
  ASSERT_EQ(bytes.rfind("earlier run\n", 0), 0u) << bytes;
  const size_t start = bytes.find('\n') + 1;
  const std::string line = bytes.substr(start, bytes.find('\n', start) - start);
  // "yyyy-mm-dd hh:mm:ss " before the level
  ASSERT_GT(line.size(), 20u) << bytes;
  EXPECT_EQ(line[4], '-');
  EXPECT_EQ(line[13], ':');
  EXPECT_EQ(line.substr(20), "INFO: caf\xC3\xA9 \xE6\x96\x87 is locked");
  EXPECT_NE(bytes.find("WARNING: no shadow copy\n"), std::string::npos) << bytes;
  EXPECT_NE(bytes.find(" Backup finished\n"), std::string::npos) << bytes;
}
