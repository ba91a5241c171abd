// Texts that reach the host's log sink and standard output.
#include "instance/PluginBase.h"
#include "tests/support/PluginFixture.h"

namespace test {
namespace {

using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

TEST(Logging, LogMessageReportsAtItsLevelAndEchoesWithALineEnd) {
  RecordingLog log;
  PluginBase base(&log);
  CaptureStdout();
  base.LogMessage(Warning, L"File '%s' number %u", L"C:\\x\u00e9.txt", 42u);
  const std::string echoed = GetCapturedStdout();
  ASSERT_EQ(log.messages.size(), 1u);
  EXPECT_EQ(log.messages[0].level, static_cast<uint32_t>(Warning));
  EXPECT_EQ(log.messages[0].text, L"File 'C:\\x\u00e9.txt' number 42");
  EXPECT_EQ(echoed, "File 'C:\\x\xc3\xa9.txt' number 42\n");
}

TEST(Logging, LogSystemErrorAppendsTheSystemDescriptionAndDoesNotEcho) {
  RecordingLog log;
  PluginBase base(&log);
  CaptureStdout();
  base.LogSystemError(Error, ERROR_ACCESS_DENIED, L"Can't create directory '%s'", L"C:\\Data\\New");
  EXPECT_EQ(GetCapturedStdout(), "");
  ASSERT_EQ(log.messages.size(), 1u);
  EXPECT_EQ(log.messages[0].level, static_cast<uint32_t>(Error));
  EXPECT_EQ(log.messages[0].text, WithErrorCode(L"Can't create directory 'C:\\Data\\New'", ERROR_ACCESS_DENIED));
  EXPECT_NE(log.messages[0].text.find(L"': "), std::wstring::npos) << "the code has a description";
}

TEST(Logging, CodeWithoutDescriptionGivesOnlyTheCodeInLowerCaseHex) {
  // Customer-defined code with the top bit set: no system text, no sign.
  EXPECT_EQ(ComposeErrorText(L"text", 0xE00000ABu), L"text (0xe00000ab)");
}

TEST(Logging, CodeZeroStillGetsItsSuffixAndEightZeros) {
  const std::wstring text = ComposeErrorText(L"check.", 0);
  EXPECT_EQ(text, WithErrorCode(L"check.", 0));
  EXPECT_EQ(text.substr(text.size() - 13), L" (0x00000000)");
}

TEST(Logging, LongTextsArriveWhole) {
  RecordingLog log;
  PluginBase base(&log);
  const std::wstring path = L"C:\\" + std::wstring(5000, L'a');
  CaptureStdout();
  base.LogMessage(Error, L"Path '%s' is long", path.c_str());
  base.LogSystemError(Error, ERROR_FILE_NOT_FOUND, L"Cannot open file '%s'", path.c_str());
  GetCapturedStdout();
  ASSERT_EQ(log.messages.size(), 2u);
  EXPECT_EQ(log.messages[0].text, L"Path '" + path + L"' is long");
  EXPECT_EQ(log.messages[1].text, WithErrorCode(L"Cannot open file '" + path + L"'", ERROR_FILE_NOT_FOUND));
}

TEST(Logging, EmptyFormatReportsAnEmptyText) {
  RecordingLog log;
  PluginBase base(&log);
  CaptureStdout();
  base.LogMessage(Info, L"");
  EXPECT_EQ(GetCapturedStdout(), "\n");
  ASSERT_EQ(log.messages.size(), 1u);
  EXPECT_EQ(log.messages[0].text, L"");
}

TEST(Logging, NullSinkReportsAndPrintsNothing) {
  PluginBase base(nullptr);
  CaptureStdout();
  base.LogMessage(Error, L"nothing %s", L"here");
  base.LogSystemError(Error, 5, L"nothing");
  EXPECT_EQ(GetCapturedStdout(), "");
}

class NullSinkInstance : public PluginTest {};

TEST_F(NullSinkInstance, OperationsStillAnswerWithoutASink) {
  IBackupDataRead* reader = PluginLibrary::Get().getBackupDataRead(nullptr, &host);
  ASSERT_NE(reader, nullptr);
  char buffer[4];
  uint32_t size = sizeof(buffer);
  const uint32_t id = 2;
  CaptureStdout();
  EXPECT_EQ(reader->Read(buffer, size, id), 1u);
  uint32_t openId = 7;
  EXPECT_EQ(reader->Open(temp.Virtual(L"bad?name"), OpenRead, openId), 1u);
  EXPECT_EQ(GetCapturedStdout(), "");
  EXPECT_EQ(openId, 7u);
  reader->Release();
}

} // namespace
} // namespace test
