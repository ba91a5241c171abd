// The one way into <windows.h> for every component: the same macros everywhere,
// so no translation unit sees a different ANSI/Unicode or min/max world.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601
#endif

#include <windows.h>

// winbase.h keeps a 16-bit era macro of this name, which would rewrite the
// plug-in's GetFreeSpace operation wherever both are seen.
#ifdef GetFreeSpace
#undef GetFreeSpace
#endif
