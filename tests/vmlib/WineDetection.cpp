#include "tests/vmlib/WineDetection.h"

#include "vmlib/ScopedHandle.h"

namespace VMLib::tests {

bool RunningUnderWine() {
  using WineGetVersionFn = const char*(__cdecl*)();
  return GetFunction<WineGetVersionFn>(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

} // namespace VMLib::tests
