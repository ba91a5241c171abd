// Work the plug-in does on every call by design, reproduced on its own so a
// benchmark can time it apart from everything else.
#pragma once

#include <cstddef>

namespace bench {

// The registry read of one path mapping: HKCU\Network enumerated afresh, with
// no cache, so that a drive mapped a moment ago counts. Returns the number of
// mapped drives found.
size_t ReadMappingRegistry();

} // namespace bench
