#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "host/Arguments.h"
#include "host/Commands.h"
#include "tests/host/CapturedOutput.h"
#include "tests/support/TempFolder.h"

using hosttest::CapturedOutput;

TEST(Arguments, BufferSizesAreBinaryMultiplesUpTo64M) {
  const std::pair<std::vector<std::wstring>, uint32_t> cases[] = {
      {{L"get", L"C$\\a", L"a"}, 1u << 20},
      {{L"get", L"C$\\a", L"a", L"--buffer", L"4096"}, 4096u},
      {{L"put", L"a", L"C$\\a", L"--buffer=256k"}, 256u << 10},
      {{L"backup", L"C$\\a", L"C$\\b", L"--buffer", L"1M"}, 1u << 20},
      {{L"--buffer", L"64M", L"verify", L"C$\\a", L"C$\\b"}, 64u << 20},
  };
  for (const auto& [args, bytes] : cases) {
    EXPECT_EQ(host::ParseArguments(args).bufferSize, bytes) << args.back().c_str();
  }
}

// Exit code 2 is bad usage, with the usage text; 1 a command that failed.
TEST(Arguments, ExitCodesTellUsageFromFailure) {
  test::TempFolder folder;
  const std::wstring data = folder.path();
  std::vector<std::pair<std::vector<std::wstring>, int>> cases = {
      {{}, 2}, {{L"copy", L"a", L"b"}, 2}, {{L"locations"}, 2}, {{L"ls", L"--all"}, 2},
      // operands and options of the wrong number or command
      {{L"get", L"C$\\a"}, 2}, {{L"ls", L"C$", L"D$"}, 2}, {{L"ls", L"--buffer", L"1M"}, 2},
      {{L"put", L"a", L"C$\\a", L"--dry-run"}, 2}, {{L"rm", L"C$\\a", L"--acl"}, 2},
      {{L"ls", L"--data"}, 2}, {{L"ls", L"--copy-acl=yes"}, 2}, {{L"ls", L"--data", L"a", L"--data", L"b"}, 2},
      {{L"locations", L"add", L"office", L"--drive", L"Z:"}, 2},
      // the password never on the command line
      {{L"locations", L"add", L"o", L"--share", L"\\\\s\\d", L"--drive", L"Z:", L"--password", L"x"}, 2},
      {{L"locations", L"add", L"o", L"--share", L"\\\\s\\d", L"--drive", L"Z:", L"--password-stdin"}, 2},
      // only virtual paths, and the items a command can act on
      {{L"put", L"a", L"y"}, 2}, {{L"mv", L".", L"C$\\a"}, 2}, {{L"ls", L"C:\\a"}, 2},
      {{L"stat", L"\\\\?\\C:\\a"}, 2}, {{L"get", L"C$\\a\\..\\b", L"b"}, 2}, {{L"rm", L"C$"}, 2},
      {{L"backup", L"C$\\a", L""}, 2}, {{L"mkdir", L"C$\\a\\\\b"}, 2},
      {{L"help"}, 0}, {{L"--data", data, L"locations", L"remove", L"nothing"}, 1},
      // NO_PLUGIN: no Diskway.dll beside the test program.
      {{L"--data", data, L"info"}, 1},
  };
  for (const wchar_t* size : {L"", L"0", L"K", L"1X", L"-1", L"1.5M", L"1 M", L"1MB", L"65M", L"67108865",
                              L"4294967296", L"99999999999999999999"}) {
    cases.push_back({{L"get", L"C$\\a", L"a", std::wstring(L"--buffer=") + size}, 2});
  }
  for (const auto& [args, exitCode] : cases) {
    CapturedOutput out;
    CapturedOutput err;
    const std::wstring line = args.empty() ? L"(nothing)" : args.back();
    EXPECT_EQ(host::Run(args, out, err), exitCode) << line.c_str();
    EXPECT_EQ(err.text().find(L"usage: diskway-host") != std::wstring::npos, exitCode == 2) << line.c_str();
  }
}
