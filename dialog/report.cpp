// The report: the session's cautions and the actions still on offer, written
// as a text file that the user names.
#include "dialog/report.h"

#include "actions/deaction.h"
#include "common/strings.h"
#include "common/boxes.h"
#include "files/lists.h"
#include "resources/resource.h"
#include "resources/version.h"
#include "common/library.h"

#include <commdlg.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr int kFileNameChars = 520;
constexpr int kFilterChars = 128;

// "Text Files (*.txt)|*.txt|" becomes the filter pair ended by two NULs.
void LoadReportFilter(char* pszFilter) {
    lstrcpynA(pszFilter, GetResString(IDS_REPORT_FILTER), kFilterChars - 1);
    pszFilter[kFilterChars - 1] = '\0';
    for (char* pch = pszFilter; *pch; ++pch) {
        if (*pch == '|')
            *pch = '\0';
    }
}

bool AskReportFile(HWND hwndOwner, char* pszFile) {
    char szFilter[kFilterChars + 1] = "";
    LoadReportFilter(szFilter);
    OPENFILENAMEA ofn{};
    // The size the Windows 95 common dialogs know.
    ofn.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    ofn.hwndOwner = hwndOwner;
    ofn.lpstrFilter = szFilter;
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = pszFile;
    ofn.nMaxFile = kFileNameChars;
    ofn.lpstrDefExt = "txt";
    ofn.Flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST |
                OFN_NOREADONLYRETURN;
    return GetSaveFileNameA(&ofn) != FALSE;
}

void TellReportNotWritten(HWND hwndOwner, const char* pszFormat, const char* pszFile) {
    char szText[kFileNameChars + 100];
    std::snprintf(szText, sizeof szText, pszFormat, pszFile);
    ShowLibraryBox(hwndOwner, szText, MB_OK | MB_ICONEXCLAMATION);
}

const char* KindName(WORD wKind) {
    switch (wKind) {
    case DEA_GROUP:
        return "group";
    case DEA_ICON:
        return "icon";
    case DEA_FOLDER:
        return "folder";
    case DEA_FILE:
        return "file";
    case DEA_RESTORE:
        return "restore";
    default:
        return "registry";
    }
}

// The path or key an action is about. A group or icon keeps its short name
// as its object and its path beside it; a registry action keeps its category
// ("Key Added") as its object, and the key follows that category in its text.
const char* ActionObject(const DEACTION* pact) {
    const char* pszText = pact->pszDescription ? pact->pszDescription : "";
    if ((pact->wKind == DEA_GROUP || pact->wKind == DEA_ICON) && pact->pExtra)
        return static_cast<const char*>(pact->pExtra);
    if (pact->wKind != DEA_REGISTRY)
        return pact->szObject;
    size_t cchCategory = lstrlenA(pact->szObject);
    if (std::strncmp(pszText, pact->szObject, cchCategory) == 0 && pszText[cchCategory] == ' ')
        return pszText + cchCategory + 1;
    return pszText;
}

// The report text: the cautions, then every action not yet done.
void WriteReportTo(FILE* pFile) {
    std::fprintf(pFile, "%s version %s\n\n", kLibraryTitle, TRUN95_VERSION_TEXT);
    if (Cautions) {
        std::fputs("Caution Messages:\n\n", pFile);
        for (NAMEITEM* pItem = Cautions; pItem; pItem = pItem->pNext)
            std::fprintf(pFile, "%s\n", pItem->szName);
    } else {
        std::fputs("No Caution Messages\n", pFile);
    }
    if (pActionList) {
        std::fputs("\nList of Items to Uninstall:\n\n", pFile);
        for (DEACTION* pact = pActionList; pact; pact = pact->pNext) {
            if (!pact->fDone)
                std::fprintf(pFile, "%s\n", pact->pszDescription ? pact->pszDescription : "");
        }
    } else {
        std::fputs("Nothing to Uninstall\n", pFile);
    }
}

} // namespace

void WriteItemListTo(FILE* pFile) {
    for (NAMEITEM* pItem = Cautions; pItem; pItem = pItem->pNext)
        std::fprintf(pFile, "caution\t\t%s\n", pItem->szName);
    for (DEACTION* pact = pActionList; pact; pact = pact->pNext) {
        if (!pact->fDone)
            std::fprintf(pFile, "%s\t%s\t%s\n", KindName(pact->wKind), ActionObject(pact),
                         pact->pszDescription ? pact->pszDescription : "");
    }
}

void SaveReport(HWND hwndOwner, const char* pszFile) {
    FILE* pFile = std::fopen(pszFile, "wt");
    if (!pFile) {
        TellReportNotWritten(
            hwndOwner, "Could not write the report to %s\nThe file may be in use or read-only.",
            pszFile);
        return;
    }
    WriteReportTo(pFile);
    // Most of the text reaches the disk only when the file is closed.
    bool fWriteFailed = std::ferror(pFile) != 0;
    if (std::fclose(pFile) != 0 || fWriteFailed)
        TellReportNotWritten(
            hwndOwner, "Could not write the whole report to %s\nThe disk may be full.", pszFile);
}

void WriteReport(HWND hwndOwner) {
    char szFile[kFileNameChars] = "UNINST.TXT";
    if (AskReportFile(hwndOwner, szFile))
        SaveReport(hwndOwner, szFile);
}
