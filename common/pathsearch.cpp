// Path searches answered from folder listings while a SearchScope lives, and
// the listings a fault's guard closes.
#include "common/pathsearch.h"

#include "common/state_reset.h"
#include "common/strings.h"

#include <cstddef>
#include <cstring>
#include <new>
#include <unordered_map>
#include <vector>

// Folder listings keyed by the folded folder text; an entry is keyed by its
// folded long name and, where it has one, by its folded 8.3 name, since a
// search matches either. Scopes nest: each knows the one it replaced.
struct SearchScope::Listings {
    using Entries = std::unordered_map<std::string, FoundEntry>;
    std::unordered_map<std::string, Entries> folders;
    Listings* pOuter = nullptr;
};

namespace {

SearchScope::Listings* pActiveListings;

void CloseInnermostListings() {
    SearchScope::Listings* pListings = pActiveListings;
    pActiveListings = pListings->pOuter;
    delete pListings;
}

bool SearchDisk(const char* pszPath, FoundEntry* pFound) {
    WIN32_FIND_DATAA data;
    if (!FindPathData(pszPath, &data))
        return false;
    pFound->name = FoundName(data);
    pFound->dwAttributes = data.dwFileAttributes;
    return true;
}

// A name the listing answers exactly like a search: no wildcards or other
// separators, no trailing dot or space (a search strips those), and plain
// ASCII, whose case folding is the same here as in the file system.
bool IsPlainName(const char* pszName) {
    size_t cch = std::strlen(pszName);
    if (cch == 0 || pszName[cch - 1] == '.' || pszName[cch - 1] == ' ')
        return false;
    for (const char* pch = pszName; *pch; ++pch) {
        auto ch = static_cast<unsigned char>(*pch);
        if (ch >= 0x80 || ch < 0x20 || std::strchr("*?/:\"<>|", ch))
            return false;
    }
    return true;
}

SearchScope::Listings::Entries ListFolder(const std::string& folder) {
    SearchScope::Listings::Entries entries;
    WIN32_FIND_DATAA data;
    FolderSearch search = OpenFolderSearch((folder + "\\*").c_str(), &data);
    if (!search)
        return entries;
    do {
        FoundEntry entry{FoundName(data), data.dwFileAttributes};
        if (data.cAlternateFileName[0])
            entries.emplace(FoldCase(data.cAlternateFileName, std::strlen(data.cAlternateFileName)),
                            entry);
        entries[FoldCase(entry.name.data(), entry.name.size())] = std::move(entry);
    } while (FindNextFileA(search.get(), &data));
    return entries;
}

bool SearchListing(SearchScope::Listings& listings, const char* pszPath, FoundEntry* pFound) {
    const char* pszName = std::strrchr(pszPath, '\\') + 1;
    std::string folder(pszPath, static_cast<size_t>(pszName - pszPath - 1));
    std::string folderKey = FoldCase(folder.data(), folder.size());
    auto itFolder = listings.folders.find(folderKey);
    if (itFolder == listings.folders.end())
        itFolder = listings.folders.emplace(std::move(folderKey), ListFolder(folder)).first;
    auto itEntry = itFolder->second.find(FoldCase(pszName, std::strlen(pszName)));
    if (itEntry == itFolder->second.end())
        return false;
    *pFound = itEntry->second;
    return true;
}

} // namespace

const char* FoundName(const WIN32_FIND_DATAA& data) {
    // A '?' never belongs to a real name: it stands for a character outside
    // the ANSI code page, and only the 8.3 name still reaches the file.
    bool fSpelled = data.cFileName[0] && !std::strchr(data.cFileName, '?');
    return fSpelled || !data.cAlternateFileName[0] ? data.cFileName : data.cAlternateFileName;
}

bool SearchPathEntry(const char* pszPath, FoundEntry* pFound) {
    const char* pszSlash = std::strrchr(pszPath, '\\');
    bool fListable = pActiveListings && pszSlash && pszSlash != pszPath && pszSlash[-1] != '\\' &&
                     IsPlainName(pszSlash + 1);
    if (fListable) {
        try {
            return SearchListing(*pActiveListings, pszPath, pFound);
        } catch (const std::bad_alloc&) {
            // Without room for the listing the disk still answers.
        }
    }
    return SearchDisk(pszPath, pFound);
}

SearchScope::SearchScope() : pListings_(new Listings) {
    pListings_->pOuter = pActiveListings;
    pActiveListings = pListings_;
}

SearchScope::~SearchScope() {
    // A guard may have closed it already, after a fault inside it.
    if (pActiveListings == pListings_)
        CloseInnermostListings();
}

bool FindPathData(const char* pszPath, WIN32_FIND_DATAA* pData) {
    HANDLE hFind = FindFirstFileA(pszPath, pData);
    if (hFind == INVALID_HANDLE_VALUE)
        return false;
    FindClose(hFind);
    return true;
}

FolderSearch OpenFolderSearch(const char* pszPattern, WIN32_FIND_DATAA* pData) {
    return FolderSearch(FindFirstFileA(pszPattern, pData));
}

SearchMark MarkSearches() {
    return SearchMark{pActiveListings};
}

void CloseSearchesAfter(const SearchMark& mark) {
    while (pActiveListings && pActiveListings != mark.pListings)
        CloseInnermostListings();
}

namespace {

// A fault's guard closes the listings its stretch opened, so that later
// searches ask the disk again; a new session starts with none.
const bool kSearchesReset = RegisterStateReset(
    {[] { return StateValue{reinterpret_cast<uintptr_t>(MarkSearches().pListings)}; },
     [](StateValue mark) {
         CloseSearchesAfter(
             SearchMark{reinterpret_cast<SearchScope::Listings*>(static_cast<uintptr_t>(mark))});
     },
     true});

} // namespace
