#include "PlatformReporter.h"

#include <algorithm>

#include "HttpGetRequest.h"
#include "PlatformSession.h"
#include "ServiceLog.h"
#include "cp/cpCHostCache.h"
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

CPlatformReporter::~CPlatformReporter()
{
    CloseConnection();
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
    // Reports larger than the server takes leave as several.
    for (uint32_t first = 0; first < fileCount; first += AGENT_MAX_RECORDS) {
        const uint32_t count = std::min(AGENT_MAX_RECORDS, fileCount - first);
        m_queue.emplace_back(records + first, records + first + count);
    }
    while (m_queue.size() > kMaxQueuedReports) {
        WriteServiceLogFormat("[MeshdropLib] CPlatformReporter Queue Full, Report Dropped(%zu)",
                              m_queue.front().size());
        m_queue.pop_front();
    }
    if (!m_connection)
        OpenConnection();
    else if (m_connected)
        SendQueue();
    // While the connection is being set up, reports wait their turn in the
    // queue: sent now, they would leave ahead of the older ones.
}

void CPlatformReporter::OpenConnection()
{
    const uint16_t port = nwAgentServerPort();
    cpAddress address;
    if (!cpCHostCache::GetInstance().GetAddress(QLS_AGENT_HOST, port, &address)) {
        WriteServiceLogFormat("[MeshdropLib] CPlatformReporter Resolve Failed : %s", QLS_AGENT_HOST);
        return;
    }
    CSessionLock lock;
    if (!lock.Held() || !m_connection.CreateInstance(OVCLS_QOS_CONTEXT))
        return;
    auto* context = m_connection.Get<ovIQoSContext>();
    const uint32_t connectTimeout = kConnectTimeoutSeconds;
    const uint32_t idleTimeout = kIdleTimeoutSeconds;
    ovIAgentLayer* layer = nullptr;
    if (OV_SUCCEEDED(context->Open(QOS_ACTION_HIGH, QOS_CONNECT_FAILED | QOS_IDLE_TIMEOUT, nullptr)) &&
        OV_SUCCEEDED(context->AddLayer(OVCLS_AGENT_LAYER, false))) {
        layer = AgentLayerOf(m_connection);
    }
    if (layer == nullptr) {
        ReleaseConnection();
        return;
    }
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
    while (layer != nullptr && !m_queue.empty()) {
        const ReportEntry entry = std::move(m_queue.front());
        m_queue.pop_front();
        const nwAgentReportBatch batch{static_cast<uint32_t>(entry.size()), entry.data()};
        if (OV_SUCCEEDED(layer->SendReport(&batch)))
            ++m_unanswered;
    }
}

void CPlatformReporter::CloseConnection()
{
    if (!m_connection)
        return;
    // The close reports OnAgentClosed, which releases the connection.
    const ovSmartPtr connection = m_connection;
    CSessionLock lock;
    connection.Get<ovIQoSContext>()->Close();
    ReleaseConnection();
}

void CPlatformReporter::ReleaseConnection()
{
    m_connected = false;
    m_unanswered = 0;
    if (!m_connection)
        return;
    if (ovIAgentLayer* layer = AgentLayerOf(m_connection))
        layer->SetListener(nullptr, 0);
    ovCGarbageCollector::GetGarbageCollector()->Add(m_connection);
    m_connection.Reset();
}

void CPlatformReporter::OnAgentConnected(uint32_t /*cookie*/)
{
    m_connected = true;
    SendQueue();
}

void CPlatformReporter::OnAgentReply(uint32_t /*cookie*/, uint8_t /*answer*/)
{
    if (m_unanswered > 0)
        --m_unanswered;
    // Closing earlier would cut off reports still on their way out.
    if (m_queue.empty() && m_unanswered == 0)
        CloseConnection();
}

void CPlatformReporter::OnAgentClosed(uint32_t /*cookie*/)
{
    ReleaseConnection();
}

void CPlatformReporter::OnAgentConnectFailed(uint32_t /*cookie*/)
{
    CloseConnection();
}

void CPlatformReporter::OnAgentIdleTimeout(uint32_t /*cookie*/)
{
    CloseConnection();
}
