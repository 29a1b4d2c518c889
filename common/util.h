// Common services: string-table texts, the status line, message pumping,
// message boxes, the busy state, internal-error reports, and the temporary
// folder and path helpers.
#pragma once

#include <windows.h>

#include <functional>
#include <new>
#include <string>

// Texts and the status line.
char* GetResString(UINT uId);
void ShowStatus(HWND hwndStatus, const char* pszText);
void PumpMessages();
// Pumps only when at least 15 ms have passed since the last time it did:
// long scans keep the windows painting without a round trip per item.
void PumpMessagesWhenDue();
char* DupString(const char* pszText);
size_t TextLength(const char* pszText);

// Message boxes and the busy state. Every box of the library is shown by
// ShowLibraryBox: over hwndOwner (none when null), with the library's title
// unless another is given. The host's active window owns most of them.
int ShowLibraryBox(HWND hwndOwner, const char* pszText, UINT uFlags,
                   const char* pszTitle = nullptr);
HWND HostBoxOwner();
// A box over the host's active window once the busy state has ended; a
// missing text or host window is reported first.
int UninstMessageBox(const char* pszText, UINT uFlags);
int MessageBoxFmt(const char* pszFormat, const char* pszArg);
HWND GetOwnerWindow(HWND hwnd);
void CenterWindow(HWND hwnd);
void BeginBusy();
void EndBusy();
bool IsBusy();

// Reports. InternalError returns; the other two raise. TextGiven reports a
// null or empty text as an internal error of the module and returns false;
// the caller's operation goes on.
bool TextGiven(const char* pszText, const char* pszModule, int iLine);
void InternalError(const char* pszModule, int iLine);
[[noreturn]] void InternalErrorMsg(const char* pszMessage, const char* pszModule, int iLine);
[[noreturn]] void FatalOutOfMemory();

// Runs work that allocates from the standard library; running out of
// memory ends in FatalOutOfMemory.
template <class Work> void OrOutOfMemory(Work&& work) {
    try {
        work();
    } catch (const std::bad_alloc&) {
        FatalOutOfMemory();
    }
}

// Heap allocation that ends in FatalOutOfMemory instead of returning null.
void* AllocOrDie(size_t cb);
void* AllocZeroedOrDie(size_t cb);

// Temporary folder.
extern char szTempBase[MAX_PATH + 1];
extern char szTempDir[MAX_PATH + 16];
void FindTempBase();
// Makes the folder and puts its name into the buffer; on failure the buffer
// is left empty.
int CreateTempFolder(char* pszBuffer);
// Empties and removes the session's temporary folder and forgets its name;
// nothing to do when no folder was made.
void RemoveTempFolder();

// Paths and folders.
int PathExists(const char* pszPath);
int DeleteFolderFiles(const char* pszFolder);
int FindFileInUse(const char* pszFolder, const char* pszShown);
// Visits everything below a folder, each folder before what it holds. A link
// is visited as itself (fFolder false) and never entered.
void WalkFolderTree(const std::string& folder,
                    const std::function<void(const std::string& path, bool fFolder)>& visit);
int RemoveFolder(const char* pszFolder);
int ChangeFolder(const char* pszFolder);
int DeleteFileForce(const char* pszFile);
void AddBackslash(char* pszPath);
// The folder and the name with one backslash between them (a folder that
// ends in a slash has it turned into a backslash); with an empty name, the
// folder with its closing backslash.
std::string JoinPath(const char* pszFolder, const char* pszName);
void StripBackslash(char* pszPath);

// The format filled with the texts in order (each a %s); the texts are
// inserted as they stand, never read as formats.
std::string FormatText(const char* pszFormat, const char* pszFirst, const char* pszSecond = "");

// Case-blind comparison in which only A to Z fold to a to z.
int CompareNoCase(const char* pszA, const char* pszB);
int CompareNoCaseN(const char* pszA, const char* pszB, size_t cch);
// The text with A to Z folded to a to z: equal for names that compare equal
// without regard to case, and ordered as that comparison orders them.
std::string FoldCase(const char* pszText, size_t cch);
