// The host program: loads TRUN95.dll and runs its standalone session.
#include <windows.h>

namespace {
typedef void (*PFNSTANDALONE)(void);
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    HMODULE hLibrary = LoadLibraryA("TRUN95.dll");
    if (!hLibrary) {
        MessageBoxA(nullptr, "TRUN95.dll could not be loaded.", "Tarnel", MB_ICONHAND);
        return 2;
    }
    auto pfnStandalone = reinterpret_cast<PFNSTANDALONE>(
        reinterpret_cast<void*>(GetProcAddress(hLibrary, "uninstall_standalone")));
    if (!pfnStandalone) {
        FreeLibrary(hLibrary);
        return 2;
    }
    pfnStandalone();
    FreeLibrary(hLibrary);
    return 0;
}
