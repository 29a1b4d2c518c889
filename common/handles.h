// Handles the library opens while it works: registry keys, directory
// searches and files. An OwnedHandle closes its handle when its scope ends,
// and every open one is listed: a processor fault abandons a stretch without
// running its destructors (in the 32-bit build the guard's handler jumps back
// past them), so the guard that catches it closes whatever the stretch left
// open, and a new session starts with nothing open.
#pragma once

#include <windows.h>

#include <cstdint>
#include <type_traits>
#include <utility>

enum class HandleKind : unsigned char { RegistryKey, FolderSearch, File };

// Lists a handle just opened; without room for the entry the handle is
// closed and the session ends out of memory.
void ListOpenHandle(HandleKind kind, void* h);
// Closes a listed handle and drops it from the list. One that is no longer
// listed was closed by a guard already and is left alone.
void CloseListedHandle(HandleKind kind, void* h);

// The handles open at one moment: everything opened later is closed by
// CloseHandlesOpenedAfter, whatever was closed in between.
using HandleMark = uint64_t;
HandleMark MarkOpenHandles();
void CloseHandlesOpenedAfter(HandleMark mark);
size_t CountOpenHandles();

template <HandleKind Kind> class OwnedHandle {
  public:
    using Handle = std::conditional_t<Kind == HandleKind::RegistryKey, HKEY, HANDLE>;

    OwnedHandle() = default;
    // Takes over a handle just opened; null and INVALID_HANDLE_VALUE (a
    // failed open) leave it empty.
    explicit OwnedHandle(Handle h) { Reset(h); }
    OwnedHandle(OwnedHandle&& other) noexcept : h_(std::exchange(other.h_, nullptr)) {}
    OwnedHandle& operator=(OwnedHandle&& other) noexcept {
        if (this != &other) {
            Close();
            h_ = std::exchange(other.h_, nullptr);
        }
        return *this;
    }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;
    ~OwnedHandle() { Close(); }

    Handle get() const { return h_; }
    explicit operator bool() const { return h_ != nullptr; }

    void Reset(Handle h) {
        Close();
        if (h && h != INVALID_HANDLE_VALUE) {
            ListOpenHandle(Kind, reinterpret_cast<void*>(h));
            h_ = h;
        }
    }
    void Close() {
        if (h_)
            CloseListedHandle(Kind, reinterpret_cast<void*>(std::exchange(h_, nullptr)));
    }

  private:
    Handle h_ = nullptr;
};

using RegistryKey = OwnedHandle<HandleKind::RegistryKey>;
using FolderSearch = OwnedHandle<HandleKind::FolderSearch>;
// Files and other kernel objects closed with CloseHandle (a file mapping).
using FileHandle = OwnedHandle<HandleKind::File>;
