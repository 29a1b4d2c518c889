// Texts: the string table, copies and formats, case-blind comparison, and
// heap blocks that end the session when memory runs out.
#pragma once

#include <windows.h>

#include <string>

// Texts from the string table; an entry that begins with "!" goes on in the
// next one.
char* GetResString(UINT uId);
char* DupString(const char* pszText);
size_t TextLength(const char* pszText);

// Heap allocation that ends in FatalOutOfMemory instead of returning null.
void* AllocOrDie(size_t cb);
void* AllocZeroedOrDie(size_t cb);

// The format filled with the texts in order (each a %s); the texts are
// inserted as they stand, never read as formats.
std::string FormatText(const char* pszFormat, const char* pszFirst, const char* pszSecond = "");

// Case-blind comparison in which only A to Z fold to a to z.
int CompareNoCase(const char* pszA, const char* pszB);
int CompareNoCaseN(const char* pszA, const char* pszB, size_t cch);
// The text with A to Z folded to a to z: equal for names that compare equal
// without regard to case, and ordered as that comparison orders them.
std::string FoldCase(const char* pszText, size_t cch);
