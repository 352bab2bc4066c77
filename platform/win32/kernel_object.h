// Kernel objects behind HANDLE values, shared by the event, thread and file
// functions of the Win32 layer.
//
// A HANDLE is a key into one process-wide table of heap objects. Every
// function looks the handle up first, so a null, closed or made-up handle
// fails with ERROR_INVALID_HANDLE instead of touching freed memory, and the
// lookup hands back a shared reference that keeps the object alive while the
// call runs even when another thread closes the handle meanwhile.
#pragma once

#include <list>
#include <memory>

#include "morvik/win32/windows.h"

struct KernelObject {
    enum class Kind { Event, Thread, File };

    explicit KernelObject(Kind k) : kind(k) {}
    virtual ~KernelObject() = default;
    KernelObject(const KernelObject&) = delete;
    KernelObject& operator=(const KernelObject&) = delete;

    // Called by CloseHandle once the handle has left the table, before the
    // last reference goes; a failure here is what CloseHandle reports.
    virtual BOOL OnClose() { return TRUE; }

    const Kind kind;
};

namespace win32 {

struct Waiter;

// An object that WaitForSingleObject / WaitForMultipleObjects can wait on.
// Its signal state and waiter list are guarded by the dispatcher lock
// (see sync.cpp); nothing else may touch them.
struct Waitable : KernelObject {
    Waitable(Kind k, bool manual, bool initial) : KernelObject(k), manualReset(manual), signaled(initial) {}

    const bool manualReset;
    bool signaled;
    std::list<Waiter*> waiters;
};

// Registers a new object and returns its handle (null when out of memory).
HANDLE RegisterHandle(std::shared_ptr<KernelObject> obj);
// The object behind a handle, or null with ERROR_INVALID_HANDLE.
std::shared_ptr<KernelObject> LookupHandle(HANDLE h);
template <class T>
std::shared_ptr<T> LookupHandleAs(HANDLE h, KernelObject::Kind kind) {
    std::shared_ptr<KernelObject> obj = LookupHandle(h);
    if (!obj || obj->kind != kind) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return std::static_pointer_cast<T>(obj);
}

// Sets a waitable object to signalled and wakes the waiters it satisfies.
void SignalObject(Waitable& obj);

}  // namespace win32
