// Registry snapshots in memory: keys, values and the four roots of a
// snapshot, with their allocation and freeing.
#pragma once

#include <windows.h>

constexpr DWORD RTREE_SENT = 0xA5A5A5A5;
constexpr DWORD RDATA_SENT = 0x5A5A5A5A;
constexpr DWORD REGTRE_SENT = 0xF1F1F1F1;

struct RDATA;

// Size of the reader's key path buffer and of the comparison's path buffer.
constexpr size_t cbRegPath = 2048;

// One registry key.
struct RTREE {
    DWORD dwSent;
    DWORD dwChange; // 3 values changed, 4 key added, 5 key deleted
    HKEY hRoot;
    RTREE* pParent;
    RTREE* pNext;
    RTREE* pChild;
    RDATA* pData;
    char* pszName;
    // The key's reading was refused: it is recorded empty, never re-created,
    // and the undo of a key above it leaves it in place.
    BOOL fUnreadable;
};

// One value; the data follows the fixed part, then 4 zero bytes.
struct RDATA {
    DWORD dwSent;
    DWORD dwType;
    DWORD cbData;
    char* pszName;
    RDATA* pNext;
    BYTE abData[4];
};

// One snapshot root; a snapshot is an array of four.
struct REGTRE {
    DWORD dwSent;
    RTREE* pNode;
    DWORD iRoot;
};

// Change codes written into a reported node.
enum : DWORD {
    REG_VALUES_CHANGED = 3,
    REG_KEY_ADDED = 4,
    REG_KEY_DELETED = 5,
};

// The snapshots before and after setup.
extern REGTRE* RegBefore;
extern REGTRE* RegAfter;

// Nodes, value records and freeing.
RTREE* NewRegistryNode();
RDATA* NewRegistryData(DWORD dwType, DWORD cbData, const BYTE* pbData, const char* pszName,
                       RDATA* pNext);
RTREE* FreeRegistryNode(RTREE* pNode, int fAll);
RDATA* FreeRegistryData(RDATA* pRD, RDATA* pPrev, int fAll);
// A copy of pNode with everything below it, its parent pParent but in no
// chain; each node of the copy under hRoot, or under its own root when
// hRoot is null.
RTREE* CopyRegistryTree(const RTREE* pNode, RTREE* pParent, HKEY hRoot = nullptr);
void FreeRegistrySnapshot(REGTRE** ppSnapshot);

// Wine keeps the target of a link key in this value of type REG_LINK. A
// link key is recorded with that value alone and no children, and is put
// back as a link; copies of a node keep it a link by their values.
constexpr char kRegLinkValueName[] = "SymbolicLinkValue";
bool IsRegistryLinkValue(DWORD dwType, const char* pszName);
bool IsRegistryLink(const RTREE* pNode);

// A heap text buffer, freed also when an exception leaves its scope.
struct RegBuffer {
    char* psz;
    explicit RegBuffer(size_t cb);
    ~RegBuffer();
    RegBuffer(const RegBuffer&) = delete;
    RegBuffer& operator=(const RegBuffer&) = delete;
};

// The runtime-style assertion report: shows the failed expression with its
// module and line, then raises the internal-error code to the nearest guard
// instead of ending the process.
[[noreturn]] void ReportAssertion(const char* pszExpression, const char* pszModule, int iLine);
