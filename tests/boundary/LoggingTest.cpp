// Texts that reach the host's log sink and standard output.
#include "logging/PluginBase.h"
#include "tests/support/PluginFixture.h"

namespace test {
namespace {

using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

// Long enough to show that nothing is cut; ends in a character UTF-8 spends two bytes on.
const std::wstring kLongName = std::wstring(5000, L'a') + L"\u00e9";
const std::string kLongNameUtf8 = std::string(5000, 'a') + "\xc3\xa9";

TEST(Logging, TextsReachTheSinkWholeAndOnlyThoseWithoutACodeAreEchoedInUtf8WithALineEnd) {
  RecordingLog log;
  PluginBase base(&log);
  CaptureStdout();
  base.LogMessage(Warning, L"File '%s' number %u", kLongName.c_str(), 42u);
  base.LogMessage(Info, L"");
  base.LogSystemError(Error, ERROR_ACCESS_DENIED, L"Can't create directory '%s'", kLongName.c_str());
  EXPECT_EQ(GetCapturedStdout(), "File '" + kLongNameUtf8 + "' number 42\n\n");
  const std::wstring denied = WithErrorCode(L"Can't create directory '" + kLongName + L"'", ERROR_ACCESS_DENIED);
  EXPECT_NE(denied.find(L"': "), std::wstring::npos) << "the code has a description";
  EXPECT_EQ(log.messages, (Messages{{Warning, L"File '" + kLongName + L"' number 42"}, {Info, L""}, {Error, denied}}));
}

class NullSink : public PluginTest {};

TEST_F(NullSink, NothingIsPrintedAndOperationsStillAnswer) {
  IBackupDataRead* reader = PluginLibrary::Get().getBackupDataRead(nullptr, &host);
  ASSERT_NE(reader, nullptr);
  char buffer[4];
  uint32_t size = sizeof(buffer), openId = 7;
  CaptureStdout();
  EXPECT_EQ(reader->Read(buffer, size, 2u), 1u);
  EXPECT_EQ(reader->Open(temp.Virtual(L"missing"), OpenRead, openId), 1u);
  EXPECT_EQ(reader->Open(temp.Virtual(L"bad?name"), OpenRead, openId), 1u);
  EXPECT_EQ(GetCapturedStdout(), "");
  reader->Release();
}

} // namespace
} // namespace test
