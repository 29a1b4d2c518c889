// Carrying a file's times over to another: backed-up copies keep the times
// of their originals, and a restored file gets its copy's times back.
#include "common/file_times.h"

#include "common/boxes.h"
#include "common/handles.h"
#include "common/strings.h"
#include "resources/resource.h"

namespace {

FileHandle OpenForTimes(const char* pszPath, DWORD dwAccess) {
    return FileHandle(CreateFileA(pszPath, dwAccess, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

} // namespace

int CopyFileTimes(const char* pszTarget, const char* pszSource) {
    FILETIME ftCreation, ftAccess, ftWrite;
    {
        FileHandle source = OpenForTimes(pszSource, GENERIC_READ);
        if (!source)
            InternalErrorMsg(GetResString(IDS_CANNOT_SET_FILE_TIME), "File", __LINE__);
        if (!GetFileTime(source.get(), &ftCreation, &ftAccess, &ftWrite))
            InternalErrorMsg(GetResString(IDS_CANNOT_GET_FILE_TIME), "File", __LINE__);
    }
    FileHandle target = OpenForTimes(pszTarget, GENERIC_READ | GENERIC_WRITE);
    if (!target) {
        // A read-only file cannot be opened for writing its times; only that
        // attribute is cleared, and it stays cleared.
        DWORD dwAttributes = GetFileAttributesA(pszTarget);
        if (dwAttributes != INVALID_FILE_ATTRIBUTES)
            SetFileAttributesA(pszTarget, dwAttributes & ~FILE_ATTRIBUTE_READONLY);
        target = OpenForTimes(pszTarget, GENERIC_READ | GENERIC_WRITE);
    }
    if (!target)
        InternalErrorMsg(GetResString(IDS_CANNOT_GET_FILE_TIME), "File", __LINE__);
    SetFileTime(target.get(), &ftCreation, &ftAccess, &ftWrite);
    return 1;
}
