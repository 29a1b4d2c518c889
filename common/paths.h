// The session's temporary folder and the path and folder operations that the
// undo procedures and the snapshots use.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

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
