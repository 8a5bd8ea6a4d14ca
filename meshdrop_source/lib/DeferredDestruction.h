#pragma once
// Deferred destruction: the one way for the library to let go of a job, a
// session, a downloader or any other object it owns from inside a report
// that leads back into the object (a client callback that stops or deletes
// the job whose event it receives; a fallback reached from the progress tick
// of the downloader it replaces), without freeing it under its own code.
//
// A report is one client call into the library (an entry point) or one
// message that the worker thread dispatches (a socket notice, a timer tick).
// Each runs inside a CReportScope. While a scope is open on the thread,
// DestroyAfterReport keeps the object it is handed and destroys it when the
// outermost scope closes, once the report that led to it has returned;
// without an open scope it destroys the object at once.
//
// The owner detaches the object before handing it over (its listener
// cleared, its timers stopped, its jobs forgotten), so that a kept object
// does no further work; code that called out of such an object checks after
// the call whether it was detached, and returns. Scopes open and close under
// the library lock.

#include <memory>

#include "cp/cpCMutex.h"

class CReportScope {
public:
    CReportScope();
    // The outermost scope destroys what was kept, oldest first; objects
    // handed over by those destructors are destroyed in the same round.
    ~CReportScope();
    CReportScope(const CReportScope&) = delete;
    CReportScope& operator=(const CReportScope&) = delete;
};

// The library lock and a report scope for one client call: what the call
// lets go of is destroyed before the lock is released.
class CReportGuard {
public:
    explicit CReportGuard(cpCMutex* lock) : m_lock(lock) {}

private:
    cpCMutexLock m_lock;
    CReportScope m_scope; // closes first
};

// Keeps `object` until the outermost open scope closes, or destroys it now.
void DestroyAfterReport(std::shared_ptr<void> object);

template <class T>
void DestroyAfterReport(std::unique_ptr<T> object)
{
    if (object)
        DestroyAfterReport(std::shared_ptr<void>(std::move(object)));
}
