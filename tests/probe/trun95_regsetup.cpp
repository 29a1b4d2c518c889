// A tiny setup program with an uninstaller of its own, for tests of the
// registry side of a session.
//   trun95_regsetup setup NAME       writes keys named NAME under the four
//                                    scanned roots and registers an Uninstall
//                                    entry NAME whose UninstallString runs:
//   trun95_regsetup uninstall NAME   removes everything setup wrote
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

const std::string kUninstallKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

const std::pair<HKEY, const char*> kPlaces[] = {
    {HKEY_CLASSES_ROOT, ""},
    {HKEY_LOCAL_MACHINE, "Software\\"},
    {HKEY_CURRENT_USER, "Software\\"},
    {HKEY_USERS, ".Default\\Software\\"},
};

void WriteString(HKEY hRoot, const std::string& path, const char* pszName,
                 const std::string& text) {
    HKEY hKey = nullptr;
    if (RegCreateKeyExA(hRoot, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hKey,
                        nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExA(hKey, pszName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>(text.size() + 1));
    RegCloseKey(hKey);
}

// Deletes a key with its subkeys, children first; false when it stays.
bool DeleteTree(HKEY hRoot, const std::string& path) {
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(hRoot, path.c_str(), 0, KEY_ALL_ACCESS, &hKey) != ERROR_SUCCESS)
        return true;
    char szChild[256];
    while (RegEnumKeyA(hKey, 0, szChild, sizeof szChild) == ERROR_SUCCESS &&
           DeleteTree(hRoot, path + "\\" + szChild)) {
    }
    RegCloseKey(hKey);
    return RegDeleteKeyA(hRoot, path.c_str()) == ERROR_SUCCESS;
}

int Setup(const std::string& name) {
    for (const auto& [hRoot, pszPrefix] : kPlaces) {
        WriteString(hRoot, std::string(pszPrefix).append(name), "Installed", "1");
        WriteString(hRoot, std::string(pszPrefix).append(name).append("\\Settings"), "Colour",
                    "blue");
    }
    char szSelf[MAX_PATH];
    GetModuleFileNameA(nullptr, szSelf, sizeof szSelf);
    WriteString(HKEY_LOCAL_MACHINE, kUninstallKey + name, "DisplayName", name);
    WriteString(HKEY_LOCAL_MACHINE, kUninstallKey + name, "UninstallString",
                std::string(1, '"').append(szSelf).append("\" uninstall ").append(name));
    return 0;
}

int Uninstall(const std::string& name) {
    for (const auto& [hRoot, pszPrefix] : kPlaces)
        DeleteTree(hRoot, std::string(pszPrefix).append(name));
    DeleteTree(HKEY_LOCAL_MACHINE, kUninstallKey + name);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "setup") == 0)
        return Setup(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "uninstall") == 0)
        return Uninstall(argv[2]);
    std::fprintf(stderr, "usage: trun95_regsetup setup|uninstall NAME\n");
    return 2;
}
