#include "host/jobs/Sha256.h"

#include <cwchar>
#include <iterator>

#include "host/session/HostError.h"
#include "host/session/Text.h"
#include "vmlib/WindowsApi.h"

#include <bcrypt.h>

namespace host {

namespace {

constexpr ULONG kDigestSize = 32;

// CNG returns NTSTATUS values; the system's words for them come through the
// Win32 code they map to, which Windows has no public call for, so the
// number is shown as it is.
[[noreturn]] void ThrowCngError(const wchar_t* call, NTSTATUS status) {
  wchar_t number[16];
  std::swprintf(number, std::size(number), L"0x%08lX", static_cast<unsigned long>(status));
  throw HostError(std::wstring(L"SHA-256: ") + call + L" failed with " + number);
}

} // namespace

void AlgorithmHandleTraits::Close(Type handle) noexcept {
  ::BCryptCloseAlgorithmProvider(handle, /*flags=*/0);
}

void HashHandleTraits::Close(Type handle) noexcept {
  ::BCryptDestroyHash(handle);
}

Sha256::Sha256() {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  const NTSTATUS status = ::BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM,
                                                        /*implementation=*/nullptr, /*flags=*/0);
  algorithm_.reset(algorithm);
  if (!BCRYPT_SUCCESS(status)) ThrowCngError(L"BCryptOpenAlgorithmProvider", status);
  Start();
}

void Sha256::Start() {
  BCRYPT_HASH_HANDLE hash = nullptr;
  // No hash object buffer: CNG allocates it (Windows 7 and later).
  const NTSTATUS status = ::BCryptCreateHash(algorithm_.get(), &hash, /*hashObject=*/nullptr, 0,
                                             /*secret=*/nullptr, 0, /*flags=*/0);
  hash_.reset(hash);
  if (!BCRYPT_SUCCESS(status)) ThrowCngError(L"BCryptCreateHash", status);
}

void Sha256::WriteAll(const void* data, uint32_t size) {
  // CNG takes non-const input but never writes it.
  const NTSTATUS status =
      ::BCryptHashData(hash_.get(), static_cast<PUCHAR>(const_cast<void*>(data)), size, /*flags=*/0);
  if (!BCRYPT_SUCCESS(status)) ThrowCngError(L"BCryptHashData", status);
}

std::wstring Sha256::Finish() {
  UCHAR digest[kDigestSize];
  const NTSTATUS status = ::BCryptFinishHash(hash_.get(), digest, kDigestSize, /*flags=*/0);
  if (!BCRYPT_SUCCESS(status)) ThrowCngError(L"BCryptFinishHash", status);
  Start();
  return ToHex(digest, kDigestSize);
}

} // namespace host
