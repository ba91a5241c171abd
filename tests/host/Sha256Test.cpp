#include <algorithm>
#include <string>

#include <gtest/gtest.h>

#include "host/Sha256.h"

// Digests from FIPS 180-2; each Finish starts the next digest afresh.
TEST(Sha256, KnownDigestsWholeAndInPieces) {
  host::Sha256 sha;
  EXPECT_EQ(sha.Finish(), L"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  sha.WriteAll("abc", 3);
  EXPECT_EQ(sha.Finish(), L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  const std::string piece(997, 'a');
  for (size_t done = 0; done < 1000000; done += piece.size()) {
    sha.WriteAll(piece.data(), static_cast<uint32_t>(std::min(piece.size(), 1000000 - done)));
  }
  EXPECT_EQ(sha.Finish(), L"cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}
