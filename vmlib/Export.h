// What VMLib.dll exports: the one place that spells the import and export
// attributes for every header of the support library.
#pragma once

#if defined(VMLIB_BUILDING)
#define VMLIB_API __declspec(dllexport)
#else
#define VMLIB_API __declspec(dllimport)
#endif
