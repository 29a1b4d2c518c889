// The entry points with which the tools library, trun95check.dll, lets the
// host of a check run read what the session offers, with each item's kind and
// object, for programs to read: after the setup's own uninstaller, and what
// setup made before it ran (its footprint).
#include "dialog/report.h"
#include "registry/tree.h"
#include "registry/uninstaller.h"
#include "session/session.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

std::string footprintPath;
FILE* pFootprintFile = nullptr;

// A command's line breaks and tabs would split its line of the list.
void WriteUninstallerLine(const char* pszEntry, const char* pszCommand) {
    std::string command = pszCommand;
    for (char& ch : command) {
        if (ch == '\t' || ch == '\r' || ch == '\n')
            ch = ' ';
    }
    std::fprintf(pFootprintFile, "uninstaller\t%s\t%s\n", pszEntry, command.c_str());
}

// The item list, then one "uninstaller" line for each Uninstall entry setup
// added: the entry's name and its UninstallString, which the own uninstaller
// is about to remove. A list that cannot be written whole is not left
// behind, so that a reader never takes half a list for the whole.
void WriteFootprint() {
    pFootprintFile = std::fopen(footprintPath.c_str(), "wt");
    if (!pFootprintFile)
        return;
    WriteItemListTo(pFootprintFile);
    ListNewUninstallers(&RegBefore, &RegAfter, WriteUninstallerLine);
    bool fWriteFailed = std::ferror(pFootprintFile) != 0;
    if (std::fclose(pFootprintFile) != 0 || fWriteFailed)
        DeleteFileA(footprintPath.c_str());
    pFootprintFile = nullptr;
}

} // namespace

// Writes the item list into the file; 0 when the file cannot be written.
extern "C" int write_item_list(const char* pszPath) {
    FILE* pFile = std::fopen(pszPath, "wt");
    if (!pFile)
        return 0;
    WriteItemListTo(pFile);
    return std::fclose(pFile) == 0;
}

// Has the session write its footprint into the file, in the form of
// write_item_list, before it offers the setup's own uninstaller. Returns 0
// for a missing name.
extern "C" int write_footprint_items(const char* pszPath) {
    if (!pszPath || !*pszPath)
        return 0;
    footprintPath = pszPath;
    pfnFootprintCompared = WriteFootprint;
    return 1;
}
