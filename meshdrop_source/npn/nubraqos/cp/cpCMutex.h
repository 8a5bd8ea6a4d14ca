#pragma once
// The library lock: a recursive critical section behind the object model.

#include <windows.h>

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

private:
    CRITICAL_SECTION m_section;
    std::uint32_t m_tag = 0;
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
