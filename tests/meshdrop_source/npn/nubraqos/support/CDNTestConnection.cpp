#include "CDNTestConnection.h"

#include <algorithm>

#include "LoopbackPeer.h"
#include "cp/ovIQoSContext.h"
#include "ov/ovClassIds.h"

void CDNRecordingListener::Record(CDNEvent event, std::uint32_t cookie)
{
    wrongCookie = wrongCookie || cookie != kCookie;
    events.push_back(std::move(event));
    if (onEvent) {
        onEvent(events.back());
    }
}

void CDNRecordingListener::OnEngineConnected(std::uint32_t cookie)
{
    Record({.kind = "connected"}, cookie);
}

void CDNRecordingListener::OnEngineJobAccepted(const nwCDNJobAccepted* record, std::uint32_t cookie)
{
    Record(
        {.kind = "accepted", .jobNumber = record->jobNumber, .engineJobId = record->engineJobId, .accepted = *record},
        cookie);
}

void CDNRecordingListener::OnEngineJobFailed(const nwCDNJobFailedRecord* record, std::uint32_t cookie)
{
    Record({.kind = "failed",
            .jobNumber = record->jobNumber,
            .engineJobId = record->engineJobId,
            .tail = record->tail,
            .text = record->text},
           cookie);
}

void CDNRecordingListener::OnEngineJobProgress(const nwCDNProgressRecord* record, std::uint32_t cookie)
{
    CDNEvent event{.kind = "progress",
                   .jobNumber = record->block.jobNumber,
                   .engineJobId = record->block.engineJobId,
                   .progress = record->block};
    for (std::uint32_t i = 0; i < record->block.itemCount; ++i) {
        event.items.emplace_back(record->items[i].item, record->items[i].name);
    }
    Record(std::move(event), cookie);
}

void CDNRecordingListener::RecordFileDone(const char* kind, const nwCDNFileDoneRecord* record, std::uint32_t cookie)
{
    Record({.kind = kind,
            .jobNumber = record->jobNumber,
            .engineJobId = record->engineJobId,
            .fileIndex = record->fileIndex,
            .localPath = record->localPath,
            .altText = record->altText,
            .url = record->url},
           cookie);
}

void CDNRecordingListener::OnEngineFileDone(const nwCDNFileDoneRecord* record, std::uint32_t cookie)
{
    RecordFileDone("done", record, cookie);
}

void CDNRecordingListener::OnEngineFileDoneText(const nwCDNFileDoneRecord* record, std::uint32_t cookie)
{
    RecordFileDone("done-text", record, cookie);
}

void CDNRecordingListener::OnEngineJobEnded(const nwCDNJobEnded* record, std::uint32_t cookie)
{
    Record({.kind = "ended", .jobNumber = record->jobNumber, .engineJobId = record->engineJobId, .ended = *record},
           cookie);
}

void CDNRecordingListener::OnEngineNotice(const nwCDNNoticeRecord* record, std::uint32_t cookie)
{
    Record({.kind = "notice",
            .jobNumber = record->jobNumber,
            .engineJobId = record->engineJobId,
            .tail = record->tail,
            .text = record->text,
            .noticeKind = record->kind},
           cookie);
}

void CDNRecordingListener::OnEngineNetworkLost(const nwCDNTail* record, std::uint32_t cookie)
{
    Record({.kind = "lost", .tail = *record}, cookie);
}

void CDNRecordingListener::OnEngineNetworkBack(const nwCDNTail* record, std::uint32_t cookie)
{
    Record({.kind = "back", .tail = *record}, cookie);
}

void CDNRecordingListener::OnEngineClosed(std::uint32_t cookie)
{
    Record({.kind = "closed"}, cookie);
}

void CDNRecordingListener::OnEngineConnectFailed(std::uint32_t cookie)
{
    Record({.kind = "connect-failed"}, cookie);
}

void CDNRecordingListener::OnEngineAskResume(const nwCDNAskResume* record, std::uint32_t cookie)
{
    Record({.kind = "ask-resume", .jobNumber = record->jobNumber, .value = record->jobNumber}, cookie);
}

void CDNRecordingListener::OnEngineStatusReport(const nwCDNStatus* record, std::uint32_t cookie)
{
    Record({.kind = "status", .value = record->value}, cookie);
}

int CDNRecordingListener::Count(const std::string& kind) const
{
    return static_cast<int>(
        std::count_if(events.begin(), events.end(), [&](const CDNEvent& e) { return e.kind == kind; }));
}

CDNEvent CDNRecordingListener::Last(const std::string& kind) const
{
    for (auto it = events.rbegin(); it != events.rend(); ++it) {
        if (it->kind == kind) {
            return *it;
        }
    }
    return {};
}

std::vector<std::string> CDNRecordingListener::Kinds() const
{
    std::vector<std::string> kinds;
    for (const CDNEvent& event : events) {
        kinds.push_back(event.kind);
    }
    return kinds;
}

bool CDNTestConnection::Open(std::uint16_t port, const std::function<void(ovICDNLocalClientLayer&)>& queue)
{
    return m_worker.Call([&] {
        if (!m_context.CreateInstance(OVCLS_QOS_CONTEXT)) {
            return false;
        }
        ovIQoSContext* context = m_context.Get<ovIQoSContext>();
        const std::uint32_t connectTimeout = 1;
        if (context->Open(QOS_ACTION_HIGH, QOS_CONNECT_FAILED, nullptr) != OVR_PLATFORM_OK ||
            context->SetOption(QOS_OPTION_CONNECT_TIMEOUT, &connectTimeout) != OVR_PLATFORM_OK ||
            context->AddLayer(OVCLS_LOCAL_ENGINE_LAYER, false) != OVR_PLATFORM_OK) {
            return false;
        }
        m_layer = ovAsCDNLocalClientLayer(context->GetTopLayer());
        m_layer->SetListener(&listener, CDNRecordingListener::kCookie);
        if (queue) {
            queue(*m_layer);
        }
        return context->Connect({LoopbackPeer::LoopbackAddress(), port}) == OVR_PLATFORM_OK;
    });
}

void CDNTestConnection::Send(const std::function<void(ovICDNLocalClientLayer&)>& send)
{
    auto run = [&] {
        if (m_layer) {
            send(*m_layer);
        }
    };
    // From a listener callback the test is on the worker already.
    if (GetCurrentThreadId() == m_worker.GetThreadId()) {
        run();
    } else {
        m_worker.Run(run);
    }
}

void CDNTestConnection::Close()
{
    m_worker.Run([&] {
        if (m_layer) {
            m_layer->SetListener(nullptr, 0);
        }
        if (m_context) {
            m_context.Get<ovIQoSContext>()->Close();
        }
        m_layer = nullptr;
        m_context.Reset();
    });
}

bool CDNTestConnection::WaitFor(const std::string& kind, int count, std::chrono::milliseconds timeout)
{
    return m_worker.WaitUntil([&] { return listener.Count(kind) >= count; }, timeout);
}
