#pragma once
// The library lock: a recursive critical section behind the object model.

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "ov/ovIUnknown.h"

class cpCMutex : public ovTRefCounted<ovIUnknown> {
public:
    cpCMutex();
    ~cpCMutex() override;
    cpCMutex(const cpCMutex&) = delete;
    cpCMutex& operator=(const cpCMutex&) = delete;

    // Stores a word that nothing reads.
    virtual OVRESULT SetTag(std::uint32_t value);
    virtual OVRESULT Lock();
    virtual OVRESULT Unlock();

    // True when the calling thread holds the lock (for checked rules).
    bool IsHeldByCurrentThread() const { return m_owner.load(std::memory_order_relaxed) == GetCurrentThreadId(); }

private:
    CRITICAL_SECTION m_section;
    std::uint32_t m_tag = 0;
    // The holder and its depth: written only by the holder, inside the lock;
    // any thread may read the holder to compare it with itself.
    std::atomic<DWORD> m_owner{0};
    int m_depth = 0;
};

// Holds a cpCMutex for the lifetime of a scope.
class cpCMutexLock {
public:
    explicit cpCMutexLock(cpCMutex* mutex) : m_mutex(mutex)
    {
        if (m_mutex) {
            m_mutex->Lock();
        }
    }
    ~cpCMutexLock()
    {
        if (m_mutex) {
            m_mutex->Unlock();
        }
    }
    cpCMutexLock(const cpCMutexLock&) = delete;
    cpCMutexLock& operator=(const cpCMutexLock&) = delete;

private:
    cpCMutex* m_mutex;
};
