// Setting up and freeing the session state the uninstall dialog reads.
#include "dialog_session.h"

#include "common/paths.h"
#include "files/lists.h"
#include "common/library.h"

#include <shlobj.h>

#include <set>

std::vector<std::string> journal;

namespace {
std::set<DEACTION*> failedOnce;
}

DialogSession::DialogSession(HostWindow& host) {
    hwndParent = host.hwnd();
    if (!pShellMalloc)
        SHGetMalloc(&pShellMalloc);
    GetWindowsDirectoryA(WinDir, sizeof WinDir);
    AddBackslash(WinDir);
    GetSystemDirectoryA(SysDir, sizeof SysDir);
    AddBackslash(SysDir);
    iniPath_ = WindowsFolder() + "tarnel32.ini";
    journal.clear();
    failedOnce.clear();
}

DialogSession::~DialogSession() {
    FreeActionList();
    FreeNameList(&Cautions);
    DeleteFileA(iniPath_.c_str());
    hwndParent = nullptr;
}

void DialogSession::ChooseForm(const char* pszValue) {
    DeleteFileA(iniPath_.c_str());
    if (pszValue)
        WritePrivateProfileStringA("Tarnel", "UninstallerTreeview", pszValue, "tarnel32.ini");
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, "tarnel32.ini");
}

DEACTION* DialogSession::Add(WORD wKind, const std::string& description, const std::string& object,
                             PFNACTION pfnConfirm, PFNACTION pfnUndo) {
    return AddAction(wKind, 0, "%s", description.c_str(), pfnConfirm,
                     pfnUndo ? pfnUndo : UndoSucceeds, object.c_str(), nullptr);
}

void DialogSession::AddCaution(const std::string& text) {
    AddName(0, &Cautions, text.c_str());
}

std::string DialogSession::WindowsFolder() const {
    return WinDir;
}

int UndoSucceeds(DEACTION* pact) {
    journal.push_back(std::string("undo ") + pact->szObject);
    return 1;
}

int UndoFails(DEACTION* pact) {
    journal.push_back(std::string("undo failed ") + pact->szObject);
    return 0;
}

int UndoFailsOnce(DEACTION* pact) {
    if (failedOnce.insert(pact).second)
        return UndoFails(pact);
    return UndoSucceeds(pact);
}

int ConfirmYes(DEACTION* pact) {
    journal.push_back(std::string("confirm ") + pact->szObject);
    return IDYES;
}

int ConfirmNo(DEACTION* pact) {
    journal.push_back(std::string("confirm ") + pact->szObject);
    return IDNO;
}

int ConfirmCancel(DEACTION* pact) {
    journal.push_back(std::string("confirm ") + pact->szObject);
    return IDCANCEL;
}
