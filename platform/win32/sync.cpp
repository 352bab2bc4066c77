// Events, waits and threads.
//
// All signal states live under one dispatcher lock. A waiter registers itself
// with every object it waits on; whoever signals an object hands the signal
// straight to the first waiter it satisfies (oldest first), consuming it when
// the object is auto-reset. So one SetEvent on an auto-reset event releases
// exactly one waiter, a manual-reset event releases all, and a wait-all takes
// its objects together or not at all.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "morvik/win32/kernel_object.h"

namespace win32 {

struct Waiter {
    std::condition_variable cv;
    std::vector<Waitable*> objects;
    bool waitAll = false;
    int satisfied = -1;  // index of the object that ended the wait
};

namespace {

std::mutex& DispatchMutex() {
    // Never destroyed: detached threads may still signal at process exit.
    static std::mutex* m = new std::mutex;
    return *m;
}

void Consume(Waitable& obj) {
    if (!obj.manualReset) obj.signaled = false;
}

// Ends the wait of w when its condition holds now. Dispatcher lock held.
bool TrySatisfy(Waiter& w) {
    if (w.waitAll) {
        for (Waitable* o : w.objects)
            if (!o->signaled) return false;
        for (Waitable* o : w.objects) Consume(*o);
        w.satisfied = 0;
        return true;
    }
    for (size_t i = 0; i < w.objects.size(); ++i) {
        if (w.objects[i]->signaled) {
            Consume(*w.objects[i]);
            w.satisfied = static_cast<int>(i);
            return true;
        }
    }
    return false;
}

DWORD WaitOn(const std::vector<std::shared_ptr<Waitable>>& objs, bool waitAll, DWORD ms) {
    Waiter w;
    w.waitAll = waitAll;
    std::vector<std::list<Waiter*>::iterator> registrations;
    try {
        w.objects.reserve(objs.size());
        registrations.reserve(objs.size());
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return WAIT_FAILED;
    }
    for (const auto& o : objs) w.objects.push_back(o.get());

    std::unique_lock<std::mutex> lock(DispatchMutex());
    if (TrySatisfy(w)) return WAIT_OBJECT_0 + static_cast<DWORD>(w.satisfied);
    if (ms == 0) return WAIT_TIMEOUT;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);

    DWORD result = WAIT_TIMEOUT;
    try {
        for (Waitable* o : w.objects) registrations.push_back(o->waiters.insert(o->waiters.end(), &w));
        while (w.satisfied < 0) {
            if (ms == INFINITE) {
                w.cv.wait(lock);
            } else if (w.cv.wait_until(lock, deadline) == std::cv_status::timeout) {
                break;
            }
        }
        if (w.satisfied >= 0) result = WAIT_OBJECT_0 + static_cast<DWORD>(w.satisfied);
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        result = WAIT_FAILED;
    }
    for (size_t i = 0; i < registrations.size(); ++i) w.objects[i]->waiters.erase(registrations[i]);
    return result;
}

struct EventObject : Waitable {
    EventObject(bool manual, bool initial) : Waitable(Kind::Event, manual, initial) {}
};

// Exit code of a thread whose routine let an exception escape (the code the
// Microsoft runtime uses for C++ exceptions).
constexpr DWORD kExitUncaughtException = 0xE06D7363u;

struct ThreadObject : Waitable {
    ThreadObject(LPTHREAD_START_ROUTINE s, void* p, DWORD id, DWORD suspend)
        : Waitable(Kind::Thread, true, false), start(s), param(p), threadId(id), suspendCount(suspend) {}

    // Closing the last handle of a thread that never got to run: nobody can
    // resume it any more, so its waiting OS thread is let go instead of
    // being left blocked for the life of the process.
    BOOL OnClose() override {
        std::lock_guard<std::mutex> lock(DispatchMutex());
        if (!started && suspendCount > 0) {
            abandoned = true;
            resumeCv.notify_all();
        }
        return TRUE;
    }

    const LPTHREAD_START_ROUTINE start;
    void* const param;
    const DWORD threadId;
    // Guarded by the dispatcher lock.
    DWORD suspendCount;
    bool started = false;
    bool abandoned = false;
    DWORD exitCode = STILL_ACTIVE;
    std::condition_variable resumeCv;

    // The OS thread. A wait that sees the thread end also waits for the OS
    // thread to be gone: its routine signals before the thread's own
    // thread-local objects are destroyed, and a waiter that went on at once
    // (to free what the thread used, to check for leaks, to unload) would
    // race with that teardown.
    std::thread os;
    std::mutex joinMutex;

    void Join() {
        std::lock_guard<std::mutex> lock(joinMutex);
        if (os.joinable() && os.get_id() != std::this_thread::get_id()) os.join();
    }
    ~ThreadObject() override {
        // Nobody waited for it to end (or the thread let its own object go):
        // it ends on its own.
        if (os.joinable()) os.detach();
    }
};

// After a wait that a thread's end satisfied: the OS thread is gone too.
void JoinEnded(const std::vector<std::shared_ptr<Waitable>>& objs, bool waitAll, DWORD result) {
    if (result == WAIT_FAILED || result == WAIT_TIMEOUT || result < WAIT_OBJECT_0 ||
        result - WAIT_OBJECT_0 >= objs.size())
        return;
    for (size_t i = 0; i < objs.size(); ++i) {
        if ((waitAll || i == result - WAIT_OBJECT_0) && objs[i]->kind == KernelObject::Kind::Thread)
            static_cast<ThreadObject&>(*objs[i]).Join();
    }
}

thread_local DWORD t_threadId = 0;

DWORD NewThreadId() {
    static std::atomic<DWORD> next{0};
    DWORD id;
    do {
        id = next.fetch_add(4, std::memory_order_relaxed) + 4;
    } while (id == 0);
    return id;
}

void ThreadMain(std::shared_ptr<ThreadObject> self) {
    t_threadId = self->threadId;
    {
        std::unique_lock<std::mutex> lock(DispatchMutex());
        self->resumeCv.wait(lock, [&] { return self->suspendCount == 0 || self->abandoned; });
        if (self->abandoned) return;
        self->started = true;
    }
    DWORD code;
    try {
        code = self->start(self->param);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "thread %u ended by an uncaught exception: %s\n", self->threadId, e.what());
        code = kExitUncaughtException;
    } catch (...) {
        std::fprintf(stderr, "thread %u ended by an uncaught exception\n", self->threadId);
        code = kExitUncaughtException;
    }
    std::lock_guard<std::mutex> lock(DispatchMutex());
    self->exitCode = code;
    SignalObject(*self);
}

std::shared_ptr<Waitable> LookupWaitable(HANDLE h) {
    std::shared_ptr<KernelObject> obj = LookupHandle(h);
    if (!obj) return nullptr;
    if (obj->kind != KernelObject::Kind::Event && obj->kind != KernelObject::Kind::Thread) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return std::static_pointer_cast<Waitable>(obj);
}

}  // namespace

void SignalObject(Waitable& obj) {
    obj.signaled = true;
    for (auto it = obj.waiters.begin(); it != obj.waiters.end() && obj.signaled; ++it) {
        Waiter* w = *it;
        if (w->satisfied < 0 && TrySatisfy(*w)) w->cv.notify_one();
    }
}

}  // namespace win32

using namespace win32;

HANDLE CreateEventW(void*, BOOL manualReset, BOOL initialState, LPCWSTR) {
    std::shared_ptr<EventObject> ev;
    try {
        ev = std::make_shared<EventObject>(manualReset != FALSE, initialState != FALSE);
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return RegisterHandle(std::move(ev));
}

HANDLE CreateEventA(void* security, BOOL manualReset, BOOL initialState, LPCSTR) {
    return CreateEventW(security, manualReset, initialState, nullptr);
}

BOOL SetEvent(HANDLE h) {
    auto ev = LookupHandleAs<EventObject>(h, KernelObject::Kind::Event);
    if (!ev) return FALSE;
    std::lock_guard<std::mutex> lock(DispatchMutex());
    SignalObject(*ev);
    return TRUE;
}

BOOL ResetEvent(HANDLE h) {
    auto ev = LookupHandleAs<EventObject>(h, KernelObject::Kind::Event);
    if (!ev) return FALSE;
    std::lock_guard<std::mutex> lock(DispatchMutex());
    ev->signaled = false;
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE h, DWORD milliseconds) {
    std::shared_ptr<Waitable> obj = LookupWaitable(h);
    if (!obj) return WAIT_FAILED;
    if (obj->kind == KernelObject::Kind::Event) {
        // A free event is taken at once, without setting up a wait: every
        // shape operation takes its shape's event this way.
        std::lock_guard<std::mutex> lock(DispatchMutex());
        if (obj->signaled) {
            Consume(*obj);
            return WAIT_OBJECT_0;
        }
    }
    std::vector<std::shared_ptr<Waitable>> objs;
    try {
        objs.push_back(std::move(obj));
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return WAIT_FAILED;
    }
    const DWORD result = WaitOn(objs, false, milliseconds);
    JoinEnded(objs, false, result);
    return result;
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds) {
    if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || handles == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    std::vector<std::shared_ptr<Waitable>> objs;
    try {
        objs.reserve(count);
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return WAIT_FAILED;
    }
    for (DWORD i = 0; i < count; ++i) {
        std::shared_ptr<Waitable> obj = LookupWaitable(handles[i]);
        if (!obj) return WAIT_FAILED;
        // Waiting for all of a set that names one object twice can never be
        // satisfied for an auto-reset event; Win32 refuses it too.
        if (waitAll) {
            for (const auto& o : objs) {
                if (o == obj) {
                    SetLastError(ERROR_INVALID_PARAMETER);
                    return WAIT_FAILED;
                }
            }
        }
        objs.push_back(std::move(obj));
    }
    const DWORD result = WaitOn(objs, waitAll != FALSE, milliseconds);
    JoinEnded(objs, waitAll != FALSE, result);
    return result;
}

HANDLE CreateThread(void*, size_t, LPTHREAD_START_ROUTINE start, void* param, DWORD flags, DWORD* threadId) {
    if (start == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const DWORD id = NewThreadId();
    std::shared_ptr<ThreadObject> obj;
    try {
        obj = std::make_shared<ThreadObject>(start, param, id, (flags & CREATE_SUSPENDED) ? 1u : 0u);
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    HANDLE h = RegisterHandle(obj);
    if (h == nullptr) return nullptr;
    try {
        obj->os = std::thread(ThreadMain, obj);
    } catch (const std::exception&) {
        CloseHandle(h);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (threadId) *threadId = id;
    return h;
}

DWORD ResumeThread(HANDLE thread) {
    auto t = LookupHandleAs<ThreadObject>(thread, KernelObject::Kind::Thread);
    if (!t) return static_cast<DWORD>(-1);
    std::lock_guard<std::mutex> lock(DispatchMutex());
    const DWORD previous = t->suspendCount;
    if (previous > 0 && --t->suspendCount == 0) t->resumeCv.notify_all();
    return previous;
}

BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode) {
    auto t = LookupHandleAs<ThreadObject>(thread, KernelObject::Kind::Thread);
    if (!t) return FALSE;
    if (exitCode == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(DispatchMutex());
    *exitCode = t->exitCode;
    return TRUE;
}

DWORD GetCurrentThreadId() {
    if (t_threadId == 0) t_threadId = NewThreadId();
    return t_threadId;
}

void Sleep(DWORD milliseconds) {
    if (milliseconds == 0) {
        std::this_thread::yield();
        return;
    }
    if (milliseconds == INFINITE) {
        for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
