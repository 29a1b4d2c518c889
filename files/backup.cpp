// Backs up AUTOEXEC.BAT, CONFIG.SYS and their variants, REG.DAT and the .ini
// files of the Windows folder before setup, so that an altered one can be
// put back. Each copy is recorded in BackupList with the file's size and
// last-write time for the comparison after setup.
#include "files/backup.h"

#include "common/pathsearch.h"
#include "common/strings.h"
#include "common/boxes.h"
#include "common/file_times.h"
#include "common/paths.h"
#include "files/lists.h"
#include "resources/resource.h"

#include <string>

namespace {

// Start-up files of drive C: each is optional.
const UINT kStartupFiles[] = {IDS_AUTOEXEC_BAT, IDS_CONFIG_SYS,   IDS_AUTOEXEC_DOS,
                              IDS_CONFIG_DOS,   IDS_AUTOEXEC_W40, IDS_CONFIG_W40};

} // namespace

int BackupFile(const char* pszFolder, const char* pszName) {
    if (!pszFolder || !*pszFolder || !pszName || !*pszName) {
        InternalError("File", __LINE__);
        return 0;
    }
    std::string copy = JoinPath(szTempDir, pszName);
    std::string file = JoinPath(pszFolder, pszName);
    if (!CopyFileA(file.c_str(), copy.c_str(), FALSE))
        return 0;
    CopyFileTimes(file.c_str(), copy.c_str());
    WIN32_FIND_DATAA data;
    if (!FindPathData(file.c_str(), &data))
        return 0;
    AddFileEntry(&BackupList, file.c_str(), data.nFileSizeLow, data.ftLastWriteTime, nullptr);
    return 1;
}

int BackupSystemFiles() {
    for (UINT uId : kStartupFiles)
        BackupFile(RootDir, GetResString(uId));
    BackupFile(WinDir, GetResString(IDS_REG_DAT));

    std::string progman = GetResString(IDS_PROGMAN_INI);
    std::string pattern = JoinPath(WinDir, GetResString(IDS_INI_PATTERN));
    WIN32_FIND_DATAA data;
    FolderSearch search = OpenFolderSearch(pattern.c_str(), &data);
    if (!search)
        return 1;
    int result = 1;
    do {
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        const char* pszName = FoundName(data);
        if (CompareNoCase(pszName, progman.c_str()) == 0)
            continue;
        if (!BackupFile(WinDir, pszName)) {
            result = 0;
            break;
        }
    } while (FindNextFileA(search.get(), &data));
    return result;
}
