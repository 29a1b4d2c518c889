// Texts from the string table, copies of texts and caution texts.
#include "common/strings.h"

#include "common/boxes.h"

#include "common/library.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
constexpr int kResBufferSize = 300;
char aszResBuffers[3][kResBufferSize];
int iNextResBuffer;
} // namespace

// Loads a text into the next of three rotating buffers. An entry that begins
// with "!" continues with the entry of the next id.
char* GetResString(UINT uId) {
    char* pszBuffer = aszResBuffers[iNextResBuffer];
    iNextResBuffer = (iNextResBuffer + 1) % 3;
    pszBuffer[0] = '\0';
    for (;;) {
        char szPart[kResBufferSize];
        if (LoadStringA(hinstLib, uId, szPart, sizeof szPart) <= 0 || szPart[0] == '\0')
            break;
        const char* pszPart = szPart[0] == '!' ? szPart + 1 : szPart;
        size_t cchUsed = std::strlen(pszBuffer);
        lstrcpynA(pszBuffer + cchUsed, pszPart, static_cast<int>(kResBufferSize - cchUsed));
        if (szPart[0] != '!')
            break;
        ++uId;
    }
    return pszBuffer;
}

size_t TextLength(const char* pszText) {
    return pszText ? std::strlen(pszText) : 0;
}

char* DupString(const char* pszText) {
    size_t cch = TextLength(pszText);
    char* pszCopy = static_cast<char*>(AllocOrDie(cch + 1));
    if (cch)
        std::memcpy(pszCopy, pszText, cch);
    pszCopy[cch] = '\0';
    return pszCopy;
}

void* AllocOrDie(size_t cb) {
    void* p = std::malloc(cb ? cb : 1);
    if (!p)
        FatalOutOfMemory();
    return p;
}

void* AllocZeroedOrDie(size_t cb) {
    void* p = std::calloc(1, cb ? cb : 1);
    if (!p)
        FatalOutOfMemory();
    return p;
}

std::string FormatText(const char* pszFormat, const char* pszFirst, const char* pszSecond) {
    int cch = std::snprintf(nullptr, 0, pszFormat, pszFirst, pszSecond ? pszSecond : "");
    if (cch < 0)
        return pszFormat;
    std::string text(static_cast<size_t>(cch) + 1, '\0');
    std::snprintf(text.data(), text.size(), pszFormat, pszFirst, pszSecond ? pszSecond : "");
    text.resize(static_cast<size_t>(cch));
    return text;
}

int CompareNoCaseN(const char* pszA, const char* pszB, size_t cch) {
    for (size_t i = 0; i < cch; ++i) {
        unsigned char a = static_cast<unsigned char>(pszA[i]);
        unsigned char b = static_cast<unsigned char>(pszB[i]);
        if (a >= 'A' && a <= 'Z')
            a = static_cast<unsigned char>(a + ('a' - 'A'));
        if (b >= 'A' && b <= 'Z')
            b = static_cast<unsigned char>(b + ('a' - 'A'));
        if (a != b)
            return a < b ? -1 : 1;
        if (a == '\0')
            return 0;
    }
    return 0;
}

int CompareNoCase(const char* pszA, const char* pszB) {
    return CompareNoCaseN(pszA, pszB, static_cast<size_t>(-1));
}

std::string FoldCase(const char* pszText, size_t cch) {
    std::string folded(pszText, cch);
    for (char& c : folded) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + ('a' - 'A'));
    }
    return folded;
}
