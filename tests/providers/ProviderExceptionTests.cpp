#include <string>

#include <gtest/gtest.h>

#include "providers/ProviderException.h"
#include "tests/providers/ProviderTestSupport.h"

namespace {

using Providers::ProviderException;
using ProviderTests::CaptureVssException;

TEST(ProviderException, NamesTheCallAndItsCodeInHex) {
  const auto thrown = CaptureVssException([] {
    throw ProviderException::ForCall(L"DoSnapshotSet", static_cast<int32_t>(0x80042316));
  });
  ASSERT_TRUE(thrown.thrown);
  EXPECT_EQ(L"DoSnapshotSet failed (0x80042316)", thrown.text);
  EXPECT_EQ(static_cast<int32_t>(0x80042316), thrown.code);
}

TEST(ProviderException, DetailFollowsTheCode) {
  const auto thrown = CaptureVssException([] {
    throw ProviderException::ForCall(L"AddToSnapshotSet", 0x0000000A, L"D:\\ cannot be snapshotted");
  });
  EXPECT_EQ(L"AddToSnapshotSet failed (0x0000000A): D:\\ cannot be snapshotted", thrown.text);
}

TEST(ProviderException, LongTextIsCutToItsCapacity) {
  const std::wstring longText(3 * ProviderException::kTextCapacity, L'x');
  ProviderException exception(longText.c_str(), 1);
  const std::wstring kept = exception.GetText();
  EXPECT_EQ(ProviderException::kTextCapacity - 1, kept.size());
  EXPECT_EQ(longText.substr(0, kept.size()), kept);
}

TEST(ProviderException, NullTextGivesAnEmptyText) {
  ProviderException exception(nullptr, 7);
  EXPECT_STREQ(L"", exception.GetText());
  EXPECT_EQ(7, exception.GetErrorCode());
}

} // namespace
