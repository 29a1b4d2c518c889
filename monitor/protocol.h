// The buffer that the library shares with the monitoring driver "tr95.vxd":
// a control block, then a ring of 65 record slots. Both sides include this.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint32_t MONITOR_ARM = 1;
constexpr uint32_t MONITOR_STOP = 2;

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
struct MONITOR_CONTROL {
    int32_t dwHead; // slot the driver wrote last
    int32_t dwTail; // slot the reader consumed last
    uint8_t abUnused[kMonitorUnitBytes - 8];
};

struct MONITOR_RECORD {
    uint32_t dwReserved;
    uint32_t dwOperation;
    uint8_t abReserved[8];
    char szPath[kMonitorPathChars];
    char szPath2[kMonitorPathChars];
};
#pragma pack(pop)

static_assert(sizeof(MONITOR_CONTROL) == kMonitorUnitBytes);
static_assert(sizeof(MONITOR_RECORD) == kMonitorUnitBytes);
static_assert(offsetof(MONITOR_RECORD, dwOperation) == 4);
static_assert(offsetof(MONITOR_RECORD, szPath) == 16);
static_assert(offsetof(MONITOR_RECORD, szPath2) == 538);

// Address of record slot i (0 .. 64) in the shared buffer.
inline MONITOR_RECORD* MonitorSlot(void* pView, int i) {
    return reinterpret_cast<MONITOR_RECORD*>(static_cast<uint8_t*>(pView) + kMonitorUnitBytes +
                                             i * kMonitorUnitBytes);
}
