// A module that only carries the probe type library as "TYPELIB" 1.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
