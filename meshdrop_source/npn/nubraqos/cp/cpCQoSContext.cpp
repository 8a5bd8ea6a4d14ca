#include "cp/cpCQoSContext.h"

#include <atomic>
#include <cstring>

#include "cp/cpAssert.h"
#include "cp/cpCHostCache.h"
#include "cp/cpCMutex.h"
#include "cp/cpCQoS.h"
#include "cp/cpCTimer.h"
#include "ov/ovClassIds.h"

namespace {

// Numbers the opened contexts: a posted event names its context by number,
// since a freed context's record address can come back for a new one.
std::atomic<std::uint64_t> g_nextGeneration{1};

std::atomic<int> g_liveContexts{0};

// The library lock every operation of a context runs under, or null when no
// bandwidth manager runs (contexts made alone by tests).
[[maybe_unused]] cpCMutex* LibraryLock()
{
    cpCQoS* qos = cpCQoS::GetInstance();
    return qos ? qos->GetLock() : nullptr;
}

} // namespace

int cpCQoSContextLiveCountForTesting()
{
    return g_liveContexts.load();
}

cpCQoSContext::cpCQoSContext()
{
    ++g_liveContexts;
}

cpCQoSContext::~cpCQoSContext()
{
    --g_liveContexts;
    m_attempts.Cancel(nullptr);
    StopConnectTimer();
    // While registered the manager's table holds a reference, so a record
    // still here is not registered: it only needs closing.
    if (m_io.record) {
        cpSocketClose(&m_io.record);
    }
    for (Layer& layer : m_layers) {
        if (layer.stack) {
            layer.stack->SetContext(nullptr);
        }
    }
    m_layers.clear();
    FreeSendQueue();
    delete m_io.current;
    m_io.current = nullptr;
}

void cpCQoSContext::FreeSendQueue()
{
    while (m_sendQueue.GetCount() > 0) {
        delete static_cast<cpSendBlock*>(m_sendQueue.RemoveAt(0));
    }
}

OVRESULT cpCQoSContext::QueryInterface(std::uint32_t interfaceId, void** out)
{
    if (m_layers.empty() || !m_layers.front().object) {
        return OVR_NOT_IMPLEMENTED;
    }
    return m_layers.front().object->QueryInterface(interfaceId, out);
}

OVRESULT cpCQoSContext::Open(int actionKind, std::uint32_t mask, cpSocketRecord* record)
{
    MESHDROP_ASSERT_LOCKED(LibraryLock());
    if (m_state != QOS_STATE_NEW) {
        return OVR_PLATFORM_FAIL;
    }
    cpCQoS* qos = cpCQoS::GetInstance();
    if (!qos) {
        return OVR_PLATFORM_FAIL;
    }
    m_state = QOS_STATE_OPENING;
    m_mask = mask;
    cpSocketRecord* registered = record;
    const OVRESULT result = qos->Register(this, &registered);
    if (OV_FAILED(result)) {
        // No socket, or no free slot: nothing was kept, the context is new again.
        m_state = QOS_STATE_NEW;
        return result;
    }
    m_io.record = registered;
    m_generation = g_nextGeneration.fetch_add(1);
    m_state = record ? QOS_STATE_CONNECTED : QOS_STATE_OPEN;
    return SetAction(actionKind);
}

OVRESULT cpCQoSContext::SetQuota(int direction, const std::uint32_t* bytesPerSecond)
{
    MESHDROP_ASSERT_LOCKED(LibraryLock());
    if (!m_action || !bytesPerSecond) {
        return OVR_PLATFORM_FAIL;
    }
    m_action->SetQuota(direction, *bytesPerSecond);
    return OVR_PLATFORM_OK;
}

OVRESULT cpCQoSContext::ShareQuota(int direction, std::shared_ptr<cpCQoSQuota> quota)
{
    MESHDROP_ASSERT_LOCKED(LibraryLock());
    return m_action && m_action->ShareQuota(direction, std::move(quota)) ? OVR_PLATFORM_OK : OVR_PLATFORM_FAIL;
}

OVRESULT cpCQoSContext::SetAction(int kind)
{
    if (m_action && m_action->GetKind() == kind) {
        return OVR_PLATFORM_OK;
    }
    std::unique_ptr<cpCQoSContextAction> action = cpCreateContextAction(kind, m_io);
    if (!action) {
        return OVR_PLATFORM_FAIL;
    }
    m_action = std::move(action);
    return OVR_PLATFORM_OK;
}

OVRESULT cpCQoSContext::SetEventMask(std::uint32_t mask)
{
    m_mask = mask;
    return OVR_PLATFORM_OK;
}

OVRESULT cpCQoSContext::AddEventMask(std::uint32_t bits)
{
    m_mask |= bits;
    return OVR_PLATFORM_OK;
}

OVRESULT cpCQoSContext::RemoveEventMask(std::uint32_t bits)
{
    m_mask &= ~bits;
    return OVR_PLATFORM_OK;
}

OVRESULT cpCQoSContext::SetOption(int option, const std::uint32_t* value)
{
    if (!value) {
        return OVR_PLATFORM_FAIL;
    }
    switch (option) {
    case QOS_OPTION_CONNECT_TIMEOUT:
        m_connectTimeout = *value;
        return OVR_PLATFORM_OK;
    case QOS_OPTION_IDLE_TIMEOUT:
        m_idleTimeout = *value;
        return OVR_PLATFORM_OK;
    case QOS_OPTION_TIMER:
        m_timerSetting = *value;
        return OVR_PLATFORM_OK;
    default:
        return OVR_PLATFORM_FAIL;
    }
}

OVRESULT cpCQoSContext::GetState(int* state)
{
    if (state) {
        *state = m_state;
    }
    return OVR_PLATFORM_OK;
}

OVRESULT cpCQoSContext::Connect(const cpEndpoint& endpoint)
{
    return ConnectEndpoints({endpoint});
}

OVRESULT cpCQoSContext::ConnectEndpoints(const std::vector<cpEndpoint>& endpoints)
{
    MESHDROP_ASSERT_LOCKED(LibraryLock());
    if (m_state != QOS_STATE_OPEN || !m_io.record || endpoints.empty()) {
        return OVR_PLATFORM_FAIL;
    }
    m_state = QOS_STATE_CONNECTING;
    // The time-out covers every attempt; an outcome at once stops it again.
    StartConnectTimer();
    m_attempts.Begin(m_io.record, endpoints);
    return OVR_PLATFORM_OK;
}

void cpCQoSContext::OnAttemptConnected(SOCKET socket, const cpEndpoint& endpoint)
{
    if (OV_FAILED(cpSocketAdopt(m_io.record, socket, endpoint))) {
        m_state = QOS_STATE_FAILED;
        StopConnectTimer();
        Fail();
        return;
    }
    m_remote = endpoint;
    OnConnected();
}

void cpCQoSContext::OnAttemptFailed(const cpEndpoint& endpoint)
{
    if ((m_mask & QOS_CONNECT_FAILED) && m_hostName[0]) {
        cpCHostCache::GetInstance().MarkFailed(m_hostName, endpoint.port, endpoint.address);
    }
}

void cpCQoSContext::OnAttemptsExhausted(int lastFailure)
{
    m_state = QOS_STATE_FAILED;
    StopConnectTimer();
    if (lastFailure == cpCConnectAttempts::FAILED_AT_ONCE) {
        Fail();
        return;
    }
    PostEvent(QOS_CONNECT_FAILED);
    if (lastFailure == cpCConnectAttempts::UNREACHABLE) {
        NotifyUnreachable();
    }
}

void cpCQoSContext::NotifyUnreachable()
{
    const std::vector<Layer> layers = SnapshotLayers();
    for (auto it = layers.rbegin(); it != layers.rend(); ++it) {
        if (!it->stack->OnUnreachable()) {
            break;
        }
    }
}

bool cpCQoSContext::UsesSocket(SOCKET socket) const
{
    return (m_io.record && m_io.record->socket == socket) || m_attempts.IsPending(socket);
}

void cpCQoSContext::OnAttemptEvent(SOCKET socket, int kind)
{
    if (kind == CP_SOCKET_EVENT_CONNECTED || kind == CP_SOCKET_EVENT_REFUSED || kind == CP_SOCKET_EVENT_UNREACHABLE) {
        m_attempts.OnSocketEvent(socket, kind);
    }
}

OVRESULT cpCQoSContext::ConnectEndpoint(const cpEndpoint& endpoint)
{
    return Connect(endpoint);
}

void cpCQoSContext::StartConnectTimer()
{
    StopConnectTimer();
    if (!m_connectTimer.CreateInstance(OVCLS_TIMER)) {
        return;
    }
    cpCQoS* qos = cpCQoS::GetInstance();
    m_connectTimer.Get<cpCTimer>()->Start(m_connectTimeout * 1000, &cpCQoSContext::OnConnectTimer, this,
                                          CP_TIMER_TAG_CONNECT, qos ? qos->GetLock() : nullptr);
}

void cpCQoSContext::StopConnectTimer()
{
    if (m_connectTimer) {
        m_connectTimer.Get<cpCTimer>()->Stop();
        m_connectTimer.Reset();
    }
}

void cpCQoSContext::OnConnectTimer(void* context)
{
    auto* self = static_cast<cpCQoSContext*>(context);
    // The addresses still being tried did not answer in time.
    std::vector<cpEndpoint> abandoned;
    self->m_attempts.Cancel(&abandoned);
    for (const cpEndpoint& endpoint : abandoned) {
        if (endpoint.address != self->m_remote.address || endpoint.port != self->m_remote.port) {
            self->OnAttemptFailed(endpoint);
        }
    }
    self->m_state = QOS_STATE_FAILED;
    self->StopConnectTimer();
    self->PostEvent(QOS_CONNECT_FAILED);
}

void cpCQoSContext::ScheduleBudgetWake()
{
    std::uint32_t ms = 0;
    if (m_action && m_io.record && m_action->MsUntilBudget(&ms)) {
        cpSocketStartBudgetWake(m_io.record, ms);
    }
}

void cpCQoSContext::OnBudgetWake()
{
    if (!m_action) {
        return;
    }
    const bool receiveBlocked = m_action->TakeReceiveBlocked();
    const bool sendBlocked = m_action->TakeSendBlocked();
    if (receiveBlocked || sendBlocked) {
        Rearm();
    }
}

OVRESULT cpCQoSContext::WriteFromLayer(nwIQoSNetStack* layer, const nwBuffer& buffer)
{
    const int index = IndexOf(layer);
    if (index < 0) {
        return OVR_PLATFORM_FAIL;
    }
    if (index + 1 == static_cast<int>(m_layers.size())) {
        return Enqueue(buffer.data, buffer.length);
    }
    ovSmartPtr hold(m_layers[static_cast<std::size_t>(index) + 1].object);
    return m_layers[static_cast<std::size_t>(index) + 1].stack->OnSend(buffer);
}

OVRESULT cpCQoSContext::AddLayer(std::uint32_t classId, bool atBottom)
{
    Layer layer;
    if (!layer.object.CreateInstance(classId)) {
        return OVR_PLATFORM_FAIL;
    }
    void* view = nullptr;
    if (!layer.object.QueryInterface(OVIID_NET_STACK, &view) || !view) {
        return OVR_PLATFORM_FAIL;
    }
    layer.stack = static_cast<nwIQoSNetStack*>(view);
    layer.stack->SetContext(this);
    layer.classId = classId;
    if (atBottom) {
        m_layers.push_back(std::move(layer));
    } else {
        m_layers.insert(m_layers.begin(), std::move(layer));
    }
    return OVR_PLATFORM_OK;
}

OVRESULT cpCQoSContext::FindLayer(std::uint32_t classId, ovIUnknown** out)
{
    for (const Layer& layer : m_layers) {
        if (layer.classId == classId) {
            if (out) {
                *out = layer.object.Get();
            }
            return OVR_PLATFORM_OK;
        }
    }
    return OVR_PLATFORM_FAIL;
}

OVRESULT cpCQoSContext::Rearm()
{
    if (!m_io.record) {
        return OVR_PLATFORM_FAIL;
    }
    return cpSocketRearm(m_io.record);
}

OVRESULT cpCQoSContext::RegisterStreamHandler(std::uint16_t messageClass, std::uint32_t messageType,
                                              nwFramedHandler handler, void* user)
{
    if (!m_dispatcher && !m_dispatcher.CreateInstance(OVCLS_STREAM_DISPATCHER)) {
        return OVR_PLATFORM_FAIL;
    }
    return m_dispatcher.Get<nwCStreamDispatcherBase>()->AddFramedHandler(messageClass, messageType, handler, user);
}

OVRESULT cpCQoSContext::SetRemoteEndpoint(const cpEndpoint& endpoint)
{
    m_remote = endpoint;
    return OVR_PLATFORM_OK;
}

OVRESULT cpCQoSContext::GetRemoteEndpoint(cpEndpoint* endpoint)
{
    if (endpoint) {
        *endpoint = m_remote;
    }
    return OVR_PLATFORM_OK;
}

OVRESULT cpCQoSContext::Close()
{
    MESHDROP_ASSERT_LOCKED(LibraryLock());
    if (m_state == QOS_STATE_NEW || m_state == QOS_STATE_CLOSING || m_state == QOS_STATE_CLOSED) {
        return OVR_PLATFORM_OK;
    }
    // Unregistering drops the manager's reference: stay alive to the end.
    ovSmartPtr self(this);
    m_attempts.Cancel(nullptr);
    StopConnectTimer();
    cpSocketStopBudgetWake(m_io.record);
    m_state = QOS_STATE_CLOSING;
    if (cpCQoS* qos = cpCQoS::GetInstance()) {
        qos->Unregister(this, &m_io.record);
    } else if (m_io.record) {
        cpSocketClose(&m_io.record);
    }
    m_io.record = nullptr;
    // A snapshot, as for every delivery: a layer may add or drop layers
    // while it closes.
    const std::vector<Layer> layers = SnapshotLayers();
    for (auto it = layers.rbegin(); it != layers.rend(); ++it) {
        it->stack->OnClosed();
    }
    m_state = QOS_STATE_CLOSED;
    return OVR_PLATFORM_OK;
}

OVRESULT cpCQoSContext::Fail()
{
    PostEvent(QOS_FAILED);
    return OVR_PLATFORM_OK;
}

ovIUnknown* cpCQoSContext::GetTopLayer()
{
    return m_layers.empty() ? nullptr : m_layers.front().object.Get();
}

OVRESULT cpCQoSContext::ConnectedFromLayer(nwIQoSNetStack* layer)
{
    const int index = IndexOf(layer);
    if (index <= 0) {
        return OVR_PLATFORM_FAIL;
    }
    // The notice goes on upwards from there as the socket's own does, until
    // a layer holds it back.
    const std::vector<Layer> layers = SnapshotLayers();
    for (int i = index - 1; i >= 0; --i) {
        if (!layers[static_cast<std::size_t>(i)].stack->OnConnected()) {
            break;
        }
    }
    return OVR_PLATFORM_OK;
}

int cpCQoSContext::ReceiveFromLayer(nwIQoSNetStack* layer, const std::uint8_t* data, std::uint32_t length)
{
    const int index = IndexOf(layer);
    if (index <= 0) {
        return 0;
    }
    Layer above = m_layers[static_cast<std::size_t>(index) - 1];
    return above.stack->OnReceive(data, length);
}

OVRESULT cpCQoSContext::GetSendBuffer(const std::uint8_t** data, std::uint32_t* length)
{
    if (data) {
        *data = m_io.current ? m_io.current->data.get() : nullptr;
    }
    if (length) {
        *length = m_io.current ? m_io.current->length : 0;
    }
    return OVR_PLATFORM_OK;
}

OVRESULT cpCQoSContext::Enqueue(const void* data, std::uint32_t length)
{
    MESHDROP_ASSERT_LOCKED(LibraryLock());
    if (m_state == QOS_STATE_FAILED || m_state == QOS_STATE_CLOSING || m_state == QOS_STATE_CLOSED) {
        return OVR_PLATFORM_OK;
    }
    if (!data || length == 0) {
        return OVR_PLATFORM_OK;
    }
    auto block = std::make_unique<cpSendBlock>();
    block->data = std::make_unique<std::uint8_t[]>(length);
    std::memcpy(block->data.get(), data, length);
    block->length = length;
    if (!m_sendQueue.Add(block.get())) {
        return OVR_PLATFORM_FAIL;
    }
    block.release();
    if (!m_io.current) {
        LoadNextBlock();
    }
    if (!SendQueued()) {
        Fail();
    }
    return OVR_PLATFORM_OK;
}

void cpCQoSContext::RateCounter::Add(std::uint32_t n)
{
    if (!started) {
        start = cpNow();
        started = true;
    }
    bytes += n;
}

std::uint32_t cpCQoSContext::RateCounter::TakeRate()
{
    const cpTime now = cpNow();
    const std::int64_t elapsed = started ? cpElapsedMs(start, now) : 0;
    const std::uint64_t rate = elapsed > 0 ? bytes * 1000 / static_cast<std::uint64_t>(elapsed) : 0;
    bytes = 0;
    start = now;
    started = true;
    return static_cast<std::uint32_t>(rate > UINT32_MAX ? UINT32_MAX : rate);
}

OVRESULT cpCQoSContext::TakeRate(std::uint32_t maskBit, RateCounter& counter, std::uint32_t* bytesPerSecond)
{
    if (!(m_mask & maskBit)) {
        return OVR_PLATFORM_FAIL;
    }
    const std::uint32_t rate = counter.TakeRate();
    if (bytesPerSecond) {
        *bytesPerSecond = rate;
    }
    return OVR_PLATFORM_OK;
}

OVRESULT cpCQoSContext::GetReceiveRate(std::uint32_t* bytesPerSecond)
{
    return TakeRate(QOS_COUNT_RECEIVED, m_receiveRate, bytesPerSecond);
}

OVRESULT cpCQoSContext::GetSendRate(std::uint32_t* bytesPerSecond)
{
    return TakeRate(QOS_COUNT_SENT, m_sendRate, bytesPerSecond);
}

OVRESULT cpCQoSContext::Reserved()
{
    return OVR_PLATFORM_OK;
}

OVRESULT cpCQoSContext::GetQueuedBytes(std::uint32_t* bytes)
{
    std::uint64_t total = 0;
    for (int i = 0; i < m_sendQueue.GetCount(); ++i) {
        total += static_cast<cpSendBlock*>(m_sendQueue.GetAt(i))->Remaining();
    }
    if (bytes) {
        *bytes = static_cast<std::uint32_t>(total > UINT32_MAX ? UINT32_MAX : total);
    }
    return OVR_PLATFORM_OK;
}

OVRESULT cpCQoSContext::GetHostName(const char** name)
{
    if (name) {
        *name = m_hostName;
    }
    return OVR_PLATFORM_OK;
}

OVRESULT cpCQoSContext::SetHostName(const char* name)
{
    if (!name) {
        return OVR_PLATFORM_FAIL;
    }
    std::strncpy(m_hostName, name, kHostNameMax);
    m_hostName[kHostNameMax] = '\0';
    return OVR_PLATFORM_OK;
}

bool cpCQoSContext::HasAddress() const
{
    return m_hostName[0] && m_remote.address.IsSet() && m_remote.port;
}

OVRESULT cpCQoSContext::MarkAddressWorking()
{
    if (!HasAddress()) {
        return OVR_PLATFORM_FAIL;
    }
    cpCHostCache::GetInstance().MarkWorking(m_hostName, m_remote.port, m_remote.address);
    return OVR_PLATFORM_OK;
}

OVRESULT cpCQoSContext::MarkAddressFailed()
{
    if (!HasAddress()) {
        return OVR_PLATFORM_FAIL;
    }
    cpCHostCache::GetInstance().MarkFailed(m_hostName, m_remote.port, m_remote.address);
    return OVR_PLATFORM_OK;
}

int cpCQoSContext::IndexOf(const nwIQoSNetStack* layer) const
{
    for (std::size_t i = 0; i < m_layers.size(); ++i) {
        if (m_layers[i].stack == layer) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

void cpCQoSContext::PostEvent(std::uint32_t event)
{
    if (!m_io.record) {
        return;
    }
    m_events.push_back(event);
    cpSocketPostContextEvent(m_io.record, m_generation);
}

void cpCQoSContext::DeliverEvent(std::uint32_t event)
{
    if (!(m_mask & event)) {
        return;
    }
    const std::vector<Layer> layers = SnapshotLayers();
    for (auto it = layers.rbegin(); it != layers.rend(); ++it) {
        if (!it->stack->OnEvent(event, 0)) {
            break;
        }
    }
}

void cpCQoSContext::OnSocketEvent(int kind)
{
    switch (kind) {
    case CP_SOCKET_EVENT_READABLE:
        OnReadable();
        break;
    case CP_SOCKET_EVENT_WRITABLE:
        if (!m_io.current) {
            LoadNextBlock();
        }
        if (!SendQueued()) {
            Fail();
        }
        break;
    case CP_SOCKET_EVENT_CONNECTED:
        OnConnected();
        break;
    case CP_SOCKET_EVENT_CLOSED:
        Close();
        break;
    case CP_SOCKET_EVENT_REFUSED:
    case CP_SOCKET_EVENT_UNREACHABLE:
        // A connect outcome outside the attempts (their notices go to
        // OnAttemptEvent): the context's socket was connected some other way.
        m_state = QOS_STATE_FAILED;
        StopConnectTimer();
        PostEvent(QOS_CONNECT_FAILED);
        if (kind == CP_SOCKET_EVENT_UNREACHABLE) {
            NotifyUnreachable();
        }
        break;
    default:
        break;
    }
}

void cpCQoSContext::OnReadable()
{
    // Layers may close (and release) the context while they take a piece.
    ovSmartPtr self(this);
    std::uint32_t total = 0;
    while (total <= cpCQoSContextAction::kReadStop) {
        if (!m_io.record || !m_action ||
            (m_state != QOS_STATE_CONNECTED && m_state != QOS_STATE_SENDING && m_state != QOS_STATE_IDLE)) {
            return;
        }
        m_idleCounter = 0;
        m_state = QOS_STATE_RECEIVING;
        const std::uint32_t got = m_action->Receive();
        ScheduleBudgetWake();
        if (got > 0 && (m_mask & QOS_COUNT_RECEIVED)) {
            m_receiveRate.Add(got);
        }
        if (m_state == QOS_STATE_RECEIVING) {
            m_state = QOS_STATE_IDLE;
        }
        if (got > 0) {
            DeliverReceived();
        }
        // Less than a whole piece: the socket is empty, the budget spent or
        // the buffer at its stop.
        if (got < cpCQoSContextAction::kReadPiece) {
            return;
        }
        total += got;
    }
}

void cpCQoSContext::OnConnected()
{
    if (m_connected) {
        return;
    }
    StopConnectTimer();
    m_connected = 2;
    m_state = QOS_STATE_CONNECTED;
    const std::vector<Layer> layers = SnapshotLayers();
    for (auto it = layers.rbegin(); it != layers.rend(); ++it) {
        if (!it->stack->OnConnected()) {
            break;
        }
    }
    if (!SendQueued()) {
        Fail();
    }
}

void cpCQoSContext::DeliverReceived()
{
    if (m_state == QOS_STATE_CLOSING || m_state == QOS_STATE_CLOSED) {
        return;
    }
    cpCReceiveBuffer& buffer = m_io.receive;
    const std::uint32_t held = buffer.Held();
    int consumed = 0;
    // Layers may close (and release) the context from inside OnReceive.
    ovSmartPtr self(this);
    if (!m_layers.empty()) {
        Layer bottom = m_layers.back();
        consumed = bottom.stack->OnReceive(buffer.Data(), held);
        if (consumed < 0 || static_cast<std::uint32_t>(consumed) > held) {
            Close();
            return;
        }
    } else if (m_dispatcher) {
        m_dispatcher.Get<nwCStreamDispatcherBase>()->Dispatch(buffer.Data(), held, &consumed);
        if (consumed < 0) {
            Close();
            return;
        }
        if (static_cast<std::uint32_t>(consumed) > held) {
            consumed = static_cast<int>(held);
        }
    } else {
        // Nobody reads this connection's data: it is dropped rather than kept.
        consumed = static_cast<int>(held);
    }
    if (m_state == QOS_STATE_CLOSING || m_state == QOS_STATE_CLOSED) {
        return;
    }
    buffer.Consume(static_cast<std::uint32_t>(consumed));
    if (buffer.IsFull()) {
        // The buffer is at its bound and the layers take nothing of it: the
        // peer is sending something no layer can ever parse.
        Close();
    }
}

void cpCQoSContext::LoadNextBlock()
{
    if (m_io.current) {
        return;
    }
    if (m_sendQueue.GetCount() == 0) {
        DeliverEvent(QOS_SEND_QUEUE_EMPTY);
    }
    if (m_sendQueue.GetCount() > 0 && !m_io.current) {
        m_io.current = static_cast<cpSendBlock*>(m_sendQueue.RemoveAt(0));
    }
}

bool cpCQoSContext::SendQueued()
{
    if (!m_io.record || !m_io.current || !m_action ||
        (m_state != QOS_STATE_CONNECTED && m_state != QOS_STATE_RECEIVING && m_state != QOS_STATE_IDLE)) {
        return true;
    }
    m_state = QOS_STATE_SENDING;
    bool ok = true;
    while (m_io.current) {
        std::uint32_t sent = 0;
        ok = m_action->Send(&sent);
        ScheduleBudgetWake();
        if (sent > 0 && (m_mask & QOS_COUNT_SENT)) {
            m_sendRate.Add(sent);
        }
        if (m_io.current->IsComplete()) {
            delete m_io.current;
            m_io.current = nullptr;
        }
        if (!ok || m_io.current) {
            break;
        }
        LoadNextBlock();
        if (m_state != QOS_STATE_SENDING) {
            break; // a layer closed the connection from the queue-empty event
        }
    }
    if (m_state == QOS_STATE_SENDING) {
        m_state = QOS_STATE_IDLE;
    }
    return ok;
}

void cpCQoSContext::OnContextEvent()
{
    if (m_events.empty()) {
        return;
    }
    const std::uint32_t event = m_events.front();
    m_events.pop_front();
    if (event == QOS_IDLE_TIMEOUT) {
        if (m_idleCounter < m_idleTimeout || !(m_mask & QOS_IDLE_TIMEOUT)) {
            return;
        }
        MarkAddressFailed();
    } else if (event == QOS_CONNECT_FAILED) {
        if (!(m_mask & QOS_CONNECT_FAILED) || m_connected) {
            return;
        }
        MarkAddressFailed();
    }
    DeliverEvent(event);
    if (event == QOS_CONNECT_FAILED || event == QOS_FAILED) {
        Close();
    }
}

void cpCQoSContext::OnTick(cpQoSStats* stats)
{
    ++m_tickCount;
    const std::uint32_t before = m_idleCounter++;
    if (before == m_idleTimeout && (m_mask & QOS_IDLE_TIMEOUT)) {
        PostEvent(QOS_IDLE_TIMEOUT);
    }
    if (m_action) {
        m_action->Collect(stats);
        // Both flags are taken: a connection blocked both ways must resume
        // both ways with the new budget.
        const bool receiveBlocked = m_action->TakeReceiveBlocked();
        const bool sendBlocked = m_action->TakeSendBlocked();
        if (receiveBlocked || sendBlocked) {
            Rearm();
        }
    }
}
