// Answers in place of a system call that one module makes, for as long as
// the object lives: where Wine answers differently from Windows, or has
// only a stub, a test puts Windows' answer in through the module's import
// address table.
#pragma once

#include "vmlib/WindowsApi.h"

namespace test {

class ImportReplacement {
public:
  // `module`'s import of `function` from `library` (any case) now calls
  // `replacement`; active() is false when there is no such import.
  ImportReplacement(HMODULE module, const char* library, const char* function, void* replacement);
  ~ImportReplacement();
  ImportReplacement(const ImportReplacement&) = delete;
  ImportReplacement& operator=(const ImportReplacement&) = delete;

  bool active() const { return slot_ != nullptr; }

private:
  void Write(void* value);

  void** slot_ = nullptr;
  void* original_ = nullptr;
};

} // namespace test
