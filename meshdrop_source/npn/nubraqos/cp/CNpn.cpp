#include "cp/CNpn.h"

#include <winsock2.h>

#include <atomic>

#include "Lib_SSL/SSLCertificates.h"
#include "Lib_SSL/SSLRuntime.h"
#include "cp/cpCMutex.h"
#include "cp/cpCQoS.h"
#include "cp/cpCTimerQueue.h"
#include "nw/nwCHttpMimeTypeMap.h"
#include "ov/ovCGarbageCollector.h"

namespace {
std::atomic<CNpn::LogWriter> g_log{nullptr};
} // namespace

void CNpn::Log(const char* line)
{
    if (LogWriter log = g_log.load(); log && line) {
        log(line);
    }
}

CNpn::CNpn(cpCMutex* lock, LogWriter log) : m_lock(lock)
{
    g_log = log;
    // Without OpenSSL the runtime still serves plain connections; every TLS
    // connection then fails its handshake.
    m_tlsStarted = SSLRuntime::Startup();
    WSADATA data{};
    if (WSAStartup(MAKEWORD(2, 2), &data) == 0) {
        m_socketsStarted = true;
        if (data.wVersion != MAKEWORD(2, 2)) {
            // Another version was offered: stop again, and carry on unchecked.
            WSACleanup();
            m_socketsStarted = false;
        }
    }
    m_timerQueue = std::make_unique<cpCTimerQueue>(lock);
    m_startResult = m_timerQueue->Start();
    if (OV_FAILED(m_startResult)) {
        return;
    }
    m_qos = std::make_unique<cpCQoS>();
    m_startResult = m_qos->Start(lock);
    if (OV_FAILED(m_startResult)) {
        return;
    }
    m_collector = std::make_unique<ovCGarbageCollector>();
    m_collector->SetLibraryLock(lock);
    m_startResult = m_collector->Init();
    ovCGarbageCollector::SetGarbageCollector(m_collector.get());
    m_mimeTypes = std::make_unique<nwCHttpMimeTypeMap>();
    nwCHttpMimeTypeMap::SetMimeTypeMap(m_mimeTypes.get());
    if (m_tlsStarted) {
        SSLCertificates::Install(SSLCertificates::BuiltInTable(), log);
    }
    m_started = OV_SUCCEEDED(m_startResult);
}

CNpn::~CNpn()
{
    g_log = nullptr;
    cpCMutexLock lock(m_lock.Get<cpCMutex>());
    if (m_mimeTypes) {
        nwCHttpMimeTypeMap::SetMimeTypeMap(nullptr);
        m_mimeTypes.reset();
    }
    m_collector.reset();
    m_qos.reset();
    m_timerQueue.reset();
    // A runtime never cleaned up still stops the socket library it started.
    Cleanup();
}

void CNpn::Cleanup()
{
    if (m_socketsStarted) {
        WSACleanup();
        m_socketsStarted = false;
    }
    if (m_tlsStarted) {
        SSLRuntime::Cleanup();
        m_tlsStarted = false;
    }
}
