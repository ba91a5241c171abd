// Built once per folder: each folder holds a different (or no) vsnp_2003.dll,
// and EXPECTED_LOAD_FAILURE is the text the fallback must then report.
#include "tests/support/PluginFixture.h"

namespace test {
namespace {

class ShadowCopyLoading : public PluginTest {};

TEST_F(ShadowCopyLoading, LockedFileReportsWhyTheLibraryCannotServe) {
  WriteFileBytes(temp / L"held.txt", "live");
  VMLib::UniqueFile held = HoldExclusively(temp / L"held.txt");
  IBackupDataRead* reader = MakeReader();
  ASSERT_NE(reader, nullptr);

  // Twice: a library that failed to load is looked for again on the next
  // locked file, with the same outcome.
  for (int attempt = 0; attempt < 2; ++attempt) {
    uint32_t id = 5;
    EXPECT_EQ(reader->Open(temp.Virtual(L"held.txt"), OpenRead, id), 1u);
    EXPECT_EQ(id, 0u);
    ExpectLogged(
        {{Info, LockedFileNotice(temp.Real(L"held.txt"))}, {Warning, ShadowCopyFailure(EXPECTED_LOAD_FAILURE)}});
  }
  // Nothing of the library, nor the service it loads, stays loaded after a
  // failed attempt.
  EXPECT_EQ(::GetModuleHandleW(L"vsnp_2003.dll"), nullptr);
  EXPECT_EQ(::GetModuleHandleW(L"vssapi.dll"), nullptr);
}

} // namespace
} // namespace test
