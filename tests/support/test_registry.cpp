// Registry helpers for tests, written with the plain wide-character registry
// functions so that they do not depend on the code under test: names and
// string data are given and read as UTF-8, so that no name or text the ANSI
// code page cannot hold turns into "?" unnoticed.
#include "support/test_registry.h"

#include "actions/deaction.h"
#include "common/strings.h"
#include "registry/compare.h"
#include "registry/snapshot.h"

#include <cstdlib>
#include <cstring>
#include <sstream>

namespace {

typedef LONG(WINAPI* PFNNTDELETEKEY)(HANDLE);

// Deletes the key of an open handle itself: a link key, not its target.
void DeleteOpenKey(HKEY hKey) {
    auto pfnDelete = reinterpret_cast<PFNNTDELETEKEY>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll"), "NtDeleteKey")));
    if (pfnDelete)
        pfnDelete(hKey);
}

std::wstring Wide(const std::string& text) {
    std::wstring wide(text.size(), L'\0');
    wide.resize(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, text.data(),
                                                        static_cast<int>(text.size()), wide.data(),
                                                        static_cast<int>(wide.size()))));
    return wide;
}

std::string Utf8(const wchar_t* pch, size_t cch) {
    std::string text(cch * 3, '\0');
    text.resize(
        static_cast<size_t>(WideCharToMultiByte(CP_UTF8, 0, pch, static_cast<int>(cch), text.data(),
                                                static_cast<int>(text.size()), nullptr, nullptr)));
    return text;
}

bool IsText(DWORD dwType) {
    return dwType == REG_SZ || dwType == REG_EXPAND_SZ || dwType == REG_MULTI_SZ;
}

// Opens or creates a key one component at a time, so that paths longer than
// one registry call takes can be made. Null when it fails.
HKEY WalkKey(HKEY hRoot, const std::string& path, bool fCreate) {
    HKEY hCurrent = hRoot;
    size_t iStart = 0;
    while (iStart <= path.size()) {
        size_t iEnd = path.find('\\', iStart);
        std::string name = path.substr(iStart, iEnd == std::string::npos ? iEnd : iEnd - iStart);
        HKEY hNext = nullptr;
        LONG lResult = fCreate
                           ? RegCreateKeyExW(hCurrent, Wide(name).c_str(), 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &hNext, nullptr)
                           : RegOpenKeyExW(hCurrent, Wide(name).c_str(), 0, KEY_ALL_ACCESS, &hNext);
        if (hCurrent != hRoot)
            RegCloseKey(hCurrent);
        if (lResult != ERROR_SUCCESS)
            return nullptr;
        hCurrent = hNext;
        if (iEnd == std::string::npos)
            break;
        iStart = iEnd + 1;
    }
    return hCurrent;
}

// Keys are opened as themselves, a link key too, and named in UTF-16 so that
// names the ANSI functions cannot spell are removed as well.
void RemoveBelow(HKEY hParent, const std::wstring& name) {
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(hParent, name.c_str(), REG_OPTION_OPEN_LINK, KEY_ALL_ACCESS, &hKey) !=
        ERROR_SUCCESS)
        return;
    wchar_t szName[512];
    std::vector<std::wstring> children;
    for (DWORD i = 0; RegEnumKeyW(hKey, i, szName, 512) == ERROR_SUCCESS; ++i)
        children.push_back(szName);
    for (const std::wstring& child : children)
        RemoveBelow(hKey, child);
    DeleteOpenKey(hKey);
    RegCloseKey(hKey);
}

} // namespace

void CreateTestKey(HKEY hRoot, const std::string& path) {
    if (HKEY hKey = WalkKey(hRoot, path, true))
        RegCloseKey(hKey);
}

void SetTestValue(HKEY hRoot, const std::string& path, const std::string& name, DWORD dwType,
                  const void* pData, DWORD cbData) {
    HKEY hKey = WalkKey(hRoot, path, true);
    if (!hKey)
        return;
    std::wstring text = Wide(std::string(static_cast<const char*>(pData), cbData));
    if (IsText(dwType))
        RegSetValueExW(hKey, Wide(name).c_str(), 0, dwType,
                       reinterpret_cast<const BYTE*>(text.data()),
                       static_cast<DWORD>(text.size() * sizeof(wchar_t)));
    else
        RegSetValueExW(hKey, Wide(name).c_str(), 0, dwType, static_cast<const BYTE*>(pData),
                       cbData);
    RegCloseKey(hKey);
}

void SetTestString(HKEY hRoot, const std::string& path, const std::string& name,
                   const std::string& text) {
    SetTestValue(hRoot, path, name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

void DeleteTestValue(HKEY hRoot, const std::string& path, const std::string& name) {
    if (HKEY hKey = WalkKey(hRoot, path, false)) {
        RegDeleteValueW(hKey, Wide(name).c_str());
        RegCloseKey(hKey);
    }
}

void RemoveTestKey(HKEY hRoot, const std::string& path) {
    size_t iLast = path.rfind('\\');
    if (iLast == std::string::npos) {
        RemoveBelow(hRoot, Wide(path));
        return;
    }
    if (HKEY hParent = WalkKey(hRoot, path.substr(0, iLast), false)) {
        RemoveBelow(hParent, Wide(path.substr(iLast + 1)));
        RegCloseKey(hParent);
    }
}

HKEY OpenTestKey(HKEY hRoot, const std::string& path) {
    return WalkKey(hRoot, path, false);
}

bool TestKeyExists(HKEY hRoot, const std::string& path) {
    size_t iLast = path.rfind('\\');
    HKEY hParent =
        iLast == std::string::npos ? hRoot : WalkKey(hRoot, path.substr(0, iLast), false);
    if (!hParent)
        return false;
    // Listed by its parent: also a key that cannot be opened.
    std::wstring name = Wide(path.substr(iLast == std::string::npos ? 0 : iLast + 1));
    bool fListed = false;
    wchar_t szName[512];
    for (DWORD i = 0; !fListed && RegEnumKeyW(hParent, i, szName, 512) == ERROR_SUCCESS; ++i)
        fListed = lstrcmpiW(szName, name.c_str()) == 0;
    if (hParent != hRoot)
        RegCloseKey(hParent);
    return fListed;
}

void CreateLinkKey(HKEY hRoot, const std::string& path, const std::string& target) {
    HKEY hKey = nullptr;
    if (RegCreateKeyExW(hRoot, Wide(path).c_str(), 0, nullptr, REG_OPTION_CREATE_LINK,
                        KEY_ALL_ACCESS, nullptr, &hKey, nullptr) != ERROR_SUCCESS)
        return;
    std::wstring native = L"\\Registry\\Machine\\" + Wide(target);
    RegSetValueExW(hKey, L"SymbolicLinkValue", 0, REG_LINK,
                   reinterpret_cast<const BYTE*>(native.c_str()),
                   static_cast<DWORD>(native.size() * sizeof(wchar_t)));
    RegCloseKey(hKey);
}

std::vector<LiveValue> ReadLiveValues(HKEY hRoot, const std::string& path) {
    std::vector<LiveValue> values;
    HKEY hKey = WalkKey(hRoot, path, false);
    if (!hKey)
        return values;
    static wchar_t szName[16384];
    static BYTE abData[262144];
    for (DWORD i = 0;; ++i) {
        DWORD cchName = 16384, cbData = sizeof abData, dwType = 0;
        if (RegEnumValueW(hKey, i, szName, &cchName, nullptr, &dwType, abData, &cbData) !=
            ERROR_SUCCESS)
            break;
        std::string bytes(reinterpret_cast<char*>(abData), cbData);
        if (IsText(dwType) && cbData % 2 == 0)
            bytes = Utf8(reinterpret_cast<wchar_t*>(abData), cbData / 2);
        values.push_back({Utf8(szName, cchName), dwType, bytes});
    }
    RegCloseKey(hKey);
    return values;
}

std::vector<std::string> LiveSubkeyNames(HKEY hRoot, const std::string& path) {
    std::vector<std::string> names;
    if (HKEY hKey = WalkKey(hRoot, path, false)) {
        wchar_t szName[256];
        for (DWORD i = 0; RegEnumKeyW(hKey, i, szName, 256) == ERROR_SUCCESS; ++i)
            names.push_back(Utf8(szName, wcslen(szName)));
        RegCloseKey(hKey);
    }
    return names;
}

SavedKey::SavedKey(HKEY hRoot, const std::string& path)
    : hRoot_(hRoot), path_(path), fExisted_(TestKeyExists(hRoot, path)),
      values_(ReadLiveValues(hRoot, path)) {}

SavedKey::~SavedKey() {
    RemoveTestKey(hRoot_, path_);
    if (fExisted_)
        CreateTestKey(hRoot_, path_);
    for (const LiveValue& value : values_)
        SetTestValue(hRoot_, path_, value.name, value.dwType, value.bytes.data(),
                     static_cast<DWORD>(value.bytes.size()));
}

RTREE* AddTestChild(RTREE* pParent, const std::string& name, const char* pszValue) {
    RTREE* pChild = NewRegistryNode();
    std::free(pChild->pszName);
    pChild->pszName = DupString(name.c_str());
    pChild->pParent = pParent;
    if (pszValue)
        pChild->pData = NewRegistryData(REG_SZ, static_cast<DWORD>(std::strlen(pszValue) + 1),
                                        reinterpret_cast<const BYTE*>(pszValue), "v", nullptr);
    RTREE** ppLink = &pParent->pChild;
    while (*ppLink)
        ppLink = &(*ppLink)->pNext;
    *ppLink = pChild;
    return pChild;
}

RTREE* NodeAt(RTREE* pNode, const std::string& path) {
    std::istringstream components(path);
    for (std::string name; pNode && std::getline(components, name, '\\');) {
        pNode = pNode->pChild;
        while (pNode && lstrcmpiA(pNode->pszName, name.c_str()) != 0)
            pNode = pNode->pNext;
    }
    return pNode;
}

std::vector<std::string> ChildNames(const RTREE* pNode) {
    std::vector<std::string> names;
    for (const RTREE* p = pNode ? pNode->pChild : nullptr; p; p = p->pNext)
        names.push_back(p->pszName);
    return names;
}

const RDATA* ValueOf(const RTREE* pNode, const std::string& name) {
    for (const RDATA* p = pNode ? pNode->pData : nullptr; p; p = p->pNext) {
        if (name == p->pszName)
            return p;
    }
    return nullptr;
}

std::vector<DEACTION*> RegistryActions(const std::string& marker) {
    std::vector<DEACTION*> actions;
    for (DEACTION* pact = pActionList; pact; pact = pact->pNext) {
        if (pact->wKind == DEA_REGISTRY && std::strstr(pact->pszDescription, marker.c_str()))
            actions.push_back(pact);
    }
    return actions;
}

std::vector<std::string> RegistryActionTexts(const std::string& marker) {
    std::vector<std::string> texts;
    for (DEACTION* pact : RegistryActions(marker))
        texts.push_back(pact->pszDescription);
    return texts;
}

std::vector<std::string> Containing(const std::vector<std::string>& texts,
                                    const std::string& part) {
    std::vector<std::string> found;
    for (const std::string& text : texts) {
        if (text.find(part) != std::string::npos)
            found.push_back(text);
    }
    return found;
}

RegistryChangeTest::RegistryChangeTest(const std::string& markerName)
    : marker(markerName), roots{{HKEY_CLASSES_ROOT, marker, "Hkey_classes_root\\" + marker},
                                {HKEY_LOCAL_MACHINE, "Software\\" + marker,
                                 "Hkey_local_machine\\Software\\" + marker},
                                {HKEY_CURRENT_USER, "Software\\" + marker,
                                 "Hkey_current_user\\Software\\" + marker},
                                {HKEY_USERS, ".Default\\Software\\" + marker,
                                 "Hkey_users\\.Default\\Software\\" + marker}} {}

void RegistryChangeTest::SetUp() {
    HostedTest::SetUp();
    LoadRegistryStrings();
    FreeActionList();
    RemoveMarkerKeys();
}

void RegistryChangeTest::TearDown() {
    FreeActionList();
    FreeRegistrySnapshot(&pBefore);
    FreeRegistrySnapshot(&pAfter);
    RemoveMarkerKeys();
    HostedTest::TearDown();
}

void RegistryChangeTest::RemoveMarkerKeys() {
    for (const TestRoot& root : roots)
        RemoveTestKey(root.hRoot, root.path);
}

// Each root's tree holds the keys on the way to its marker key and, when it
// exists, the marker key as the reader records it; nothing else of the
// registry is read.
void RegistryChangeTest::TakeMarkerSnapshot(REGTRE** ppSnapshot) {
    auto* p = static_cast<REGTRE*>(AllocZeroedOrDie(sizeof(REGTRE) * cRegRoots));
    *ppSnapshot = p;
    for (int i = 0; i < cRegRoots; ++i) {
        const TestRoot& root = roots[static_cast<size_t>(i)];
        p[i].dwSent = REGTRE_SENT;
        p[i].iRoot = static_cast<DWORD>(i);
        p[i].pNode = NewRegistryNode();
        p[i].pNode->hRoot = root.hRoot;
        std::stringstream below(root.path.substr(std::strlen(aRegRoots[i].szStartPath)));
        RTREE* pNode = p[i].pNode;
        for (std::string name; std::getline(below, name, '\\');) {
            if (name.empty() || (name == marker && !TestKeyExists(root.hRoot, root.path)))
                continue;
            pNode = AddTestChild(pNode, name);
            pNode->hRoot = root.hRoot;
        }
        if (pNode->pszName == marker)
            ScanRegistryKey(root.hRoot, root.path.c_str(), pNode);
    }
}

std::vector<std::string> RegistryChangeTest::AfterAndCompare() {
    TakeMarkerSnapshot(&pAfter);
    CompareRegistrySnapshots(&pBefore, &pAfter, OnRegValueChange, OnRegKeyChange);
    return RegistryActionTexts(marker);
}
