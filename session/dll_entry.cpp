// Entry point of TRUN95.dll. The runtime library's own start-up has run
// before this is called.
#include "common/library.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE hinst, DWORD dwReason, LPVOID) {
    if (dwReason == DLL_PROCESS_ATTACH || dwReason == DLL_THREAD_ATTACH)
        hinstLib = hinst;
    return TRUE;
}
