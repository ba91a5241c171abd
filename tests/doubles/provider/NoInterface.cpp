// A library that carries the provider's file name but not its GetInterface
// export, for the plug-in's handling of a damaged provider installation.
#include "vmlib/WindowsApi.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) { return TRUE; }
