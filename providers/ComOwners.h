// Owners for what the shadow-copy API hands out: COM interface pointers and BSTRs.
#pragma once

#include <utility>

#include "vmlib/WindowsApi.h"
#include <objbase.h>
#include <oleauto.h>

#include "vmlib/ScopedHandle.h"

namespace Providers {

// Holds one reference and releases it; put() is for factory out-parameters.
template <typename Interface>
class ComPtr {
public:
  ComPtr() noexcept = default;
  ComPtr(ComPtr&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) {
      reset();
      pointer_ = std::exchange(other.pointer_, nullptr);
    }
    return *this;
  }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ~ComPtr() { reset(); }

  Interface* get() const noexcept { return pointer_; }
  Interface* operator->() const noexcept { return pointer_; }
  explicit operator bool() const noexcept { return pointer_ != nullptr; }

  void reset() noexcept {
    if (pointer_ != nullptr) std::exchange(pointer_, nullptr)->Release();
  }

  Interface** put() noexcept {
    reset();
    return &pointer_;
  }

private:
  Interface* pointer_ = nullptr;
};

struct BstrTraits {
  using Type = BSTR;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type text) noexcept { ::SysFreeString(text); }
};

using UniqueBstr = VMLib::UniqueResource<BstrTraits>;

} // namespace Providers
