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
    DWORD dwThreadId;
};

std::vector<ListedHandle> listedHandles;
HandleMark nextSerial;

// Threads that read the registry side by side list their handles here too;
// the list is theirs one at a time.
class ListLock {
  public:
    ListLock() { EnterCriticalSection(&Section()); }
    ~ListLock() { LeaveCriticalSection(&Section()); }
    ListLock(const ListLock&) = delete;
    ListLock& operator=(const ListLock&) = delete;

  private:
    static CRITICAL_SECTION& Section() {
        static CRITICAL_SECTION section;
        static const bool fMade = (InitializeCriticalSection(&section), true);
        (void)fMade;
        return section;
    }
};

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
    bool fListed = false;
    try {
        ListLock lock;
        listedHandles.push_back(ListedHandle{kind, h, nextSerial++, GetCurrentThreadId()});
        fListed = true;
    } catch (const std::bad_alloc&) {
    }
    if (!fListed) {
        CloseByKind(kind, h);
        FatalOutOfMemory();
    }
}

namespace {

// Drops a listed handle from the list; false when it is not listed.
bool Unlist(HandleKind kind, void* h) {
    ListLock lock;
    for (size_t i = listedHandles.size(); i-- > 0;) {
        if (listedHandles[i].kind == kind && listedHandles[i].h == h) {
            listedHandles.erase(listedHandles.begin() + static_cast<std::ptrdiff_t>(i));
            return true;
        }
    }
    return false;
}

} // namespace

// Closes outside the lock: a close is a round trip that other threads need
// not wait for.
void CloseListedHandle(HandleKind kind, void* h) {
    if (Unlist(kind, h))
        CloseByKind(kind, h);
}

HandleMark MarkOpenHandles() {
    ListLock lock;
    return nextSerial;
}

void CloseHandlesOpenedAfter(HandleMark mark) {
    ListLock lock;
    DWORD dwThreadId = GetCurrentThreadId();
    for (size_t i = listedHandles.size(); i-- > 0;) {
        if (listedHandles[i].serial >= mark && listedHandles[i].dwThreadId == dwThreadId) {
            ListedHandle listed = listedHandles[i];
            listedHandles.erase(listedHandles.begin() + static_cast<std::ptrdiff_t>(i));
            CloseByKind(listed.kind, listed.h);
        }
    }
}

size_t CountOpenHandles() {
    ListLock lock;
    return listedHandles.size();
}

namespace {

// A fault's guard closes the handles its stretch opened; a new session closes
// every one its thread left open.
const bool kHandlesReset =
    RegisterStateReset({[] { return StateValue{MarkOpenHandles()}; },
                        [](StateValue mark) { CloseHandlesOpenedAfter(mark); }, true});

} // namespace
