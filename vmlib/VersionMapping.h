// Private to VMLib and its tests: how the numbers Windows reports map to the
// enumerations of VMLib.h. Kept apart from the system calls so rows the test
// machine does not produce (such as the Windows 11 build boundary) can be
// tested.
#pragma once

#include "vmlib/VMLib.h"

namespace VMLib {
namespace system {
namespace detail {

// WinUnknown for what no enumerator describes (NT 3.x, unknown platforms).
inline WinVersion MapVersion(DWORD platformId, DWORD major, DWORD minor, DWORD build) {
  if (platformId == VER_PLATFORM_WIN32_WINDOWS) return Win9x;
  if (platformId != VER_PLATFORM_WIN32_NT) return WinUnknown;
  if (major == 4) return WinNT4;
  if (major == 5) {
    if (minor == 0) return Win2000;
    if (minor == 1) return WinXP;
    return WinServer2003; // 5.2: Server 2003 and XP x64
  }
  if (major == 6) {
    switch (minor) {
    case 0: return WinVista;
    case 1: return Win7;
    case 2: return Win8;
    case 3: return Win81;
    default: return Win10; // 6.4 was the Windows 10 preview
    }
  }
  // Windows 11 still reports 10.0; only the build number tells it apart.
  if (major == 10) return build < 22000 ? Win10 : Win11;
  // Callers compare versions as "at least"; a later release is at least 11.
  if (major > 10) return Win11;
  return WinUnknown;
}

inline WinArchitecture MapArchitecture(WORD processorArchitecture) {
  switch (processorArchitecture) {
  case PROCESSOR_ARCHITECTURE_INTEL: return ArchX86;
  case PROCESSOR_ARCHITECTURE_AMD64: return ArchX64;
  case PROCESSOR_ARCHITECTURE_ARM64: return ArchArm64;
  default: return ArchUnknown;
  }
}

} // namespace detail
} // namespace system
} // namespace VMLib
