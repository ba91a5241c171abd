#include <gtest/gtest.h>

#include "vmlib/VMLib.h"
#include "vmlib/VersionMapping.h"

namespace {

using namespace VMLib::system;

TEST(vmlib_WinVersion, ReportsAtLeastXpAndKnownArchitecture) {
  WinVersion version = WinUnknown;
  WinArchitecture architecture = ArchUnknown;
  ASSERT_TRUE(GetWinVersion(version, architecture));
  EXPECT_GE(version, WinXP);
  EXPECT_NE(architecture, ArchUnknown);
}

struct VersionRow {
  DWORD platform, major, minor, build;
  WinVersion expected;
};

TEST(vmlib_WinVersion, MapsEveryKnownRelease) {
  const VersionRow rows[] = {
      {VER_PLATFORM_WIN32_WINDOWS, 4, 10, 2222, Win9x},
      {VER_PLATFORM_WIN32_NT, 4, 0, 1381, WinNT4},
      {VER_PLATFORM_WIN32_NT, 5, 0, 2195, Win2000},
      {VER_PLATFORM_WIN32_NT, 5, 1, 2600, WinXP},
      {VER_PLATFORM_WIN32_NT, 5, 2, 3790, WinServer2003},
      {VER_PLATFORM_WIN32_NT, 6, 0, 6002, WinVista},
      {VER_PLATFORM_WIN32_NT, 6, 1, 7601, Win7},
      {VER_PLATFORM_WIN32_NT, 6, 2, 9200, Win8},
      {VER_PLATFORM_WIN32_NT, 6, 3, 9600, Win81},
      {VER_PLATFORM_WIN32_NT, 10, 0, 10240, Win10},
      {VER_PLATFORM_WIN32_NT, 10, 0, 21999, Win10},
      {VER_PLATFORM_WIN32_NT, 10, 0, 22000, Win11},
      {VER_PLATFORM_WIN32_NT, 10, 0, 26100, Win11},
  };
  for (const VersionRow& row : rows) {
    EXPECT_EQ(detail::MapVersion(row.platform, row.major, row.minor, row.build), row.expected)
        << row.major << "." << row.minor << "." << row.build;
  }
}

TEST(vmlib_WinVersion, LaterReleaseCountsAsNewestKnown) {
  EXPECT_EQ(detail::MapVersion(VER_PLATFORM_WIN32_NT, 11, 0, 30000), Win11);
}

TEST(vmlib_WinVersion, UndescribedVersionIsUnknown) {
  EXPECT_EQ(detail::MapVersion(VER_PLATFORM_WIN32_NT, 3, 51, 1057), WinUnknown);
  EXPECT_EQ(detail::MapVersion(VER_PLATFORM_WIN32s, 3, 10, 0), WinUnknown);
}

TEST(vmlib_WinVersion, MapsArchitectures) {
  EXPECT_EQ(detail::MapArchitecture(PROCESSOR_ARCHITECTURE_INTEL), ArchX86);
  EXPECT_EQ(detail::MapArchitecture(PROCESSOR_ARCHITECTURE_AMD64), ArchX64);
  EXPECT_EQ(detail::MapArchitecture(PROCESSOR_ARCHITECTURE_ARM64), ArchArm64);
  EXPECT_EQ(detail::MapArchitecture(PROCESSOR_ARCHITECTURE_IA64), ArchUnknown);
}

TEST(vmlib_IsWow64, FalseForNativeProcess) {
#if defined(_WIN64)
  EXPECT_FALSE(IsWow64());
#else
  GTEST_SKIP() << "a 32-bit build may run under WOW64";
#endif
}

} // namespace
