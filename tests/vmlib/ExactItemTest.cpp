// Which reparse points are links. Wine cannot make the other kinds, so the
// tags Windows uses stand in for them.
#include <gtest/gtest.h>

#include <tuple>

#include "vmlib/ExactItem.h"

namespace test {
namespace {

TEST(ExactItem, OnlyNameSurrogatesAndUntaggedReparsePointsAreLinks) {
  constexpr DWORD kReparse = FILE_ATTRIBUTE_REPARSE_POINT;
  // Attributes, tag, and whether that is a link.
  const std::tuple<DWORD, DWORD, bool> cases[] = {
      {kReparse, IO_REPARSE_TAG_SYMLINK, true},
      {kReparse | FILE_ATTRIBUTE_DIRECTORY, IO_REPARSE_TAG_MOUNT_POINT, true},
      {kReparse | FILE_ATTRIBUTE_DIRECTORY, 0, true}, // Wine's link to a folder
      {kReparse, 0x80000013, false},                  // deduplicated file
      {kReparse, 0x9000001A, false},                  // cloud placeholder
      {kReparse, 0x80000017, false},                  // compressed (WOF) file
      {FILE_ATTRIBUTE_NORMAL, IO_REPARSE_TAG_SYMLINK, false},
  };
  for (const auto& [attributes, tag, link] : cases) {
    EXPECT_EQ(VMLib::IsNameSurrogate(attributes, tag), link) << std::hex << tag;
  }
}

} // namespace
} // namespace test
