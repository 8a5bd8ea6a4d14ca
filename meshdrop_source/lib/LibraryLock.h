#pragma once
// Holds the library lock (the recursive cpCMutex created by the worker) for
// the life of a scope.

#include "cp/cpCMutex.h"
#include "ov/ovSmartPtr.h"

class CLibraryLockGuard {
public:
    explicit CLibraryLockGuard(const ovSmartPtr& lock) : m_pMutex(lock.Get<cpCMutex>())
    {
        if (m_pMutex != nullptr)
            m_pMutex->Lock();
    }
    ~CLibraryLockGuard()
    {
        if (m_pMutex != nullptr)
            m_pMutex->Unlock();
    }

    CLibraryLockGuard(const CLibraryLockGuard&) = delete;
    CLibraryLockGuard& operator=(const CLibraryLockGuard&) = delete;

private:
    cpCMutex* m_pMutex;
};
