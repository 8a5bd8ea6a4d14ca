#include "nw/nwCCDNLocalClientLayer.h"

#include <cstring>

OVRESULT nwCCDNLocalClientLayer::SetListener(nwICDNLocalClientEventListener* listener, std::uint32_t cookie)
{
    m_listener = listener;
    m_cookie = cookie;
    return OVR_NET_OK;
}

// --- Requests ---------------------------------------------------------------

OVRESULT nwCCDNLocalClientLayer::SendRecord(std::uint16_t type, const void* record, std::uint32_t size)
{
    if (!record && size != 0) {
        return OVR_NET_FAIL;
    }
    std::uint8_t* payload = AllocMessage(size);
    if (!payload) {
        return OVR_NET_FAIL;
    }
    if (size != 0) {
        std::memcpy(payload, record, size);
    }
    return SendFramed(type, payload, size, CDN_CLASS);
}

OVRESULT nwCCDNLocalClientLayer::SendJobMode(const nwCDNJobMode* mode)
{
    return SendRecord(CDN_REQ_JOB_MODE, mode, sizeof(nwCDNJobMode));
}

OVRESULT nwCCDNLocalClientLayer::SendRegion(const nwCDNRegion* region)
{
    return SendRecord(CDN_REQ_REGION, region, sizeof(nwCDNRegion));
}

OVRESULT nwCCDNLocalClientLayer::SendJobList(const nwCDNJobList* list)
{
    const std::uint32_t size = list ? nwCDNJobListSize(*list) : 0;
    std::uint8_t* payload = size ? AllocMessage(size) : nullptr;
    if (!payload) {
        return OVR_NET_FAIL;
    }
    nwCDNWriteJobList(*list, payload);
    return SendFramed(CDN_REQ_JOB_LIST, payload, size, CDN_CLASS_JOB_LIST);
}

OVRESULT nwCCDNLocalClientLayer::SendJobHeader(const nwCDNJobHeader* header)
{
    return SendRecord(CDN_REQ_JOB_HEADER, header, sizeof(nwCDNJobHeader));
}

OVRESULT nwCCDNLocalClientLayer::SendJobItem(const nwCDNJobItem* item)
{
    const std::uint32_t size = item ? nwCDNJobItemSize(*item) : 0;
    std::uint8_t* payload = size ? AllocMessage(size) : nullptr;
    if (!payload) {
        return OVR_NET_FAIL;
    }
    nwCDNWriteJobItem(*item, payload);
    return SendFramed(CDN_REQ_JOB_ITEM, payload, size, CDN_CLASS);
}

OVRESULT nwCCDNLocalClientLayer::SendJobEnd(std::uint32_t jobNumber)
{
    return SendRecord(CDN_REQ_JOB_END, &jobNumber, sizeof jobNumber);
}

OVRESULT nwCCDNLocalClientLayer::SendStopJob(const nwCDNJobRef* job)
{
    return SendRecord(CDN_REQ_STOP_JOB, job, sizeof(nwCDNJobRef));
}

OVRESULT nwCCDNLocalClientLayer::SendServiceId(const char* serviceId)
{
    nwCDNServiceId field{};
    if (serviceId) {
        nwCDNPutField(field.text, sizeof field.text,
                      std::string_view(serviceId, ::strnlen(serviceId, sizeof field.text)));
    }
    return SendRecord(CDN_REQ_SERVICE_ID, &field, sizeof field);
}

OVRESULT nwCCDNLocalClientLayer::SendFileOption(const nwCDNFileOption* option)
{
    return SendRecord(CDN_REQ_FILE_OPTION, option, sizeof(nwCDNFileOption));
}

OVRESULT nwCCDNLocalClientLayer::SendEngineFlag(std::uint32_t jobNumber)
{
    return SendRecord(CDN_REQ_ENGINE_FLAG, &jobNumber, sizeof jobNumber);
}

OVRESULT nwCCDNLocalClientLayer::SendResumeAnswer(const nwCDNResumeAnswer* answer)
{
    return SendRecord(CDN_REQ_RESUME_ANSWER, answer, sizeof(nwCDNResumeAnswer));
}

OVRESULT nwCCDNLocalClientLayer::RequestStatus()
{
    return SendRecord(CDN_REQ_STATUS, nullptr, 0);
}

// --- Connection events ------------------------------------------------------

bool nwCCDNLocalClientLayer::OnConnected()
{
    if (m_listener) {
        m_listener->OnEngineConnected(m_cookie);
    }
    return true;
}

int nwCCDNLocalClientLayer::OnReceive(const std::uint8_t* data, std::uint32_t length)
{
    const int consumed = nwCApplicationStack::OnReceive(data, length);
    return m_rejected ? -1 : consumed;
}

void nwCCDNLocalClientLayer::OnClose()
{
    if (m_listener) {
        m_listener->OnEngineClosed(m_cookie);
    }
}

bool nwCCDNLocalClientLayer::OnConnectFailed()
{
    if (m_listener) {
        m_listener->OnEngineConnectFailed(m_cookie);
    }
    return true;
}

// --- Notifications ----------------------------------------------------------

template <void (nwCCDNLocalClientLayer::*Parse)(const std::uint8_t*, std::uint32_t)>
void nwCCDNLocalClientLayer::Handle(const std::uint8_t* payload, std::uint32_t length, void* user)
{
    auto* layer = static_cast<nwCCDNLocalClientLayer*>(user);
    if (layer->m_listener) {
        (layer->*Parse)(payload, length);
    }
}

void nwCCDNLocalClientLayer::RegisterHandlers()
{
    struct Entry {
        std::uint16_t type;
        nwFramedHandler handler;
    };
    const Entry entries[] = {
        {CDN_NOTE_JOB_ACCEPTED, &Handle<&nwCCDNLocalClientLayer::ParseJobAccepted>},
        {CDN_NOTE_JOB_FAILED, &Handle<&nwCCDNLocalClientLayer::ParseJobFailed>},
        {CDN_NOTE_JOB_PROGRESS, &Handle<&nwCCDNLocalClientLayer::ParseProgress>},
        {CDN_NOTE_JOB_ENDED, &Handle<&nwCCDNLocalClientLayer::ParseJobEnded>},
        {CDN_NOTE_FILE_DONE, &Handle<&nwCCDNLocalClientLayer::ParseFileDone>},
        {CDN_NOTE_NOTICE, &Handle<&nwCCDNLocalClientLayer::ParseNotice>},
        {CDN_NOTE_NETWORK_LOST, &Handle<&nwCCDNLocalClientLayer::ParseNetworkLost>},
        {CDN_NOTE_NETWORK_BACK, &Handle<&nwCCDNLocalClientLayer::ParseNetworkBack>},
        {CDN_NOTE_FILE_DONE_TEXT, &Handle<&nwCCDNLocalClientLayer::ParseFileDoneText>},
        {CDN_NOTE_ASK_RESUME, &Handle<&nwCCDNLocalClientLayer::ParseAskResume>},
        {CDN_NOTE_STATUS, &Handle<&nwCCDNLocalClientLayer::ParseStatus>},
    };
    for (const Entry& entry : entries) {
        AddFramedHandler(CDN_CLASS, entry.type, entry.handler, this);
    }
}

void nwCCDNLocalClientLayer::Reject()
{
    m_rejected = true;
    GetDispatcher().Stop();
}

template <class Record>
void nwCCDNLocalClientLayer::DeliverFixed(const std::uint8_t* payload, std::uint32_t length,
                                          void (nwICDNLocalClientEventListener::*notify)(const Record*, std::uint32_t))
{
    Record record{};
    if (!nwCDNReadFixed(payload, length, &record, sizeof record)) {
        Reject();
        return;
    }
    (m_listener->*notify)(&record, m_cookie);
}

void nwCCDNLocalClientLayer::ParseJobAccepted(const std::uint8_t* payload, std::uint32_t length)
{
    DeliverFixed(payload, length, &nwICDNLocalClientEventListener::OnEngineJobAccepted);
}

void nwCCDNLocalClientLayer::ParseJobEnded(const std::uint8_t* payload, std::uint32_t length)
{
    DeliverFixed(payload, length, &nwICDNLocalClientEventListener::OnEngineJobEnded);
}

void nwCCDNLocalClientLayer::ParseNetworkLost(const std::uint8_t* payload, std::uint32_t length)
{
    DeliverFixed(payload, length, &nwICDNLocalClientEventListener::OnEngineNetworkLost);
}

void nwCCDNLocalClientLayer::ParseNetworkBack(const std::uint8_t* payload, std::uint32_t length)
{
    DeliverFixed(payload, length, &nwICDNLocalClientEventListener::OnEngineNetworkBack);
}

void nwCCDNLocalClientLayer::ParseAskResume(const std::uint8_t* payload, std::uint32_t length)
{
    DeliverFixed(payload, length, &nwICDNLocalClientEventListener::OnEngineAskResume);
}

void nwCCDNLocalClientLayer::ParseStatus(const std::uint8_t* payload, std::uint32_t length)
{
    DeliverFixed(payload, length, &nwICDNLocalClientEventListener::OnEngineStatusReport);
}

template <class Record>
void nwCCDNLocalClientLayer::DeliverRead(const std::uint8_t* payload, std::uint32_t length,
                                         bool (*read)(const std::uint8_t*, std::uint32_t, Record*),
                                         void (nwICDNLocalClientEventListener::*notify)(const Record*, std::uint32_t))
{
    Record record;
    if (!read(payload, length, &record)) {
        Reject();
        return;
    }
    (m_listener->*notify)(&record, m_cookie);
}

void nwCCDNLocalClientLayer::ParseJobFailed(const std::uint8_t* payload, std::uint32_t length)
{
    DeliverRead(payload, length, &nwCDNReadJobFailed, &nwICDNLocalClientEventListener::OnEngineJobFailed);
}

void nwCCDNLocalClientLayer::ParseNotice(const std::uint8_t* payload, std::uint32_t length)
{
    DeliverRead(payload, length, &nwCDNReadNotice, &nwICDNLocalClientEventListener::OnEngineNotice);
}

void nwCCDNLocalClientLayer::ParseProgress(const std::uint8_t* payload, std::uint32_t length)
{
    nwCDNProgressRecord record;
    std::vector<nwCDNProgressItemRecord> items;
    if (!nwCDNReadProgress(payload, length, &record, &items)) {
        Reject();
        return;
    }
    m_listener->OnEngineJobProgress(&record, m_cookie);
}

template <class Fixed>
void nwCCDNLocalClientLayer::DeliverFileDone(const std::uint8_t* payload, std::uint32_t length,
                                             bool (*read)(const std::uint8_t*, std::uint32_t, Fixed*,
                                                          nwCDNFileDoneRecord*),
                                             void (nwICDNLocalClientEventListener::*notify)(const nwCDNFileDoneRecord*,
                                                                                            std::uint32_t))
{
    Fixed fixed{};
    nwCDNFileDoneRecord record;
    if (!read(payload, length, &fixed, &record)) {
        Reject();
        return;
    }
    (m_listener->*notify)(&record, m_cookie);
}

void nwCCDNLocalClientLayer::ParseFileDone(const std::uint8_t* payload, std::uint32_t length)
{
    DeliverFileDone(payload, length, &nwCDNReadFileDone, &nwICDNLocalClientEventListener::OnEngineFileDone);
}

void nwCCDNLocalClientLayer::ParseFileDoneText(const std::uint8_t* payload, std::uint32_t length)
{
    DeliverFileDone(payload, length, &nwCDNReadFileDoneText, &nwICDNLocalClientEventListener::OnEngineFileDoneText);
}
