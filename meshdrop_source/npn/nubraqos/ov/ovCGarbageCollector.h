#pragma once
// Deferred release: objects that may still be inside their own callback (a
// connection ending from its completion event) are handed here and released
// by a later tick of a 3000 ms timer, at the first tick at least 4 whole
// seconds after they were added.

#include <cstdint>

#include "ov/ovCPtrList.h"
#include "ov/ovSmartPtr.h"

class cpCMutex;

class ovCGarbageCollector {
public:
    ovCGarbageCollector() = default;
    virtual ~ovCGarbageCollector();
    ovCGarbageCollector(const ovCGarbageCollector&) = delete;
    ovCGarbageCollector& operator=(const ovCGarbageCollector&) = delete;

    // Starts the collector's timer (needs the timer queue).
    virtual OVRESULT Init();
    // Stops the timer and releases every pending object at once.
    virtual OVRESULT Shutdown();

    // Keeps a reference to the object until its release time (now + 3 s);
    // an empty pointer is ignored.
    void Add(ovSmartPtr object);
    int GetPendingCount() const { return m_entries.GetCount(); }

    // Releases the entries that are due; the timer calls it every 3000 ms.
    void Collect();

    // The lock that Add and Collect run under (checked in checked builds).
    void SetLibraryLock(cpCMutex* lock) { m_pLock = lock; }

    // The process-wide collector: the one the network runtime installed, or
    // one made (and initialised) on first use.
    static ovCGarbageCollector* GetGarbageCollector();
    // Installs (or, with null, removes) the process-wide collector.
    static void SetGarbageCollector(ovCGarbageCollector* collector);

    static constexpr std::uint32_t kIntervalMs = 3000;
    static constexpr std::uint32_t kDelaySeconds = 3;

private:
    struct Entry {
        ovSmartPtr object;
        std::uint32_t releaseTime;
    };
    static void OnTimer(void* context);

    ovSmartPtr m_timer;
    ovCPtrList m_entries;
    cpCMutex* m_pLock = nullptr;
};
