// Reading the notification records a watch copied, and writing what they
// say into the ring.
#include "driver/changes.h"

#include "monitor/protocol.h"

namespace {

// What the reports of one watch remember between its reads.
struct WATCH_REPORTS {
    wchar_t szRoot[4]; // "C:\"
    bool fFolders;
    bool fOldNamePending; // a rename's old name waiting for its new name
    std::wstring oldName;
};

// A folder renamed while watched keeps its old name in the platform's later
// notifications about what happens inside it (measured under Wine): each
// folder rename of a drive is kept, newest last, to find where such an item
// really is.
struct FOLDER_RENAME {
    std::wstring oldName; // relative to the drive root
    std::wstring newName;
};

WATCH_REPORTS aReports[kMaxWatches];
std::vector<FOLDER_RENAME> aFolderRenames[26];

// The ANSI form of a text; false when a character has none.
bool ToAnsi(const std::wstring& text, std::string* pAnsi) {
    pAnsi->clear();
    if (text.empty())
        return true;
    BOOL fDefaultUsed = FALSE;
    int cchText = static_cast<int>(text.size());
    int cch = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.c_str(), cchText, nullptr, 0,
                                  nullptr, &fDefaultUsed);
    if (cch <= 0 || fDefaultUsed)
        return false;
    pAnsi->assign(static_cast<size_t>(cch), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.c_str(), cchText, pAnsi->data(), cch,
                        nullptr, nullptr);
    return true;
}

// The full ANSI path of a name below a drive root. A folder or file name
// without an ANSI form is replaced by its short name, which names the same
// item; when the item has none (or is gone) there is no path: stand-in
// characters could name a different item.
bool AnsiPath(const wchar_t* pszRoot, const std::wstring& relative, std::string* pPath) {
    std::wstring wide = pszRoot;
    if (!ToAnsi(wide, pPath))
        return false;
    for (size_t start = 0; start < relative.size();) {
        size_t end = relative.find(L'\\', start);
        if (end == std::wstring::npos)
            end = relative.size();
        std::wstring component = relative.substr(start, end - start);
        std::string ansi;
        if (!ToAnsi(component, &ansi)) {
            WIN32_FIND_DATAW found;
            HANDLE hFind = FindFirstFileW((L"\\\\?\\" + wide + component).c_str(), &found);
            if (hFind == INVALID_HANDLE_VALUE)
                return false;
            FindClose(hFind);
            if (!found.cAlternateFileName[0] || !ToAnsi(found.cAlternateFileName, &ansi))
                return false;
        }
        *pPath += ansi;
        wide += component;
        if (end < relative.size()) {
            *pPath += '\\';
            wide += L'\\';
        }
        start = end + 1;
    }
    return true;
}

std::vector<FOLDER_RENAME>& FolderRenamesOf(const WATCH_REPORTS& watch) {
    return aFolderRenames[(watch.szRoot[0] - L'A') % 26];
}

bool ExistsBelowRoot(const WATCH_REPORTS& watch, const std::wstring& relative) {
    return GetFileAttributesW((L"\\\\?\\" + std::wstring(watch.szRoot) + relative).c_str()) !=
           INVALID_FILE_ATTRIBUTES;
}

std::wstring ParentOf(const std::wstring& relative) {
    size_t cch = relative.rfind(L'\\');
    return cch == std::wstring::npos ? std::wstring() : relative.substr(0, cch);
}

// Where a reported name really is: the name itself when it fits what
// happened (the item is there after a creation; its folder is there after a
// removal), else the name seen through the newest folder renames that fits.
std::wstring CurrentName(const WATCH_REPORTS& watch, const std::wstring& name, bool fPresent) {
    const std::vector<FOLDER_RENAME>& renames = FolderRenamesOf(watch);
    auto fits = [&](const std::wstring& candidate) {
        return fPresent
                   ? ExistsBelowRoot(watch, candidate)
                   : ParentOf(candidate).empty() || ExistsBelowRoot(watch, ParentOf(candidate));
    };
    if (renames.empty() || fits(name))
        return name;
    std::wstring candidate = name;
    for (auto it = renames.rbegin(); it != renames.rend(); ++it) {
        const std::wstring& oldName = it->oldName;
        if (candidate.size() > oldName.size() && candidate[oldName.size()] == L'\\' &&
            _wcsnicmp(candidate.c_str(), oldName.c_str(), oldName.size()) == 0) {
            candidate = it->newName + candidate.substr(oldName.size());
            if (fits(candidate))
                return candidate;
        }
    }
    // An item created and gone again before this is read: its folder tells.
    return fPresent ? CurrentName(watch, name, false) : name;
}

// A change whose path cannot be spelled (empty here) or does not fit a
// record is left out; its drive gets its caution.
void WriteOrMiss(const WATCH_REPORTS& watch, DWORD dwOperation, const std::string& path,
                 const std::string* pNewPath, DriverRing& ring) {
    if (path.empty() ||
        !ring.Write(dwOperation, path.c_str(), pNewPath ? pNewPath->c_str() : nullptr))
        ring.MarkMissed(1u << ((watch.szRoot[0] - L'A') % 26));
}

// Writes one record. A rename of which only one name has an ANSI path is
// reported as the removal or the creation that it is for that name.
void Report(const WATCH_REPORTS& watch, DWORD dwOperation, const std::wstring& reported,
            const std::wstring* pReportedNew, DriverRing& ring) {
    bool fCreation = dwOperation == kOpFolderCreated || dwOperation == kOpFileCreated;
    std::wstring name = CurrentName(watch, reported, fCreation);
    std::string path, newPath;
    bool fPath = AnsiPath(watch.szRoot, name, &path);
    if (!pReportedNew) {
        WriteOrMiss(watch, dwOperation, fPath ? path : std::string(), nullptr, ring);
        return;
    }
    std::wstring newName = CurrentName(watch, *pReportedNew, true);
    if (watch.fFolders)
        FolderRenamesOf(watch).push_back({name, newName});
    bool fNewPath = AnsiPath(watch.szRoot, newName, &newPath);
    if (fPath && fNewPath)
        WriteOrMiss(watch, dwOperation, path, &newPath, ring);
    else if (fPath)
        WriteOrMiss(watch, watch.fFolders ? kOpFolderRemoved : kOpFileDeleted, path, nullptr, ring);
    else
        WriteOrMiss(watch, watch.fFolders ? kOpFolderCreated : kOpFileCreated,
                    fNewPath ? newPath : std::string(), nullptr, ring);
}

void ReportOrphanOldName(WATCH_REPORTS& watch, DriverRing& ring) {
    if (!watch.fOldNamePending)
        return;
    watch.fOldNamePending = false;
    Report(watch, watch.fFolders ? kOpFolderRemoved : kOpFileDeleted, watch.oldName, nullptr, ring);
}

bool IsFlushMark(const std::wstring& name) {
    static const std::wstring prefix = FlushMarkPrefix();
    return name.compare(0, prefix.size(), prefix) == 0 && name.find(L'\\') == std::wstring::npos;
}

void HandleChange(WATCH_REPORTS& watch, DWORD dwAction, std::wstring name, DriverRing& ring) {
    if (IsFlushMark(name))
        return;
    DWORD dwCreated = watch.fFolders ? kOpFolderCreated : kOpFileCreated;
    DWORD dwRemoved = watch.fFolders ? kOpFolderRemoved : kOpFileDeleted;
    if (dwAction == FILE_ACTION_RENAMED_NEW_NAME) {
        if (watch.fOldNamePending) {
            watch.fOldNamePending = false;
            Report(watch, kOpRenamed, watch.oldName, &name, ring);
        } else {
            Report(watch, dwCreated, name, nullptr, ring);
        }
        return;
    }
    // A rename's old name without its new name: the item left the drive.
    ReportOrphanOldName(watch, ring);
    if (dwAction == FILE_ACTION_RENAMED_OLD_NAME) {
        watch.oldName = std::move(name);
        watch.fOldNamePending = true;
    } else if (dwAction == FILE_ACTION_ADDED) {
        Report(watch, dwCreated, name, nullptr, ring);
    } else if (dwAction == FILE_ACTION_REMOVED) {
        Report(watch, dwRemoved, name, nullptr, ring);
    }
}

} // namespace

std::wstring FlushMarkPrefix() {
    return L"~TR95FLUSH." + std::to_wstring(GetCurrentProcessId()) + L".";
}

void ResetChangeReports() {
    for (WATCH_REPORTS& watch : aReports)
        watch = WATCH_REPORTS{};
    for (std::vector<FOLDER_RENAME>& renames : aFolderRenames)
        renames.clear();
}

// Walks the records of one completed read, never past the bytes it returned.
void ReportChanges(int iWatch, const wchar_t* pszRoot, bool fFolders,
                   const std::vector<BYTE>& notifications, DriverRing& ring) {
    if (iWatch < 0 || iWatch >= kMaxWatches)
        return;
    WATCH_REPORTS& watch = aReports[iWatch];
    lstrcpynW(watch.szRoot, pszRoot, 4);
    watch.fFolders = fFolders;
    const BYTE* pStart = notifications.data();
    const DWORD cbReturned = static_cast<DWORD>(notifications.size());
    const DWORD cbHeader = offsetof(FILE_NOTIFY_INFORMATION, FileName);
    DWORD dwOffset = 0;
    while (dwOffset + cbHeader <= cbReturned) {
        auto* pInfo = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(pStart + dwOffset);
        if (pInfo->FileNameLength > cbReturned - dwOffset - cbHeader)
            break;
        HandleChange(watch, pInfo->Action,
                     std::wstring(pInfo->FileName, pInfo->FileNameLength / sizeof(WCHAR)), ring);
        if (pInfo->NextEntryOffset == 0)
            break;
        dwOffset += pInfo->NextEntryOffset;
    }
}
