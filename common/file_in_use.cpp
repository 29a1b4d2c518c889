// Whether a file is held by another process or loaded as a module here.
#include "common/file_in_use.h"

#include "common/strings.h"
#include "common/boxes.h"

int IsFileInUse(const char* pszPath) {
    if (!pszPath || !*pszPath) {
        InternalError("Deaction", __LINE__);
        return 0;
    }
    HFILE hFile = _lopen(pszPath, OF_READ | OF_SHARE_EXCLUSIVE);
    if (hFile == HFILE_ERROR)
        return 1;
    _lclose(hFile);
    HMODULE hModule = GetModuleHandleA(pszPath);
    if (!hModule)
        return 0;
    char szModule[521];
    if (!GetModuleFileNameA(hModule, szModule, sizeof szModule))
        return 0;
    return CompareNoCase(szModule, pszPath) == 0 ? 1 : 0;
}
