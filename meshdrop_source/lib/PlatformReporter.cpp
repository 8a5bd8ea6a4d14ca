#include "PlatformReporter.h"

#include "HttpGetRequest.h"
#include "PlatformSession.h"
#include "ServiceLog.h"
#include "cp/cpCHostCache.h"
#include "cp/cpCTimer.h"
#include "cp/ovIQoSContext.h"
#include "nw/ovIAgentLayer.h"
#include "ov/ovCGarbageCollector.h"
#include "ov/ovClassIds.h"

// The agent server's host, a build setting (the CMake cache variable
// QLS_AGENT_HOST); by default the agent server on this machine.
#ifndef QLS_AGENT_HOST
#define QLS_AGENT_HOST "127.0.0.1"
#endif

namespace {

constexpr std::uint32_t kRetryTimerTag = 0x7000002;

ovIAgentLayer* AgentLayerOf(const ovSmartPtr& connection)
{
    ovIUnknown* top = connection ? connection.Get<ovIQoSContext>()->GetTopLayer() : nullptr;
    return top ? ovAsAgentLayer(top) : nullptr;
}

} // namespace

std::vector<nwAgentReportRecord> MakeFileReport(const CPlatformSession& session)
{
    std::vector<nwAgentReportRecord> records;
    for (const PlatformSessionFile& file : session.GetFiles()) {
        if (file.written > 0)
            records.push_back(nwMakeAgentRecord(nwAgentFieldText(file.serviceId, sizeof file.serviceId), file.url,
                                                static_cast<uint64_t>(file.written)));
    }
    return records;
}

CPlatformReporter::CPlatformReporter(nwAgentReportQueue::Delays delays) : m_queue(delays) {}

CPlatformReporter::~CPlatformReporter()
{
    StopRetryTimer();
    EndConnection(false);
}

void CPlatformReporter::ReportSession(const CPlatformSession* session)
{
    if (session == nullptr)
        return;
    const std::vector<nwAgentReportRecord> records = MakeFileReport(*session);
    Report(static_cast<uint32_t>(records.size()), records.data());
}

void CPlatformReporter::Report(uint32_t fileCount, const nwAgentReportRecord* records)
{
    if (fileCount == 0 || records == nullptr)
        return;
    for (const std::size_t dropped : m_queue.Add(records, fileCount))
        WriteServiceLogFormat("[MeshdropLib] CPlatformReporter Queue Full, Report Dropped(%zu)", dropped);
    if (m_connected)
        SendQueue();
    else if (!m_connection && !m_retryTimer)
        OpenConnection();
    // While the connection is being set up, or a retry waits for its delay,
    // reports wait their turn in the queue.
}

void CPlatformReporter::BeginDrain(HANDLE drained)
{
    m_drained = drained;
    if (m_queue.IsEmpty()) {
        SignalDrained();
        return;
    }
    if (!m_connection) {
        StopRetryTimer();
        OpenConnection();
    }
}

void CPlatformReporter::SignalDrained()
{
    if (m_drained != nullptr)
        SetEvent(m_drained);
}

void CPlatformReporter::OpenConnection()
{
    const uint16_t port = nwAgentServerPort();
    cpAddress address;
    if (!cpCHostCache::GetInstance().GetAddress(QLS_AGENT_HOST, port, &address)) {
        WriteServiceLogFormat("[MeshdropLib] CPlatformReporter Resolve Failed : %s", QLS_AGENT_HOST);
        RetryLater();
        return;
    }
    CSessionLock lock;
    ovIAgentLayer* layer = nullptr;
    if (lock.Held() && m_connection.CreateInstance(OVCLS_QOS_CONTEXT)) {
        auto* context = m_connection.Get<ovIQoSContext>();
        if (OV_SUCCEEDED(context->Open(QOS_ACTION_HIGH, QOS_CONNECT_FAILED | QOS_IDLE_TIMEOUT, nullptr)) &&
            OV_SUCCEEDED(context->AddLayer(OVCLS_AGENT_LAYER, false)))
            layer = AgentLayerOf(m_connection);
    }
    if (layer == nullptr) {
        ReleaseConnection();
        RetryLater();
        return;
    }
    auto* context = m_connection.Get<ovIQoSContext>();
    const uint32_t connectTimeout = kConnectTimeoutSeconds;
    const uint32_t idleTimeout = kIdleTimeoutSeconds;
    context->SetOption(QOS_OPTION_CONNECT_TIMEOUT, &connectTimeout);
    context->SetOption(QOS_OPTION_IDLE_TIMEOUT, &idleTimeout);
    layer->SetListener(this, 0);
    const cpEndpoint endpoint{address, port};
    context->SetHostName(QLS_AGENT_HOST);
    context->SetRemoteEndpoint(endpoint);
    // May report at once (connected, or closed).
    context->Connect(endpoint);
}

void CPlatformReporter::SendQueue()
{
    ovIAgentLayer* layer = AgentLayerOf(m_connection);
    while (layer != nullptr) {
        const nwAgentReportQueue::Entry* entry = m_queue.TakeNextToSend();
        if (entry == nullptr)
            return;
        const nwAgentReportBatch batch{static_cast<uint32_t>(entry->size()), entry->data()};
        if (OV_FAILED(layer->SendReport(&batch))) {
            EndConnection(true);
            return;
        }
    }
}

void CPlatformReporter::EndConnection(bool failed)
{
    if (m_connection) {
        // Detached first: the close reports nothing back here.
        const ovSmartPtr connection = m_connection;
        ReleaseConnection();
        CSessionLock lock;
        connection.Get<ovIQoSContext>()->Close();
    }
    if (failed)
        RetryLater();
}

void CPlatformReporter::ReleaseConnection()
{
    m_connected = false;
    if (!m_connection)
        return;
    if (ovIAgentLayer* layer = AgentLayerOf(m_connection))
        layer->SetListener(nullptr, 0);
    ovCGarbageCollector::GetGarbageCollector()->Add(m_connection);
    m_connection.Reset();
}

void CPlatformReporter::RetryLater()
{
    const uint32_t delayMs = m_queue.OnConnectionLost();
    // Finalisation does not wait for a retry.
    SignalDrained();
    if (m_queue.IsEmpty())
        return;
    WriteServiceLogFormat("[MeshdropLib] CPlatformReporter Retry(%zu, %u)", m_queue.GetPendingCount(), delayMs);
    StopRetryTimer();
    ovSmartPtr timer;
    if (!timer.CreateInstance(OVCLS_TIMER) ||
        OV_FAILED(
            timer.Get<cpCTimer>()->Start(delayMs, &CPlatformReporter::OnRetryTimer, this, kRetryTimerTag, nullptr)))
        return;
    m_retryTimer = timer;
}

void CPlatformReporter::StopRetryTimer()
{
    if (!m_retryTimer)
        return;
    m_retryTimer.Get<cpCTimer>()->Stop();
    m_retryTimer.Reset();
}

void CPlatformReporter::OnRetryTimer(void* context)
{
    // Timer callbacks run without the lock; the queue holds the timer until
    // this returns, so it may be released here.
    auto* self = static_cast<CPlatformReporter*>(context);
    CSessionLock lock;
    if (!self->m_retryTimer)
        return;
    self->StopRetryTimer();
    if (!self->m_connection && !self->m_queue.IsEmpty())
        self->OpenConnection();
}

void CPlatformReporter::OnAgentConnected(uint32_t /*cookie*/)
{
    m_connected = true;
    SendQueue();
}

void CPlatformReporter::OnAgentReply(uint32_t /*cookie*/, uint8_t /*answer*/)
{
    // Answers come in the order the reports were sent: this one is for the
    // oldest report in flight, whatever the server made of it.
    m_queue.OnAnswer();
    if (m_queue.IsEmpty()) {
        EndConnection(false);
        SignalDrained();
        return;
    }
    SendQueue();
}

void CPlatformReporter::OnAgentClosed(uint32_t /*cookie*/)
{
    ReleaseConnection();
    if (!m_queue.IsEmpty())
        RetryLater();
}

void CPlatformReporter::OnAgentConnectFailed(uint32_t /*cookie*/)
{
    EndConnection(true);
}

void CPlatformReporter::OnAgentIdleTimeout(uint32_t /*cookie*/)
{
    // Silence while answers are owed: the server is stuck or gone.
    EndConnection(!m_queue.IsEmpty());
}
