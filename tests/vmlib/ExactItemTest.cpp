// Which reparse points are links. Wine cannot make the other kinds, so the
// tags Windows uses stand in for them.
#include <gtest/gtest.h>

#include "vmlib/ExactItem.h"

namespace test {
namespace {

TEST(ExactItem, OnlyNameSurrogatesAndUntaggedReparsePointsAreLinks) {
  constexpr DWORD kReparse = FILE_ATTRIBUTE_REPARSE_POINT;
  struct Case {
    DWORD attributes;
    DWORD tag;
    bool link;
  };
  const Case cases[] = {
      {kReparse, IO_REPARSE_TAG_SYMLINK, true},
      {kReparse | FILE_ATTRIBUTE_DIRECTORY, IO_REPARSE_TAG_MOUNT_POINT, true},
      {kReparse | FILE_ATTRIBUTE_DIRECTORY, 0, true}, // Wine's link to a folder
      {kReparse, 0x80000013, false},                  // deduplicated file
      {kReparse, 0x9000001A, false},                  // cloud placeholder
      {kReparse, 0x80000017, false},                  // compressed (WOF) file
      {FILE_ATTRIBUTE_NORMAL, IO_REPARSE_TAG_SYMLINK, false},
  };
  for (const Case& each : cases) {
    EXPECT_EQ(VMLib::IsNameSurrogate(each.attributes, each.tag), each.link) << std::hex << each.tag;
  }
}

} // namespace
} // namespace test
