#pragma once
// The process's timer queue: one 100 ms platform thread timer whose tick fires
// every due cpCTimer. Created by the network runtime on the library's worker
// thread; its tick runs there under the library lock.

#include <windows.h>

#include <cstdint>

#include "cp/cpClock.h"
#include "ov/ovCPtrList.h"
#include "ov/ovSmartPtr.h"

class cpCTimer;
class cpCMutex;

class cpCTimerQueue {
public:
    // Takes a reference to the library lock. Call Start to run the platform timer.
    explicit cpCTimerQueue(cpCMutex* lock);
    ~cpCTimerQueue();
    cpCTimerQueue(const cpCTimerQueue&) = delete;
    cpCTimerQueue& operator=(const cpCTimerQueue&) = delete;

    // Starts the 100 ms thread timer on the calling thread and makes this the
    // process's queue. OVR_PLATFORM_FAIL when the platform timer cannot start.
    OVRESULT Start();

    // The running queue of the process, or null.
    static cpCTimerQueue* GetInstance();

    OVRESULT Add(cpCTimer* timer, std::uint32_t tag);
    void Remove(cpCTimer* timer);
    int GetCount() const { return m_entries.GetCount(); }
    std::uint32_t GetTickCount() const { return m_ticks; }

    // One tick: fires every due timer. Called by the platform timer; tests call
    // it directly (on the library thread, with an injected clock).
    void Tick();

    static constexpr std::uint32_t kTickMs = 100;
    // A difference of more than this between two ticks is a clock jump.
    static constexpr std::int64_t kJumpMs = 2999;

private:
    struct Entry;
    static void CALLBACK OnPlatformTimer(HWND window, UINT message, UINT_PTR id, DWORD time);
    Entry* FindEntry(cpCTimer* timer);

    ovCPtrList m_entries;
    ovSmartPtr m_lock;
    UINT_PTR m_platformTimer = 0;
    cpTime m_previous;
    bool m_hasPrevious = false;
    std::uint32_t m_ticks = 0;
    // The thread whose message loop delivers the platform timer: the only
    // one that ticks the queue.
    DWORD m_ownerThread = 0;
};
