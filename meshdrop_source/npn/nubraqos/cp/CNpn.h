#pragma once
// The network runtime: starts and stops the socket library, the timer queue,
// the bandwidth manager (with the hidden socket window) and the deferred-
// release collector, and OpenSSL with the built-in certificates for the TLS
// layer. Constructed on the library's worker thread with the library lock
// held; that thread's message loop then drives everything.

#include <memory>

#include "ov/ovResult.h"
#include "ov/ovSmartPtr.h"

class cpCMutex;
class cpCQoS;
class cpCTimerQueue;
class nwCHttpMimeTypeMap;
class ovCGarbageCollector;

class CNpn {
public:
    // Receives the runtime's log lines (the library's service log); null
    // writes none.
    using LogWriter = void (*)(const char* line);

    explicit CNpn(cpCMutex* lock, LogWriter log = nullptr);
    ~CNpn();
    CNpn(const CNpn&) = delete;
    CNpn& operator=(const CNpn&) = delete;

    // Whether the window and the timers are running; without them the
    // network library cannot work.
    bool IsStarted() const { return m_started; }
    OVRESULT GetStartResult() const { return m_startResult; }

    // Writes a line to the running runtime's log (nothing without a runtime
    // or a log writer). Layers report what a player needs to know, such as a
    // proxy refusing a connection, here.
    static void Log(const char* line);

    // After the worker's message loop has ended, under the library lock:
    // stops the socket library, then cleans up OpenSSL.
    void Cleanup();

    cpCTimerQueue* GetTimerQueue() const { return m_timerQueue.get(); }
    cpCQoS* GetQoS() const { return m_qos.get(); }
    ovCGarbageCollector* GetGarbageCollector() const { return m_collector.get(); }
    nwCHttpMimeTypeMap* GetMimeTypeMap() const { return m_mimeTypes.get(); }

private:
    ovSmartPtr m_lock;
    bool m_tlsStarted = false;
    bool m_socketsStarted = false;
    std::unique_ptr<cpCTimerQueue> m_timerQueue;
    std::unique_ptr<cpCQoS> m_qos;
    std::unique_ptr<ovCGarbageCollector> m_collector;
    std::unique_ptr<nwCHttpMimeTypeMap> m_mimeTypes; // created last, destroyed first
    bool m_started = false;
    OVRESULT m_startResult = OVR_PLATFORM_FAIL;
};
