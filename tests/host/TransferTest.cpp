#include <string>

#include <gtest/gtest.h>

#include "host/HostError.h"
#include "host/Transfer.h"
#include "tests/host/FakeData.h"
#include "tests/host/CapturedOutput.h"
#include "tests/support/TempFolder.h"

using host::CopyFromLocal;
using host::CopyToLocal;
using host::HostError;

namespace {

std::string Pattern(size_t size) {
  std::string bytes(size, '\0');
  uint32_t state = 12345;
  for (char& byte : bytes) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<char>(state >> 24);
  }
  return bytes;
}

class Transfers : public ::testing::Test {
protected:
  test::TempFolder folder;
  hosttest::CapturedOutput console;
  host::HostLog log{console};
  hosttest::FakeData data{log};
  const std::wstring source = L"C$\\data\\file.bin";
  const std::wstring local = folder / L"local.bin";
};

} // namespace

TEST_F(Transfers, GetCopiesEveryByteThroughManySmallReads) {
  data.files[source] = Pattern(10007);
  const host::TransferResult result = CopyToLocal(data, log, source, local, 64);
  EXPECT_EQ(result.bytes, 10007u);
  EXPECT_FALSE(result.fromShadowCopy);
  EXPECT_EQ(test::ReadFileBytes(local), data.files[source]);
  EXPECT_EQ(data.calls.front(), L"Open C$\\data\\file.bin 0");
  EXPECT_EQ(data.calls.back(), L"Close");
}

TEST_F(Transfers, GetOfAnEmptyFileCreatesAnEmptyFile) {
  data.files[source] = "";
  EXPECT_EQ(CopyToLocal(data, log, source, local, 1024).bytes, 0u);
  EXPECT_TRUE(test::Exists(local));
  EXPECT_EQ(test::ReadFileBytes(local), "");
}

TEST_F(Transfers, GetOfAMissingItemCreatesNoLocalFile) {
  try {
    CopyToLocal(data, log, source, local, 1024);
    FAIL() << "no failure";
  } catch (const HostError& error) {
    EXPECT_NE(error.message().find(L"Cannot open file"), std::wstring::npos);
  }
  EXPECT_FALSE(test::Exists(local));
}

TEST_F(Transfers, GetFailingMidwayRemovesThePartialLocalFile) {
  data.files[source] = Pattern(5000);
  data.readFailsAt = 3000;
  EXPECT_THROW(CopyToLocal(data, log, source, local, 1000), HostError);
  EXPECT_FALSE(test::Exists(local));
  EXPECT_EQ(data.calls.back(), L"Close");
}

TEST_F(Transfers, GetNoticesAShadowCopyReadThroughTheLog) {
  data.files[source] = "locked contents";
  data.locked = true;
  const host::TransferResult result = CopyToLocal(data, log, source, local, 1024);
  EXPECT_TRUE(result.fromShadowCopy);
  EXPECT_EQ(test::ReadFileBytes(local), "locked contents");
}

TEST_F(Transfers, PutCopiesEveryByteAndClosesTheTarget) {
  const std::string contents = Pattern(70000);
  test::WriteFileBytes(local, contents);
  const host::TransferResult result = CopyFromLocal(data, log, local, source, 4096, /*keepAttributes=*/false);
  EXPECT_EQ(result.bytes, contents.size());
  EXPECT_EQ(data.files[source], contents);
  EXPECT_EQ(data.calls.front(), L"Open C$\\data\\file.bin 2");
  EXPECT_EQ(data.calls.back(), L"Close");
}

TEST_F(Transfers, PutKeepingAttributesOpensInModeOne) {
  test::WriteFileBytes(local, "x");
  CopyFromLocal(data, log, local, source, 4096, /*keepAttributes=*/true);
  EXPECT_EQ(data.calls.front(), L"Open C$\\data\\file.bin 1");
}

TEST_F(Transfers, PutHandsShortWritesTheRestAgain) {
  const std::string contents = Pattern(1000);
  test::WriteFileBytes(local, contents);
  data.writeChunk = 7;
  EXPECT_EQ(CopyFromLocal(data, log, local, source, 256, false).bytes, 1000u);
  EXPECT_EQ(data.files[source], contents);
}

TEST_F(Transfers, PutOnAFullDiskClosesThenRemovesTheTarget) {
  test::WriteFileBytes(local, Pattern(5000));
  data.capacity = 1500;
  try {
    CopyFromLocal(data, log, local, source, 1024, false);
    FAIL() << "no failure";
  } catch (const HostError& error) {
    EXPECT_NE(error.message().find(L"is full"), std::wstring::npos);
  }
  ASSERT_GE(data.calls.size(), 2u);
  EXPECT_EQ(data.calls[data.calls.size() - 2], L"Close");
  EXPECT_EQ(data.calls.back(), L"RemoveFile C$\\data\\file.bin");
  EXPECT_EQ(data.files.count(source), 0u);
}

TEST_F(Transfers, PutOfAMissingLocalFileNeverOpensTheTarget) {
  EXPECT_THROW(CopyFromLocal(data, log, folder / L"absent.bin", source, 1024, false), HostError);
  EXPECT_TRUE(data.calls.empty());
}
