// The buffer that the library shares with the monitoring driver "tr95.vxd":
// a control block, then a ring of 65 record slots. Both sides include this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

constexpr uint32_t MONITOR_ARM = 1;
constexpr uint32_t MONITOR_STOP = 2;
// Asks the driver to hand over everything it has seen so far; it says in
// dwFlushed when all of that is in the ring. A driver that does not know the
// code refuses it, and the reader then drains what the ring holds.
constexpr uint32_t MONITOR_FLUSH = 3;

constexpr int kMonitorUnitBytes = 1060;
constexpr int kMonitorSlots = 65;                           // slots 0 .. 64
constexpr int kMonitorBufferBytes = 67 * kMonitorUnitBytes; // 71,020
constexpr int kMonitorPathChars = 522;

// Operation codes of a record.
constexpr uint32_t kOpFolderCreated = 1;
constexpr uint32_t kOpFolderRemoved = 2;
constexpr uint32_t kOpRenamed = 5;
constexpr uint32_t kOpFileDeleted = 6;
constexpr uint32_t kOpFileCreated = 8;

#pragma pack(push, 1)
// Drive bit masks: bit i stands for drive 'A' + i.
struct MONITOR_CONTROL {
    int32_t dwHead;           // slot the driver wrote last
    int32_t dwTail;           // slot the reader consumed last
    uint32_t dwWatchedDrives; // drives the driver watches, set when it is armed
    uint32_t dwMissedDrives;  // drives where the driver lost changes
    uint32_t dwFlushed;       // nonzero once MONITOR_FLUSH is done
    uint8_t abUnused[kMonitorUnitBytes - 20];
};

struct MONITOR_RECORD {
    uint32_t dwReserved;
    uint32_t dwOperation;
    uint8_t abReserved[8];
    char szPath[kMonitorPathChars];
    char szPath2[kMonitorPathChars];
};

static_assert(sizeof(MONITOR_CONTROL) == kMonitorUnitBytes);
static_assert(offsetof(MONITOR_CONTROL, dwWatchedDrives) == 8);
static_assert(offsetof(MONITOR_CONTROL, dwFlushed) == 16);
static_assert(sizeof(MONITOR_RECORD) == kMonitorUnitBytes);
static_assert(offsetof(MONITOR_RECORD, dwOperation) == 4);
static_assert(offsetof(MONITOR_RECORD, szPath) == 16);
static_assert(offsetof(MONITOR_RECORD, szPath2) == 538);

// Input of MONITOR_ARM: the driver-side handle of the notification event,
// then the address of the shared view in the host process. The view always
// lies below 4 GiB, so the address fits 32 bits in both builds.
struct MONITOR_ARM_INPUT {
    int32_t hEvent;
    uint32_t dwView;
};
#pragma pack(pop)

static_assert(sizeof(MONITOR_ARM_INPUT) == 8);

// A loaded driver holds a named object while it is loaded, so that a probe
// of its device name finds it from any process: "VxD TR95.VXD loaded".
constexpr char kVxdLoadedFormat[] = "VxD %s loaded";

// Address of record slot i (0 .. 64) in the shared buffer.
inline MONITOR_RECORD* MonitorSlot(void* pView, int i) {
    return reinterpret_cast<MONITOR_RECORD*>(static_cast<uint8_t*>(pView) + kMonitorUnitBytes +
                                             i * kMonitorUnitBytes);
}

// The fields of the control block, read and written whole: the view starts
// on a page boundary, so all lie on 4-byte boundaries. A reader sees a
// slot's content before it sees the index that names the slot, and every
// record before it sees dwFlushed set.
inline int32_t ReadMonitorIndex(void* pView, size_t offset) {
    auto* pIndex = reinterpret_cast<int32_t*>(static_cast<uint8_t*>(pView) + offset);
    return __atomic_load_n(pIndex, __ATOMIC_ACQUIRE);
}
inline void WriteMonitorIndex(void* pView, size_t offset, int32_t value) {
    auto* pIndex = reinterpret_cast<int32_t*>(static_cast<uint8_t*>(pView) + offset);
    __atomic_store_n(pIndex, value, __ATOMIC_RELEASE);
}
// Sets bits of a drive mask; the other bits stay as they are.
inline void AddMonitorBits(void* pView, size_t offset, int32_t bits) {
    auto* pMask = reinterpret_cast<int32_t*>(static_cast<uint8_t*>(pView) + offset);
    __atomic_fetch_or(pMask, bits, __ATOMIC_RELEASE);
}
constexpr size_t kMonitorHeadOffset = offsetof(MONITOR_CONTROL, dwHead);
constexpr size_t kMonitorTailOffset = offsetof(MONITOR_CONTROL, dwTail);
constexpr size_t kMonitorWatchedOffset = offsetof(MONITOR_CONTROL, dwWatchedDrives);
constexpr size_t kMonitorMissedOffset = offsetof(MONITOR_CONTROL, dwMissedDrives);
constexpr size_t kMonitorFlushedOffset = offsetof(MONITOR_CONTROL, dwFlushed);

// The control codes the loader sends when it opens and closes a driver.
constexpr uint32_t kDiocOpen = 0;
constexpr uint32_t kDiocCloseHandle = 0xFFFFFFFF;

// The name of the object that announces a loaded driver, from the driver's
// file name without folder ("tr95.vxd" gives "VxD TR95.VXD loaded"); both
// the loader and the driver build it here. False when it does not fit.
inline bool BuildVxdLoadedName(const char* pszFileName, char* pszName, size_t cchName) {
    char szUpper[64];
    size_t cch = 0;
    for (; pszFileName[cch]; ++cch) {
        if (cch + 1 >= sizeof szUpper)
            return false;
        char ch = pszFileName[cch];
        szUpper[cch] = ch >= 'a' && ch <= 'z' ? static_cast<char>(ch - 'a' + 'A') : ch;
    }
    szUpper[cch] = '\0';
    int cchWritten = std::snprintf(pszName, cchName, kVxdLoadedFormat, szUpper);
    return cchWritten > 0 && static_cast<size_t>(cchWritten) < cchName;
}
