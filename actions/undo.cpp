// Undo procedures of folder, file, group, icon and restore actions: nonzero
// when the action is carried out or has nothing left to do, 0 when it failed.
#include "actions/undo.h"

#include "common/handles.h"
#include "common/strings.h"
#include "common/boxes.h"
#include "common/paths.h"
#include "common/file_times.h"
#include "resources/resource.h"

#include <cstring>
#include <string>

namespace {

enum class FolderKind { Folder, Group };

// Folders and groups are removed alike; only the message when the current
// directory cannot be moved out of the way differs.
int RemoveFolderTree(const char* pszPath, FolderKind kind) {
    if (!pszPath || !*pszPath) {
        InternalError("Deaction", __LINE__);
        return 0;
    }
    std::string folder = JoinPath(pszPath, "");
    if (!DeleteFolderFiles(folder.c_str()))
        return 0;
    folder.pop_back();
    if (RemoveFolder(folder.c_str()) == 0)
        return 1;
    // Usually the folder is the current directory: step out and try again.
    std::string parent = folder + "\\..";
    if (ChangeFolder(parent.c_str()) != 0) {
        if (kind == FolderKind::Folder)
            MessageBoxFmt(GetResString(IDS_CANNOT_CHANGE_TO), parent.c_str());
        else
            MessageBoxFmt(GetResString(IDS_CANNOT_REMOVE_GROUP), "");
    }
    return RemoveFolder(folder.c_str()) == 0 ? 1 : 0;
}

int DeletePath(const char* pszPath) {
    if (!PathExists(pszPath))
        return 1;
    return DeleteFileForce(pszPath) == 0 ? 1 : 0;
}

} // namespace

int UndoDeleteFile(DEACTION* pact) {
    return DeletePath(pact->szObject);
}

int UndoDeleteIcon(DEACTION* pact) {
    const char* pszPath = static_cast<const char*>(pact->pExtra);
    if (!pszPath || !*pszPath) {
        InternalError("Deaction", __LINE__);
        return 0;
    }
    if (DeletePath(pszPath))
        return 1;
    return UndoDeleteGroup(pact);
}

int UndoDeleteFolder(DEACTION* pact) {
    return RemoveFolderTree(pact->szObject, FolderKind::Folder);
}

int UndoDeleteGroup(DEACTION* pact) {
    return RemoveFolderTree(static_cast<const char*>(pact->pExtra), FolderKind::Group);
}

int UndoRestoreFile(DEACTION* pact) {
    const char* pszSlash = std::strrchr(pact->szObject, '\\');
    if (!pszSlash) {
        InternalError("Deaction", __LINE__);
        return 0;
    }
    const char* pszName = pszSlash + 1;
    std::string backup = JoinPath(szTempDir, pszName);
    if (!CopyFileA(backup.c_str(), pact->szObject, FALSE))
        return 0;
    if (CompareNoCase(pszName, GetResString(IDS_REG_DAT)) == 0) {
        // The backup copy takes the restored file's times; then the system is
        // nudged to read the registry file anew.
        CopyFileTimes(backup.c_str(), pact->szObject);
        GlobalCompact(0xFFFFFFFF);
        HKEY hKey = nullptr;
        if (RegOpenKeyA(HKEY_CLASSES_ROOT, "txtfile", &hKey) == ERROR_SUCCESS)
            RegistryKey(hKey).Close();
    }
    return 1;
}
