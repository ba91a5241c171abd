// Built once per folder: each folder holds a different (or no) vsnp_2003.dll,
// and EXPECTED_LOAD_FAILURE is the text the fallback must then report.
#include "tests/support/PluginFixture.h"

namespace test {
namespace {

class ShadowCopyLoading : public PluginTest {};

TEST_F(ShadowCopyLoading, LockedFileReportsWhyTheLibraryCannotServe) {
  IBackupDataRead* reader = MakeReader();
  // Twice: a library that failed to load is looked for again on the next
  // locked file, with the same outcome.
  for (int attempt = 0; attempt < 2; ++attempt) ExpectHeldOpenFails(*reader, L"held.txt", EXPECTED_LOAD_FAILURE);
  // Nothing of the library, nor the service it loads, stays loaded after a
  // failed attempt.
  EXPECT_EQ(::GetModuleHandleW(L"vsnp_2003.dll"), nullptr);
  EXPECT_EQ(::GetModuleHandleW(L"vssapi.dll"), nullptr);
}

} // namespace
} // namespace test
