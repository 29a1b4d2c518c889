// Program groups and icons: on this system a group is a folder under the
// Start Menu and an icon a shortcut file there or on the Desktop. Folder and
// file actions found there become group and icon actions with their own
// texts and undo procedures.
#include "files/groups.h"

#include "actions/undo.h"
#include "common/strings.h"
#include "common/boxes.h"
#include "resources/resource.h"
#include "common/guard.h"
#include "common/internal_error.h"
#include "common/library.h"

#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct SpecialFolder {
    int iShellId;
    UINT uGroupText;
    UINT uIconText;
    char szPath[261];
};

SpecialFolder aSpecialFolders[] = {
    {CSIDL_STARTMENU, IDS_GROUP_ACTION, IDS_ICON_IN_GROUP, ""},
    {CSIDL_DESKTOPDIRECTORY, IDS_DESKTOP_ITEM, IDS_ICON_ON_DESKTOP, ""},
};

typedef HRESULT(WINAPI* PFNGETLOCATION)(HWND, int, LPITEMIDLIST*);
typedef BOOL(WINAPI* PFNGETPATH)(LPCITEMIDLIST, LPSTR);

template <class Fn> Fn LookUp(HMODULE hModule, const char* pszName) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(hModule, pszName)));
}

void FreeItemList(LPITEMIDLIST pidl) {
    if (pShellMalloc)
        pShellMalloc->Free(pidl);
    else
        CoTaskMemFree(pidl);
}

enum class Holding { Below, ItselfOrBelow };

// The entry whose folder holds the folder (given without a trailing
// backslash), or none. Whole path components count: "Programs Extra" beside
// "Programs" is not inside it.
const SpecialFolder* HoldingEntry(const std::string& folder, Holding holding) {
    for (const SpecialFolder& entry : aSpecialFolders) {
        size_t cch = std::strlen(entry.szPath);
        if (!cch || folder.size() < cch || CompareNoCaseN(folder.c_str(), entry.szPath, cch) != 0)
            continue;
        bool fItself = folder.size() == cch;
        if (fItself ? holding == Holding::ItselfOrBelow : folder[cch] == '\\')
            return &entry;
    }
    return nullptr;
}

std::string LastComponent(const std::string& path) {
    size_t iSlash = path.rfind('\\');
    return iSlash == std::string::npos ? path : path.substr(iSlash + 1);
}

// Gives the record its new identity; the object text only gets shorter, so
// it fits in the record's own block.
void Reclassify(DEACTION* pact, WORD wKind, PFNACTION pfnUndo, const std::string& object,
                const std::string& description) {
    char* pszPath = DupString(pact->szObject);
    char* pszDescription = DupString(description.c_str());
    if (pact->wKind == DEA_GROUP || pact->wKind == DEA_ICON)
        std::free(pact->pExtra);
    std::free(pact->pszDescription);
    pact->wKind = wKind;
    pact->wOrder = wKind;
    pact->pfnConfirm = nullptr;
    pact->pfnUndo = pfnUndo;
    pact->pExtra = pszPath;
    pact->pszDescription = pszDescription;
    std::memmove(pact->szObject, object.c_str(), object.size() + 1);
}

void CheckFolderAction(DEACTION* pact) {
    std::string folder(pact->szObject);
    if (!folder.empty() && folder.back() == '\\')
        folder.pop_back();
    const SpecialFolder* pEntry = HoldingEntry(folder, Holding::Below);
    if (!pEntry)
        return;
    std::string group = LastComponent(folder);
    Reclassify(pact, DEA_GROUP, UndoDeleteGroup, group,
               FormatText(GetResString(pEntry->uGroupText), group.c_str()));
}

void CheckFileAction(DEACTION* pact) {
    std::string path(pact->szObject);
    size_t iSlash = path.rfind('\\');
    if (iSlash == std::string::npos)
        return;
    std::string folder = path.substr(0, iSlash);
    const SpecialFolder* pEntry = HoldingEntry(folder, Holding::ItselfOrBelow);
    if (!pEntry)
        return;
    std::string icon = path.substr(iSlash + 1);
    size_t iDot = icon.rfind('.');
    if (iDot != std::string::npos && iDot != 0)
        icon.erase(iDot);
    std::string group = LastComponent(folder);
    Reclassify(pact, DEA_ICON, UndoDeleteIcon, icon,
               FormatText(GetResString(pEntry->uIconText), icon.c_str(), group.c_str()));
}

} // namespace

int GetSpecialFolderPath(char* pszBuffer, int iFolder) {
    pszBuffer[0] = '\0';
    HMODULE hShell = LoadLibraryA("SHELL32");
    if (!hShell)
        return 0;
    auto pfnGetLocation = LookUp<PFNGETLOCATION>(hShell, "SHGetSpecialFolderLocation");
    auto pfnGetPath = LookUp<PFNGETPATH>(hShell, "SHGetPathFromIDList");
    int result = 0;
    LPITEMIDLIST pidl = nullptr;
    if (pfnGetLocation && pfnGetPath && SUCCEEDED(pfnGetLocation(nullptr, iFolder, &pidl)) &&
        pidl) {
        result = pfnGetPath(pidl, pszBuffer) ? 1 : 0;
        FreeItemList(pidl);
    }
    if (!result)
        pszBuffer[0] = '\0';
    FreeLibrary(hShell);
    return result;
}

void CheckGroupsAndIcons() {
    for (SpecialFolder& entry : aSpecialFolders)
        entry.szPath[0] = '\0';
    if (!Guarded([] {
            for (SpecialFolder& entry : aSpecialFolders) {
                if (!GetSpecialFolderPath(entry.szPath, entry.iShellId))
                    InternalErrorMsg("", "File", __LINE__);
            }
        }))
        ReportInternalException("File", 3, __LINE__);
    for (DEACTION* pact = pActionList; pact; pact = pact->pNext) {
        if (pact->fDone != 0)
            continue;
        if (pact->wKind == DEA_FOLDER) {
            if (!Guarded([&] { CheckFolderAction(pact); }))
                ReportInternalException("File", 4, __LINE__);
        } else if (pact->wKind == DEA_FILE) {
            if (!Guarded([&] { CheckFileAction(pact); }))
                ReportInternalException("File", 5, __LINE__);
        }
    }
}
