// Searches for single paths after setup. A large install asks for tens of
// thousands of files in a few thousand folders; while a SearchScope lives,
// each folder is listed once and every later search in it is answered from
// that listing, with the same answer a search of the disk would give.
#pragma once

#include "common/handles.h"

#include <windows.h>

#include <string>

// The name a directory search reports: the long name, or the 8.3 name when
// the long name is empty or has characters the ANSI code page cannot carry.
const char* FoundName(const WIN32_FIND_DATAA& data);

// What a search for one path finds.
struct FoundEntry {
    std::string name; // as FoundName reports it
    DWORD dwAttributes = 0;
};

// Searches as FindFirstFileA does; false when the search finds nothing.
bool SearchPathEntry(const char* pszPath, FoundEntry* pFound);

// What the disk says of one path now, never from a listing: FindFirstFileA
// with its search closed at once; false when it finds nothing.
bool FindPathData(const char* pszPath, WIN32_FIND_DATAA* pData);

// Lets searches answer from folder listings while it lives. The disk must not
// change meanwhile: open one only while no setup runs.
class SearchScope {
  public:
    SearchScope();
    ~SearchScope();
    SearchScope(const SearchScope&) = delete;
    SearchScope& operator=(const SearchScope&) = delete;

    struct Listings;

  private:
    Listings* pListings_;
};

// A directory search that stays open while other work runs: FindFirstFileA,
// with the search held (and known to the guards) until the result goes.
// An empty result when nothing matches.
FolderSearch OpenFolderSearch(const char* pszPattern, WIN32_FIND_DATAA* pData);

// The listings open at one moment. A processor fault abandons a stretch
// without running its destructors; the guard that catches it closes every
// listing opened after its mark, so later searches ask the disk again.
struct SearchMark {
    SearchScope::Listings* pListings;
};
SearchMark MarkSearches();
void CloseSearchesAfter(const SearchMark& mark);
