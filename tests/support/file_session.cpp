// The file side's lists as plain values, and the recorder fed as the monitor does.
#include "file_session.h"

#include "actions/deaction.h"
#include "common/paths.h"
#include "files/lists.h"
#include "files/recorder.h"
#include "files/compare.h"
#include "files/verify.h"
#include "monitor/protocol.h"
#include "resources/resource.h"

#include <shlobj.h>

std::ostream& operator<<(std::ostream& out, const ActionView& view) {
    return out << "{" << view.iKind << ", " << view.iOrder << ", " << view.object << ", "
               << view.description << "}";
}

std::vector<ActionView> OfferedActions() {
    std::vector<ActionView> views;
    for (DEACTION* pact = pActionList; pact; pact = pact->pNext) {
        if (!pact->fDone)
            views.push_back({pact->wKind, pact->wOrder, pact->szObject, pact->pszDescription});
    }
    return views;
}

std::vector<std::string> ActiveNames(NAMEITEM* pList) {
    std::vector<std::string> names;
    for (NAMEITEM* pItem = pList; pItem; pItem = pItem->pNext) {
        if (pItem->bActive)
            names.push_back(pItem->szName);
    }
    return names;
}

std::vector<std::string> ListedNames(NAMEITEM* pList) {
    std::vector<std::string> names;
    for (NAMEITEM* pItem = pList; pItem; pItem = pItem->pNext)
        names.push_back(std::string(pItem->bActive ? "" : "-") + pItem->szName);
    return names;
}

DEACTION* AddFolderAction(const std::string& path) {
    return AddFolderAction(path.c_str());
}

DEACTION* AddFileAction(const std::string& path) {
    return AddFileAction(6, IDS_FILE_ACTION, path.c_str());
}

void FeedChange(uint32_t dwOp, const std::string& path, const std::string& newPath) {
    MONITOR_RECORD record{};
    record.dwOperation = dwOp;
    lstrcpynA(record.szPath, path.c_str(), kMonitorPathChars);
    lstrcpynA(record.szPath2, newPath.c_str(), kMonitorPathChars);
    RecordFileChange(0, &record);
}

std::string SpecialFolderPath(int iFolder) {
    char szPath[MAX_PATH] = "";
    SHGetSpecialFolderPathA(nullptr, szPath, iFolder, TRUE);
    return szPath;
}

std::string LowerText(std::string text) {
    CharLowerA(text.data());
    return text;
}

void FileSessionTest::SetUp() {
    HostedTest::SetUp();
    GetWindowsDirectoryA(WinDir, MAX_PATH);
    AddBackslash(WinDir);
    GetSystemDirectoryA(SysDir, MAX_PATH);
    AddBackslash(SysDir);
}

void FileSessionTest::TearDown() {
    FreeFileLists();
    HostedTest::TearDown();
}

void FileSessionTest::FreeFileLists() {
    FreeActionList();
    FreeRecordedChanges();
    FreeNameList(&NewFolders);
    FreeNameList(&NewFiles);
    FreeNameList(&Cautions);
    for (DIRFILE** ppList : {&WinBefore, &WinAfter, &SysBefore, &SysAfter, &BackupList})
        FreeFileList(ppList);
    FreeProtectedFolders();
    szTempDir[0] = '\0';
}
