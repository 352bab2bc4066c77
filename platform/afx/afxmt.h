// MFC's synchronisation classes: a critical section that the owning thread
// may enter again (as on Win32), and a scoped lock over it.
#pragma once

#include "morvik/afx/morvik_api.h"

#include <mutex>

#include "morvik/win32/windows.h"

class MORVIK_API CSyncObject {
public:
    virtual ~CSyncObject() = default;
    virtual BOOL Lock(DWORD timeout = INFINITE) = 0;
    virtual BOOL Unlock() = 0;
};

class MORVIK_API CCriticalSection : public CSyncObject {
public:
    CCriticalSection() = default;
    CCriticalSection(const CCriticalSection&) = delete;
    CCriticalSection& operator=(const CCriticalSection&) = delete;

    // A critical section has no time-out: Lock waits until it gets in.
    BOOL Lock(DWORD /*timeout*/ = INFINITE) override {
        m_mutex.lock();
        return TRUE;
    }
    BOOL Unlock() override {
        m_mutex.unlock();
        return TRUE;
    }

private:
    std::recursive_mutex m_mutex;
};

// Locks the object (now or later) and releases it when it goes out of scope.
class MORVIK_API CSingleLock {
public:
    explicit CSingleLock(CSyncObject* object, BOOL initialLock = FALSE) : m_object(object) {
        if (initialLock) Lock();
    }
    ~CSingleLock() { Unlock(); }
    CSingleLock(const CSingleLock&) = delete;
    CSingleLock& operator=(const CSingleLock&) = delete;

    BOOL Lock(DWORD timeout = INFINITE) {
        if (!m_object || m_locked) return m_locked ? TRUE : FALSE;
        m_locked = m_object->Lock(timeout) != FALSE;
        return m_locked ? TRUE : FALSE;
    }
    BOOL Unlock() {
        if (!m_object || !m_locked) return FALSE;
        m_locked = false;
        return m_object->Unlock();
    }
    BOOL IsLocked() const { return m_locked ? TRUE : FALSE; }

private:
    CSyncObject* m_object;
    bool m_locked = false;
};
