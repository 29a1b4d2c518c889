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

template <typename PFN> bool Find(HMODULE hModule, const char* pszName, PFN& pfn) {
    pfn = reinterpret_cast<PFN>(reinterpret_cast<void*>(GetProcAddress(hModule, pszName)));
    return pfn != nullptr;
}

} // namespace

bool Trun95Library::Load() {
    return LoadFrom("TRUN95.dll");
}

bool Trun95Library::LoadCheckLibrary() {
    return LoadFrom("trun95check.dll") && Find(hModule, "write_item_list", pfnWriteItemList) &&
           Find(hModule, "save_install_log", pfnSaveInstallLog) &&
           Find(hModule, "uninstall_from_log", pfnUninstallFromLog);
}

bool Trun95Library::LoadFrom(const char* pszName) {
    // The library next to the host, never one found elsewhere on the path.
    hModule = LoadLibraryA((HostFolder() + pszName).c_str());
    if (!hModule)
        return false;
    return Find(hModule, "already_running", pfnAlreadyRunning) &&
           Find(hModule, "pre_setup_save", pfnPreSetupSave) &&
           Find(hModule, "post_setup_uninstall", pfnPostSetupUninstall) &&
           Find(hModule, "post_setup_cleanup", pfnPostSetupCleanup) &&
           Find(hModule, "uninstall_standalone", pfnUninstallStandalone);
}

void WriteHostIni() {
    // A bare file name is read from and written to the Windows folder.
    char szValue[16] = "";
    GetPrivateProfileStringA(kIniSection, kIniTreeviewKey, "", szValue, sizeof szValue, kIniFile);
    if (szValue[0] == '\0')
        WritePrivateProfileStringA(kIniSection, kIniTreeviewKey, "1", kIniFile);
}
