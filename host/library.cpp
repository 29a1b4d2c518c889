// Loading TRUN95.dll or the tools library from the host's folder and finding
// each entry point by name and ordinal; the host's INI file.
#include "host/library.h"

#include <string>

namespace {

constexpr char kIniFile[] = "tarnel32.ini";
constexpr char kIniSection[] = "Tarnel";
constexpr char kIniTreeviewKey[] = "UninstallerTreeview";

} // namespace

std::string HostFolder() {
    char szModule[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, szModule, sizeof szModule);
    std::string folder = szModule;
    size_t iSlash = folder.rfind('\\');
    return iSlash == std::string::npos ? std::string() : folder.substr(0, iSlash + 1);
}

namespace {

// An entry point of the fixed boundary is the same found by name and by its
// ordinal: a library built with another export table is not one to drive.
template <typename PFN> bool Find(HMODULE hModule, const char* pszName, WORD wOrdinal, PFN& pfn) {
    FARPROC pfnByName = GetProcAddress(hModule, pszName);
    if (GetProcAddress(hModule, MAKEINTRESOURCEA(wOrdinal)) != pfnByName)
        return false;
    pfn = reinterpret_cast<PFN>(reinterpret_cast<void*>(pfnByName));
    return pfn != nullptr;
}

} // namespace

bool Trun95Library::Load() {
    return LoadFrom("TRUN95.dll");
}

bool Trun95Library::LoadToolsLibrary() {
    return LoadFrom("trun95check.dll") && Find(hModule, "write_item_list", 100, pfnWriteItemList) &&
           Find(hModule, "save_install_log", 101, pfnSaveInstallLog) &&
           Find(hModule, "uninstall_from_log", 102, pfnUninstallFromLog) &&
           Find(hModule, "write_footprint_items", 103, pfnWriteFootprintItems);
}

bool Trun95Library::LoadFrom(const char* pszName) {
    // The library next to the host, never one found elsewhere on the path.
    hModule = LoadLibraryA((HostFolder() + pszName).c_str());
    if (!hModule)
        return false;
    return Find(hModule, "already_running", 1, pfnAlreadyRunning) &&
           Find(hModule, "pre_setup_save", 6, pfnPreSetupSave) &&
           Find(hModule, "post_setup_uninstall", 5, pfnPostSetupUninstall) &&
           Find(hModule, "post_setup_cleanup", 4, pfnPostSetupCleanup) &&
           Find(hModule, "uninstall_standalone", 8, pfnUninstallStandalone);
}

void WriteHostIni() {
    // A bare file name is read from and written to the Windows folder.
    char szValue[16] = "";
    GetPrivateProfileStringA(kIniSection, kIniTreeviewKey, "", szValue, sizeof szValue, kIniFile);
    if (szValue[0] == '\0')
        WritePrivateProfileStringA(kIniSection, kIniTreeviewKey, "1", kIniFile);
}
