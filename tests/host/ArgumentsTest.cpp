#include <gtest/gtest.h>

#include "host/Arguments.h"
#include "host/HostError.h"

using host::Command;
using host::Options;
using host::ParseArguments;
using host::ParseBufferSize;
using host::UsageError;

TEST(BufferSize, SuffixesAreBinaryMultiples) {
  EXPECT_EQ(ParseBufferSize(L"64K"), 64u * 1024);
  EXPECT_EQ(ParseBufferSize(L"256k"), 256u * 1024);
  EXPECT_EQ(ParseBufferSize(L"1M"), 1024u * 1024);
  EXPECT_EQ(ParseBufferSize(L"8M"), 8u * 1024 * 1024);
  EXPECT_EQ(ParseBufferSize(L"4096"), 4096u);
  EXPECT_EQ(ParseBufferSize(L"64M"), 64u * 1024 * 1024);
}

TEST(BufferSize, MalformedOrOutOfRangeValuesAreRejected) {
  for (const wchar_t* text : {L"", L"0", L"0K", L"K", L"1X", L"-1", L"1.5M", L"1 M", L"1MB", L"65M",
                              L"67108865", L"99999999999999999999", L"4294967296"}) {
    EXPECT_THROW(ParseBufferSize(text), UsageError) << "accepted '" << std::wstring(text).c_str() << "'";
  }
}

TEST(Arguments, BufferOptionTakesSeparateOrJoinedValue) {
  EXPECT_EQ(ParseArguments({L"get", L"C$\\a", L"a", L"--buffer", L"64K"}).bufferSize, 65536u);
  EXPECT_EQ(ParseArguments({L"put", L"a", L"C$\\a", L"--buffer=256K"}).bufferSize, 262144u);
  EXPECT_EQ(ParseArguments({L"get", L"C$\\a", L"a"}).bufferSize, 1u << 20);
  EXPECT_THROW(ParseArguments({L"get", L"C$\\a", L"a", L"--buffer", L"lots"}), UsageError);
}

TEST(Arguments, GlobalOptionsMayStandBeforeOrAfterTheCommand) {
  const Options before = ParseArguments({L"--data", L"D:\\store", L"--copy-acl", L"ls", L"C$"});
  EXPECT_EQ(before.command, Command::List);
  EXPECT_EQ(before.dataFolder, L"D:\\store");
  EXPECT_TRUE(before.copyAcl);
  EXPECT_FALSE(before.showAcl);
  ASSERT_EQ(before.operands.size(), 1u);
  EXPECT_EQ(before.operands[0], L"C$");

  const Options after = ParseArguments({L"mkdir", L"C$\\x", L"--log", L"run.log"});
  EXPECT_EQ(after.command, Command::MakeFolder);
  EXPECT_EQ(after.logFile, L"run.log");
}

TEST(Arguments, WrongNumberOfOperandsIsAUsageError) {
  EXPECT_THROW(ParseArguments({L"get", L"C$\\a"}), UsageError);
  EXPECT_THROW(ParseArguments({L"ls", L"C$", L"D$"}), UsageError);
  EXPECT_THROW(ParseArguments({L"mkdir"}), UsageError);
  EXPECT_THROW(ParseArguments({L"info", L"extra"}), UsageError);
  EXPECT_THROW(ParseArguments({L"locations", L"remove"}), UsageError);
}

TEST(Arguments, UnknownCommandsAndOptionsAreUsageErrors) {
  EXPECT_THROW(ParseArguments({}), UsageError);
  EXPECT_THROW(ParseArguments({L"copy", L"a", L"b"}), UsageError);
  EXPECT_THROW(ParseArguments({L"ls", L"--all"}), UsageError);
  EXPECT_THROW(ParseArguments({L"locations"}), UsageError);
  EXPECT_THROW(ParseArguments({L"locations", L"rename", L"a"}), UsageError);
}

TEST(Arguments, OptionOfAnotherCommandIsRejected) {
  EXPECT_THROW(ParseArguments({L"ls", L"--buffer", L"1M"}), UsageError);
  EXPECT_THROW(ParseArguments({L"get", L"C$\\a", L"a", L"--keep-attributes"}), UsageError);
  EXPECT_THROW(ParseArguments({L"rm", L"C$\\a", L"--acl"}), UsageError);
  EXPECT_THROW(ParseArguments({L"locations", L"list", L"--share", L"\\\\s\\x"}), UsageError);
  EXPECT_THROW(ParseArguments({L"verify", L"C$\\a", L"C$\\b", L"--incremental"}), UsageError);
  EXPECT_THROW(ParseArguments({L"put", L"a", L"C$\\a", L"--dry-run"}), UsageError);
  const Options restore = ParseArguments({L"restore", L"C$\\b", L"C$\\a", L"--incremental", L"--dry-run"});
  EXPECT_TRUE(restore.incremental && restore.dryRun);
}

TEST(Arguments, MalformedOptionsAreUsageErrors) {
  EXPECT_THROW(ParseArguments({L"ls", L"--data"}), UsageError);
  EXPECT_THROW(ParseArguments({L"ls", L"--data="}), UsageError);
  EXPECT_THROW(ParseArguments({L"ls", L"--copy-acl=yes"}), UsageError);
  EXPECT_THROW(ParseArguments({L"ls", L"--data", L"a", L"--data", L"b"}), UsageError);
}

TEST(Arguments, DoubleDashLetsOperandsBeginWithADash) {
  const Options options = ParseArguments({L"mv", L"--", L"-old", L"--new"});
  EXPECT_EQ(options.command, Command::Move);
  ASSERT_EQ(options.operands.size(), 2u);
  EXPECT_EQ(options.operands[0], L"-old");
  EXPECT_EQ(options.operands[1], L"--new");
}

TEST(Arguments, LocationsAddTakesSettingsAndRequiresShareAndDrive) {
  const Options options = ParseArguments(
      {L"locations", L"add", L"office", L"--share", L"\\\\srv\\docs", L"--drive", L"Z:", L"--password", L"pw"});
  EXPECT_EQ(options.command, Command::LocationsAdd);
  EXPECT_EQ(options.operands.at(0), L"office");
  EXPECT_EQ(options.share, L"\\\\srv\\docs");
  EXPECT_EQ(options.drive, L"Z:");
  EXPECT_TRUE(options.user.empty());
  EXPECT_EQ(options.password.value_or(L""), L"pw");

  EXPECT_THROW(ParseArguments({L"locations", L"add", L"office", L"--drive", L"Z:"}), UsageError);
  EXPECT_THROW(ParseArguments({L"locations", L"add", L"office", L"--share", L"\\\\srv\\docs"}), UsageError);
}
