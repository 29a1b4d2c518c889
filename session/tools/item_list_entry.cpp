// The one entry point that the tools library, trun95check.dll, adds to the
// shipping library's ten: the host of a check run reads with it what the
// session offers, with each item's kind and object, for programs to read.
#include "dialog/report.h"

#include <cstdio>

// Writes the item list into the file; 0 when the file cannot be written.
extern "C" int write_item_list(const char* pszPath) {
    FILE* pFile = std::fopen(pszPath, "wt");
    if (!pFile)
        return 0;
    WriteItemListTo(pFile);
    return std::fclose(pFile) == 0;
}
