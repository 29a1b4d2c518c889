// The report of the offered items: shown, saved into a file, and written as
// an item list for programs to read.
#pragma once

#include <windows.h>

#include <cstdio>

void WriteReport(HWND hwndOwner);
// Writes the report into the named file, or tells the user that it could not
// be written whole.
void SaveReport(HWND hwndOwner, const char* pszFile);
// Writes the same items for programs to read: one line each, kind, object and
// the report's text, separated by tabs; cautions first.
void WriteItemListTo(FILE* pFile);
