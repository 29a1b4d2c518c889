// Registry snapshot, comparison and restore on synthetic keys under
// HKEY_CURRENT_USER\Software: a wide tree (one parent with N children) and a
// deep tree (chains of 100 levels), each key with three values.
// Usage: bench_registry [N ...]   (default 1000 10000 100000)
#include "bench_util.h"

#include "registry/registry.h"
#include "session/session.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr char kBenchRoot[] = "Software\\Trun95Bench";
constexpr long cChainDepth = 100;

void AddKeyWithValues(HKEY hParent, const char* pszName, long iKey, HKEY* phKey) {
    RegCreateKeyExA(hParent, pszName, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, phKey, nullptr);
    char szText[64];
    std::snprintf(szText, sizeof szText, "value of key %ld", iKey);
    DWORD dwNumber = static_cast<DWORD>(iKey);
    BYTE abBytes[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    RegSetValueExA(*phKey, "", 0, REG_SZ, reinterpret_cast<const BYTE*>(szText),
                   static_cast<DWORD>(strlen(szText) + 1));
    RegSetValueExA(*phKey, "Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwNumber),
                   sizeof dwNumber);
    RegSetValueExA(*phKey, "Bytes", 0, REG_BINARY, abBytes, sizeof abBytes);
}

// Adds the N keys of one shape below HKCU\Software\Trun95Bench\<shape>.
void AddKeys(const std::string& shape, long n) {
    HKEY hShape = nullptr;
    std::string path = std::string(kBenchRoot) + "\\" + shape;
    RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                    &hShape, nullptr);
    char szName[32];
    for (long i = 0; i < n;) {
        if (shape == "wide") {
            HKEY hKey = nullptr;
            std::snprintf(szName, sizeof szName, "Key%06ld", i);
            AddKeyWithValues(hShape, szName, i++, &hKey);
            RegCloseKey(hKey);
            continue;
        }
        HKEY hUp = hShape;
        std::snprintf(szName, sizeof szName, "Chain%05ld", i / cChainDepth);
        for (long iLevel = 0; iLevel < cChainDepth && i < n; ++iLevel) {
            HKEY hKey = nullptr;
            AddKeyWithValues(hUp, iLevel ? "K" : szName, i++, &hKey);
            if (hUp != hShape)
                RegCloseKey(hUp);
            hUp = hKey;
        }
        if (hUp != hShape)
            RegCloseKey(hUp);
    }
    RegCloseKey(hShape);
}

// Changes one value in every hundredth key so that the comparison reports.
void ChangeSomeValues(const std::string& shape, long n) {
    DWORD dwNew = 0xFFFFFFFF;
    std::string base = std::string(kBenchRoot) + "\\" + shape;
    for (long i = 0; i < n; i += 100) {
        char szPath[64];
        if (shape == "wide")
            std::snprintf(szPath, sizeof szPath, "\\Key%06ld", i);
        else
            std::snprintf(szPath, sizeof szPath, "\\Chain%05ld", i / cChainDepth);
        HKEY hKey = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, (base + szPath).c_str(), 0, KEY_ALL_ACCESS, &hKey) ==
            ERROR_SUCCESS) {
            RegSetValueExA(hKey, "Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwNew),
                           sizeof dwNew);
            RegCloseKey(hKey);
        }
    }
}

// Counts the reports; one outside the benchmark's keys is a change that
// happened by itself during the run and is named on the error stream.
long cReports;
int CountReport(const char* pszPath, const char* pszName, DWORD dwCode, RTREE*) {
    ++cReports;
    if (!std::strstr(pszPath, "Trun95Bench") && std::strcmp(pszName, "Trun95Bench") != 0)
        std::fprintf(stderr, "unexpected change %lu %s\\%s\n", static_cast<unsigned long>(dwCode),
                     pszPath, pszName);
    return 1;
}

RTREE* FindBenchNode(REGTRE* pSnapshot, const std::string& shape) {
    char szBuffer[cbRegPath] = "";
    std::string path = "\\Trun95Bench\\" + shape;
    return FindRegistryKey(pSnapshot[2].pNode, path.c_str(), szBuffer);
}

HWND hwndStatus;

void RunShape(const std::string& shape, long n) {
    RegDeleteKeyRecursive(HKEY_CURRENT_USER, kBenchRoot);
    AddKeys(shape, n);

    REGTRE* pBefore = nullptr;
    Stopwatch snap;
    TakeRegistrySnapshot(&pBefore, hwndStatus);
    PrintBenchLine(("regsnap-" + shape).c_str(), n, snap.Seconds());

    ChangeSomeValues(shape, n);
    REGTRE* pAfter = nullptr;
    TakeRegistrySnapshot(&pAfter, hwndStatus);
    cReports = 0;
    Stopwatch compare;
    CompareRegistrySnapshots(&pBefore, &pAfter, CountReport, CountReport);
    char szExtra[64];
    std::snprintf(szExtra, sizeof szExtra, "reports=%ld", cReports);
    PrintBenchLine(("regcompare-" + shape).c_str(), n, compare.Seconds(), szExtra);

    RegDeleteKeyRecursive(HKEY_CURRENT_USER, kBenchRoot);
    RTREE* pNode = FindBenchNode(pBefore, shape);
    Stopwatch restore;
    LONG lResult = RestoreRegistryKey(pNode);
    std::snprintf(szExtra, sizeof szExtra, "result=%ld", static_cast<long>(lResult));
    PrintBenchLine(("regrestore-" + shape).c_str(), n, restore.Seconds(), szExtra);

    FreeRegistrySnapshot(&pBefore);
    FreeRegistrySnapshot(&pAfter);
    RegDeleteKeyRecursive(HKEY_CURRENT_USER, kBenchRoot);
}

} // namespace

int main(int argc, char** argv) {
    hinstLib = GetModuleHandleA(nullptr);
    LoadRegistryStrings();
    // The snapshot shows its progress in a status line, as under a host.
    hwndStatus =
        CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 100, 20, nullptr, nullptr, hinstLib, nullptr);
    std::vector<long> sizes;
    for (int i = 1; i < argc; ++i)
        sizes.push_back(std::atol(argv[i]));
    if (sizes.empty())
        sizes = {1000, 10000, 100000};
    for (long n : sizes) {
        RunShape("wide", n);
        RunShape("deep", n);
    }
    return 0;
}
