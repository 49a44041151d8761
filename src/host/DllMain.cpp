#include "runtime/PlatformTypes.h"

// The library keeps no module-level state: every reason code succeeds.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
