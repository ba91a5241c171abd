#include "tests/support/ImportReplacement.h"

#include <cstring>

namespace test {

ImportReplacement::ImportReplacement(HMODULE module, const char* library, const char* function,
                                     void* replacement) {
  auto* const base = reinterpret_cast<BYTE*>(module);
  const auto& headers =
      *reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const DWORD imports = headers.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
  for (auto* from = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports); from->Name != 0; ++from) {
    if (::_stricmp(reinterpret_cast<char*>(base + from->Name), library) != 0) continue;
    auto* name = reinterpret_cast<IMAGE_THUNK_DATA*>(base + from->OriginalFirstThunk);
    for (auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + from->FirstThunk); name->u1.AddressOfData != 0;
         ++name, ++slot) {
      if (IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal) ||
          std::strcmp(reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + name->u1.AddressOfData)->Name, function) != 0) {
        continue;
      }
      slot_ = reinterpret_cast<void**>(&slot->u1.Function);
      original_ = *slot_;
      Write(replacement);
      return;
    }
  }
}

ImportReplacement::~ImportReplacement() {
  if (slot_ != nullptr) Write(original_);
}

void ImportReplacement::Write(void* value) {
  DWORD protection = 0;
  ::VirtualProtect(slot_, sizeof(*slot_), PAGE_READWRITE, &protection);
  *slot_ = value;
  ::VirtualProtect(slot_, sizeof(*slot_), protection, &protection);
}

} // namespace test
