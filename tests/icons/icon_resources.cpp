// A resource-only module: the icon reader loads it as a data file and never runs this code.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
