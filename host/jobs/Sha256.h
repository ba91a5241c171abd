// SHA-256 from the Windows CNG library, fed in pieces, for comparing file
// contents without holding them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "host/jobs/Transfer.h"
#include "vmlib/ScopedHandle.h"

namespace host {

struct AlgorithmHandleTraits {
  using Type = void*; // BCRYPT_ALG_HANDLE
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type handle) noexcept;
};

struct HashHandleTraits {
  using Type = void*; // BCRYPT_HASH_HANDLE
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type handle) noexcept;
};

using UniqueAlgorithm = VMLib::UniqueResource<AlgorithmHandleTraits>;
using UniqueHash = VMLib::UniqueResource<HashHandleTraits>;

// A sink that hashes what it is given. Every failure throws HostError.
class Sha256 final : public ByteSink {
public:
  Sha256();
  void WriteAll(const void* data, uint32_t size) override;
  // Lower-case hex of the digest of everything written since the last
  // Finish; the next write starts a new digest.
  std::wstring Finish();

private:
  void Start();

  UniqueAlgorithm algorithm_;
  UniqueHash hash_;
};

} // namespace host
