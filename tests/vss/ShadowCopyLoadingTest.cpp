// Built once per folder: each folder holds a different (or no) vsnp_2003.dll,
// and EXPECTED_LOAD_FAILURE is the text the fallback must then report.
#include "tests/support/PluginFixture.h"
#include "vmlib/ScopedHandle.h"

namespace test {
namespace {

class ShadowCopyLoading : public PluginTest {};

TEST_F(ShadowCopyLoading, LockedFileReportsWhyTheLibraryCannotServe) {
  const std::wstring file = temp / L"held.txt";
  WriteFileBytes(file, "live");
  VMLib::UniqueFile held(::CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held.valid());
  IBackupDataRead* reader = MakeReader();
  ASSERT_NE(reader, nullptr);

  // Twice: a library that failed to load is looked for again on the next
  // locked file, with the same outcome.
  for (int attempt = 0; attempt < 2; ++attempt) {
    uint32_t id = 5;
    EXPECT_EQ(reader->Open(temp.Virtual(L"held.txt"), OpenRead, id), 1u);
    EXPECT_EQ(id, 0u);
  }
  ASSERT_EQ(log.messages.size(), 4u);
  const std::wstring expected = std::wstring(L"Cannot open file with VSS support because of the following error: ") +
                                EXPECTED_LOAD_FAILURE + L" For more information, please refer to FAQ: \n";
  for (size_t i = 0; i < 4; i += 2) {
    EXPECT_EQ(log.messages[i].level, static_cast<uint32_t>(Info));
    EXPECT_EQ(log.messages[i + 1].level, static_cast<uint32_t>(Warning));
    EXPECT_EQ(log.messages[i + 1].text.rfind(expected, 0), 0u) << log.messages[i + 1].text;
  }
  // Nothing of the library stays loaded after a failed attempt.
  EXPECT_EQ(::GetModuleHandleW(L"vsnp_2003.dll"), nullptr);
}

} // namespace
} // namespace test
