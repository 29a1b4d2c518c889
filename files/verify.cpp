// Verification of new items: folder and file actions that name something
// gone, a drive root or one of the system's own folders are never offered.
#include "files/verify.h"

#include "files/lists.h"

#include "actions/deaction.h"
#include "common/handles.h"
#include "common/pathsearch.h"
#include "common/strings.h"
#include "common/boxes.h"
#include "common/paths.h"
#include "resources/resource.h"
#include "common/guard.h"
#include "common/internal_error.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr int kProtectedFolders = 7;
constexpr DWORD kFolderChars = 260;

// The system folder, the Windows folder and the five folders that the
// system names under its CurrentVersion key, in this order.
char* apszProtected[kProtectedFolders];

const UINT kFolderValues[] = {IDS_COMMON_FILES_DIR, IDS_CONFIG_PATH, IDS_DEVICE_PATH,
                              IDS_MEDIA_PATH, IDS_PROGRAM_FILES_DIR};

char* NewFolderBlock() {
    return static_cast<char*>(AllocZeroedOrDie(kFolderChars));
}

void ReadFolderValues(HKEY hKey) {
    for (int i = 0; i < 5; ++i) {
        char* pszFolder = NewFolderBlock();
        apszProtected[2 + i] = pszFolder;
        DWORD cb = kFolderChars;
        if (RegQueryValueExA(hKey, GetResString(kFolderValues[i]), nullptr, nullptr,
                             reinterpret_cast<BYTE*>(pszFolder), &cb) != ERROR_SUCCESS)
            InternalErrorMsg(GetResString(IDS_NO_FOLDER_VALUE), "File", __LINE__);
        pszFolder[kFolderChars - 1] = '\0'; // a value that fills the block stays a text
    }
}

bool IsProtected(const char* pszFolder) {
    for (const char* pszProtected : apszProtected) {
        if (pszProtected && CompareNoCase(pszProtected, pszFolder) == 0)
            return true;
    }
    return false;
}

bool FolderNotToOffer(const DEACTION* pact) {
    std::string folder(pact->szObject);
    if (!folder.empty() && folder.back() == '\\')
        folder.pop_back();
    return folder.size() < 4 || IsProtected(folder.c_str()) || !PathExists(folder.c_str());
}

} // namespace

void LoadProtectedFolders() {
    FreeProtectedFolders();
    std::string system(SysDir);
    if (system.empty())
        InternalError("File", __LINE__);
    else if (system.back() == '\\')
        system.pop_back();
    apszProtected[0] = DupString(system.c_str());

    apszProtected[1] = NewFolderBlock();
    UINT cch = GetWindowsDirectoryA(apszProtected[1], kFolderChars);
    if (cch == 0 || cch >= kFolderChars)
        InternalErrorMsg("", "File", __LINE__);

    HKEY hKey = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, GetResString(IDS_CURRENT_VERSION_KEY), 0, KEY_READ,
                      &hKey) != ERROR_SUCCESS)
        InternalErrorMsg(GetResString(IDS_NO_CURRENT_VERSION_KEY), "File", __LINE__);
    RegistryKey key(hKey);
    ReadFolderValues(key.get());
}

void FreeProtectedFolders() {
    for (char*& pszFolder : apszProtected) {
        std::free(pszFolder);
        pszFolder = nullptr;
    }
}

void VerifyNewItems() {
    SearchScope searches;
    for (DEACTION* pact = pActionList; pact; pact = pact->pNext) {
        if (pact->wKind == DEA_FOLDER) {
            if (!Guarded([&] {
                    if (FolderNotToOffer(pact))
                        pact->fDone = 1;
                }))
                ReportInternalException("File", 1, __LINE__);
        } else if (pact->wKind == DEA_FILE) {
            if (!Guarded([&] {
                    if (!PathExists(pact->szObject))
                        pact->fDone = 1;
                }))
                ReportInternalException("File", 2, __LINE__);
        }
    }
}
