// Registry snapshot, comparison and restore on synthetic keys under
// HKEY_CURRENT_USER\Software: a wide tree (one parent with N children) and a
// deep tree (chains of 100 levels), each key with three values. Next to each
// snapshot a bare walk of the same four roots shows how fast the registry
// itself can be read: open, query, enumerate values and subkeys, close. The
// walk reads every root whole; the snapshot reads a key that two roots show
// only once and the roots side by side, and should take at most 0.7 of the
// walk's time (its line's vs_walk) at 10,000 keys and more.
// Usage: bench_registry [wide|deep] [N ...]   (default 1000 10000 100000)
// Without a shape each shape runs in a process of its own, so that each
// snapshot's memory per key is measured from a fresh process.
#include "bench_util.h"

#include "registry/snapshot.h"
#include "registry/compare.h"
#include "registry/uninstaller.h"
#include "registry/restore.h"
#include "registry/rdelkey.h"
#include "tests/support/test_host_window.h"
#include "common/library.h"

#include <algorithm>
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

// Buffers of the bare walk, grown to the longest name and data seen.
std::vector<char> walkName(512), walkSubkey(256);
std::vector<BYTE> walkData(8192);

// Reads one open key and everything below it as a snapshot does, storing
// nothing; returns the number of keys read.
long WalkOpenKey(HKEY hKey) {
    DWORD cSubkeys = 0, cchMaxSubkey = 0, cValues = 0, cchMaxName = 0, cbMaxData = 0;
    if (RegQueryInfoKeyA(hKey, nullptr, nullptr, nullptr, &cSubkeys, &cchMaxSubkey, nullptr,
                         &cValues, &cchMaxName, &cbMaxData, nullptr, nullptr) != ERROR_SUCCESS)
        return 1;
    walkName.resize(std::max<size_t>(walkName.size(), cchMaxName + 1));
    walkData.resize(std::max<size_t>(walkData.size(), cbMaxData + 1));
    walkSubkey.resize(std::max<size_t>(walkSubkey.size(), cchMaxSubkey + 1));
    for (DWORD i = 0; i < cValues; ++i) {
        DWORD cchName = static_cast<DWORD>(walkName.size());
        DWORD cbData = static_cast<DWORD>(walkData.size()), dwType = 0;
        RegEnumValueA(hKey, i, walkName.data(), &cchName, nullptr, &dwType, walkData.data(),
                      &cbData);
    }
    long cKeys = 1;
    for (DWORD i = 0; i < cSubkeys; ++i) {
        DWORD cchName = static_cast<DWORD>(walkSubkey.size());
        if (RegEnumKeyExA(hKey, i, walkSubkey.data(), &cchName, nullptr, nullptr, nullptr,
                          nullptr) != ERROR_SUCCESS ||
            IsSkippedRegistryKey(walkSubkey.data()))
            continue;
        HKEY hChild = nullptr;
        if (RegOpenKeyExA(hKey, walkSubkey.data(), REG_OPTION_OPEN_LINK, KEY_READ, &hChild) !=
            ERROR_SUCCESS) {
            ++cKeys;
            continue;
        }
        cKeys += WalkOpenKey(hChild);
        RegCloseKey(hChild);
    }
    return cKeys;
}

long WalkFourRoots() {
    long cKeys = 0;
    for (const REGROOT& root : aRegRoots) {
        HKEY hKey = nullptr;
        if (RegOpenKeyExA(root.hRoot, root.szStartPath, REG_OPTION_OPEN_LINK, KEY_READ, &hKey) !=
            ERROR_SUCCESS)
            continue;
        cKeys += WalkOpenKey(hKey);
        RegCloseKey(hKey);
    }
    return cKeys;
}

long CountNodes(const RTREE* pNode) {
    long cNodes = 0;
    for (; pNode; pNode = pNode->pNext)
        cNodes += 1 + CountNodes(pNode->pChild);
    return cNodes;
}

long CountSnapshotKeys(const REGTRE* pSnapshot) {
    long cKeys = 0;
    for (int i = 0; i < cRegRoots; ++i)
        cKeys += CountNodes(pSnapshot[i].pNode);
    return cKeys;
}

// Working set of the process, now or at its peak so far, in bytes.
double WorkingSetBytes(bool fPeak = false) {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return double(fPeak ? counters.PeakWorkingSetSize : counters.WorkingSetSize);
}

HWND hwndStatus;
double startBytes;

// The bare walk, then the snapshot of the same roots; the snapshot's line
// also says how much memory the process has held at its peak per key above
// its start (for the first size of a run, this snapshot alone).
REGTRE* WalkThenSnapshot(const std::string& shape, long n) {
    char szExtra[128];
    Stopwatch walk;
    long cWalked = WalkFourRoots();
    double walkSeconds = walk.Seconds();
    std::snprintf(szExtra, sizeof szExtra, "keys=%ld", cWalked);
    PrintBenchLine(("regwalk-" + shape).c_str(), n, walkSeconds, szExtra);

    REGTRE* pSnapshot = nullptr;
    Stopwatch snap;
    TakeRegistrySnapshot(&pSnapshot, hwndStatus);
    double snapSeconds = snap.Seconds();
    long cKeys = CountSnapshotKeys(pSnapshot);
    std::snprintf(szExtra, sizeof szExtra,
                  "keys=%ld us_per_key=%.0f bytes_per_key=%.0f vs_walk=%.2f", cKeys,
                  snapSeconds * 1e6 / double(cKeys),
                  (WorkingSetBytes(true) - startBytes) / double(cKeys), snapSeconds / walkSeconds);
    PrintBenchLine(("regsnap-" + shape).c_str(), n, snapSeconds, szExtra);
    return pSnapshot;
}

void RunShape(const std::string& shape, long n) {
    RegDeleteKeyRecursive(HKEY_CURRENT_USER, kBenchRoot);
    AddKeys(shape, n);

    REGTRE* pBefore = WalkThenSnapshot(shape, n);

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
    std::string shape = argc > 1 ? argv[1] : "";
    bool fOneShape = shape == "wide" || shape == "deep";
    if (!fOneShape) {
        std::string sizes;
        for (int i = 1; i < argc; ++i)
            sizes += std::string(" ") + argv[i];
        for (const char* pszShape : {"wide", "deep"})
            RunProgram(BuildPath("bench_registry.exe") + " " + pszShape + sizes, INFINITE);
        return 0;
    }
    hinstLib = GetModuleHandleA(nullptr);
    startBytes = WorkingSetBytes();
    LoadRegistryStrings();
    // The snapshot shows its progress in a status line, as under a host.
    hwndStatus =
        CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 100, 20, nullptr, nullptr, hinstLib, nullptr);
    std::vector<long> sizes;
    for (int i = 2; i < argc; ++i)
        sizes.push_back(std::atol(argv[i]));
    if (sizes.empty())
        sizes = {1000, 10000, 100000};
    for (long n : sizes)
        RunShape(shape, n);
    return 0;
}
