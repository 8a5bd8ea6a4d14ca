#include "HttpGetConnection.h"

#include "cp/cpCQoS.h"
#include "cp/cpCQoSContext.h"
#include "ov/ovCGarbageCollector.h"
#include "ov/ovClassIds.h"

namespace {

constexpr std::uint32_t kTimeoutSeconds = 3;

// The library lock, taken through the bandwidth manager as every session does.
class QoSLock {
public:
    QoSLock() : m_qos(cpCQoS::GetInstance())
    {
        if (m_qos != nullptr)
            m_qos->Lock();
    }
    ~QoSLock()
    {
        if (m_qos != nullptr)
            m_qos->Unlock();
    }
    QoSLock(const QoSLock&) = delete;
    QoSLock& operator=(const QoSLock&) = delete;

private:
    cpCQoS* m_qos;
};

bool BuildRequest(ovSmartPtr& connection, nwIHttpClientExEventListener* listener, const HttpGetRequest& request)
{
    if (cpCQoS::GetInstance() == nullptr || request.url == nullptr || !connection.CreateInstance(OVCLS_QOS_CONTEXT))
        return false;
    auto* context = connection.Get<ovIQoSContext>();
    if (OV_FAILED(context->Open(request.openActionKind, QOS_CONNECT_FAILED | QOS_IDLE_TIMEOUT, nullptr)))
        return false;
    context->SetOption(QOS_OPTION_CONNECT_TIMEOUT, &kTimeoutSeconds);
    context->SetOption(QOS_OPTION_IDLE_TIMEOUT, &kTimeoutSeconds);
    if (OV_FAILED(context->AddLayer(OVCLS_HTTP_CLIENT_LAYER, false)))
        return false;
    if (request.receiveActionKind != 0) {
        context->SetAction(request.receiveActionKind);
        context->SetQuota(QOS_DIRECTION_RECEIVE, &request.receiveQuota);
    }
    ovIHttpClientExLayer* layer = HttpLayerOf(connection);
    layer->SetListener(listener, 0);
    if (OV_FAILED(layer->SetURL(request.url)))
        return false;
    if (request.range != nullptr && OV_FAILED(layer->AddHeader("Range", request.range)))
        return false;
    return OV_SUCCEEDED(layer->SendGET());
}

} // namespace

bool StartHttpGet(ovSmartPtr& connection, nwIHttpClientExEventListener* listener, const HttpGetRequest& request)
{
    QoSLock lock;
    if (BuildRequest(connection, listener, request))
        return true;
    ReleaseHttpConnection(connection);
    return false;
}

ovIHttpClientExLayer* HttpLayerOf(const ovSmartPtr& connection)
{
    if (!connection)
        return nullptr;
    return ovAsHttpClientExLayer(connection.Get<ovIQoSContext>()->GetTopLayer());
}

void ReleaseHttpConnection(ovSmartPtr& connection)
{
    if (!connection)
        return;
    if (ovIHttpClientExLayer* layer = HttpLayerOf(connection))
        layer->SetListener(nullptr, 0);
    connection.Get<ovIQoSContext>()->Close();
    ovCGarbageCollector::GetGarbageCollector()->Add(connection);
    connection.Reset();
}

void CloseHttpConnection(const ovSmartPtr& connection)
{
    if (connection)
        connection.Get<ovIQoSContext>()->Close();
}

std::vector<std::string> SplitMirrorUrls(const std::string& url)
{
    std::vector<std::string> mirrors;
    size_t start = 0;
    for (;;) {
        const size_t bar = url.find('|', start);
        mirrors.push_back(url.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
        if (bar == std::string::npos)
            return mirrors;
        start = bar + 1;
    }
}
