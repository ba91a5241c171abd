#include "bench/PluginCosts.h"

#include "vmlib/VMLib.h"

namespace bench {

size_t ReadMappingRegistry() {
  VMLib::system::CRegistry registry(HKEY_CURRENT_USER);
  return registry.EnumSubKeys(L"Network").size();
}

} // namespace bench
