// The list of open handles. Entries carry the order in which they were
// opened, so a mark stays right when handles opened before it are closed
// out of order.
#include "common/handles.h"

#include "common/state_reset.h"
#include "common/boxes.h"

#include <new>
#include <vector>

namespace {

struct ListedHandle {
    HandleKind kind;
    void* h;
    HandleMark serial;
};

std::vector<ListedHandle> listedHandles;
HandleMark nextSerial;

void CloseByKind(HandleKind kind, void* h) {
    switch (kind) {
    case HandleKind::RegistryKey:
        RegCloseKey(static_cast<HKEY>(h));
        break;
    case HandleKind::FolderSearch:
        FindClose(h);
        break;
    case HandleKind::File:
        CloseHandle(h);
        break;
    }
}

} // namespace

void ListOpenHandle(HandleKind kind, void* h) {
    try {
        listedHandles.push_back(ListedHandle{kind, h, nextSerial++});
    } catch (const std::bad_alloc&) {
        CloseByKind(kind, h);
        FatalOutOfMemory();
    }
}

void CloseListedHandle(HandleKind kind, void* h) {
    for (size_t i = listedHandles.size(); i-- > 0;) {
        if (listedHandles[i].kind == kind && listedHandles[i].h == h) {
            listedHandles.erase(listedHandles.begin() + static_cast<std::ptrdiff_t>(i));
            CloseByKind(kind, h);
            return;
        }
    }
}

HandleMark MarkOpenHandles() {
    return nextSerial;
}

void CloseHandlesOpenedAfter(HandleMark mark) {
    for (size_t i = listedHandles.size(); i-- > 0;) {
        if (listedHandles[i].serial >= mark) {
            ListedHandle listed = listedHandles[i];
            listedHandles.erase(listedHandles.begin() + static_cast<std::ptrdiff_t>(i));
            CloseByKind(listed.kind, listed.h);
        }
    }
}

size_t CountOpenHandles() {
    return listedHandles.size();
}

namespace {

// A fault's guard closes the handles its stretch opened; a new session closes
// every one left open.
const bool kHandlesReset =
    RegisterStateReset({[] { return StateValue{MarkOpenHandles()}; },
                        [](StateValue mark) { CloseHandlesOpenedAfter(mark); }, true});

} // namespace
