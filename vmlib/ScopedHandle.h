// One owning type per kind of Windows resource. Each knows its invalid value and
// its close function; CloseHandle, FindClose, RegCloseKey, FreeLibrary and
// LocalFree appear nowhere else.
#pragma once

#include <utility>

#include "vmlib/WindowsApi.h"

namespace VMLib {

template <typename Traits>
class UniqueResource {
public:
  using Type = typename Traits::Type;

  UniqueResource() noexcept : value_(Traits::Invalid()) {}
  explicit UniqueResource(Type value) noexcept : value_(value) {}
  UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  ~UniqueResource() { reset(); }

  bool valid() const noexcept { return value_ != Traits::Invalid(); }
  explicit operator bool() const noexcept { return valid(); }
  Type get() const noexcept { return value_; }

  // Closing must not disturb a last-error value the caller is about to read.
  void reset(Type value = Traits::Invalid()) noexcept {
    if (valid()) {
      const DWORD savedError = ::GetLastError();
      Traits::Close(value_);
      ::SetLastError(savedError);
    }
    value_ = value;
  }

  Type release() noexcept {
    return std::exchange(value_, Traits::Invalid());
  }

  // For out-parameters of the APIs that create the resource.
  Type* put() noexcept {
    reset();
    return &value_;
  }

private:
  Type value_;
};

struct FileHandleTraits {
  using Type = HANDLE;
  static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Type h) noexcept { ::CloseHandle(h); }
};

// Tokens, events and other kernel objects report failure as null.
struct KernelHandleTraits {
  using Type = HANDLE;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { ::CloseHandle(h); }
};

struct FindHandleTraits {
  using Type = HANDLE;
  static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Type h) noexcept { ::FindClose(h); }
};

struct RegistryKeyTraits {
  using Type = HKEY;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { ::RegCloseKey(h); }
};

struct ModuleTraits {
  using Type = HMODULE;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { ::FreeLibrary(h); }
};

struct LocalMemoryTraits {
  using Type = HLOCAL;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { ::LocalFree(h); }
};

using UniqueFile = UniqueResource<FileHandleTraits>;
using UniqueKernelHandle = UniqueResource<KernelHandleTraits>;
using UniqueFind = UniqueResource<FindHandleTraits>;
using UniqueRegistryKey = UniqueResource<RegistryKeyTraits>;
using UniqueModule = UniqueResource<ModuleTraits>;
using UniqueLocalMemory = UniqueResource<LocalMemoryTraits>;

// Typed GetProcAddress: null when the export is missing.
template <typename Fn>
Fn GetFunction(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

} // namespace VMLib
