#include "HttpGetRequest.h"

#include <windows.h>

#include "cp/cpCQoS.h"
#include "cp/ovIQoSContext.h"
#include "nw/nwCHttpMessage.h"
#include "nw/nwHttpUrl.h"
#include "ov/ovCGarbageCollector.h"
#include "ov/ovClassIds.h"
#include "ut/utCodePage.h"

CSessionLock::CSessionLock() : m_pQoS(cpCQoS::GetInstance())
{
    if (m_pQoS != nullptr)
        m_pQoS->Lock();
}

CSessionLock::~CSessionLock()
{
    if (m_pQoS != nullptr)
        m_pQoS->Unlock();
}

namespace {

bool StartRequest(ovIQoSContext* context, nwIHttpClientExEventListener* listener, const std::string& url,
                  const HttpGetOptions& options)
{
    if (OV_FAILED(context->Open(options.actionKind, QOS_CONNECT_FAILED | QOS_IDLE_TIMEOUT, nullptr)))
        return false;
    if (options.connectTimeoutSeconds != 0)
        context->SetOption(QOS_OPTION_CONNECT_TIMEOUT, &options.connectTimeoutSeconds);
    if (options.idleTimeoutSeconds != 0)
        context->SetOption(QOS_OPTION_IDLE_TIMEOUT, &options.idleTimeoutSeconds);
    if (OV_FAILED(context->AddLayer(OVCLS_HTTP_CLIENT_LAYER, false)))
        return false;
    if (options.receiveActionKind != 0) {
        context->SetAction(options.receiveActionKind);
        if (options.sharedReceiveQuota != nullptr && *options.sharedReceiveQuota)
            context->ShareQuota(QOS_DIRECTION_RECEIVE, *options.sharedReceiveQuota);
        else
            context->SetQuota(QOS_DIRECTION_RECEIVE, &options.receiveQuota);
    }
    ovIHttpClientExLayer* layer = ovAsHttpClientExLayer(context->GetTopLayer());
    if (layer == nullptr)
        return false;
    layer->SetListener(listener, 0);
    if (OV_FAILED(layer->SetURL(url.c_str())))
        return false;
    if (options.range != nullptr && OV_FAILED(layer->AddHeader("Range", options.range)))
        return false;
    return OV_SUCCEEDED(layer->SendGET());
}

void HandToCollector(ovSmartPtr& context)
{
    ovCGarbageCollector::GetGarbageCollector()->Add(context);
    context.Reset();
}

} // namespace

bool OpenHttpGet(ovSmartPtr& context, nwIHttpClientExEventListener* listener, const std::string& url,
                 const HttpGetOptions& options)
{
    if (!context.CreateInstance(OVCLS_QOS_CONTEXT))
        return false;
    CSessionLock lock;
    if (lock.Held() && StartRequest(context.Get<ovIQoSContext>(), listener, url, options))
        return true;
    CloseHttpGet(context);
    return false;
}

void CloseHttpGet(ovSmartPtr& context, bool markAddressFailed)
{
    if (!context)
        return;
    CSessionLock lock;
    auto* qosContext = context.Get<ovIQoSContext>();
    if (markAddressFailed)
        qosContext->MarkAddressFailed();
    if (ovIHttpClientExLayer* layer = HttpLayerOf(context))
        layer->SetListener(nullptr, 0);
    qosContext->Close();
    HandToCollector(context);
}

void CloseHttpGetWithReport(const ovSmartPtr& context)
{
    if (!context)
        return;
    CSessionLock lock;
    context.Get<ovIQoSContext>()->Close();
}

void ReleaseClosedHttpGet(ovSmartPtr& context)
{
    if (!context)
        return;
    if (ovIHttpClientExLayer* layer = HttpLayerOf(context))
        layer->SetListener(nullptr, 0);
    HandToCollector(context);
}

ovIHttpClientExLayer* HttpLayerOf(const ovSmartPtr& context)
{
    if (!context)
        return nullptr;
    ovIUnknown* top = context.Get<ovIQoSContext>()->GetTopLayer();
    return top != nullptr ? ovAsHttpClientExLayer(top) : nullptr;
}

int HttpStatusOf(const ovSmartPtr& context)
{
    int status = 0;
    if (ovIHttpClientExLayer* layer = HttpLayerOf(context))
        layer->GetStatusCode(&status);
    return status;
}

std::int64_t HttpContentLengthOf(const ovSmartPtr& context)
{
    std::int64_t length = 0;
    if (ovIHttpClientExLayer* layer = HttpLayerOf(context))
        layer->GetContentLength(&length);
    return length;
}

namespace {

std::string RawLocationOf(const ovSmartPtr& context)
{
    ovIHttpClientExLayer* layer = HttpLayerOf(context);
    ovCString value;
    if (layer == nullptr || OV_FAILED(layer->GetResponseHeader("Location:", &value)) || value.GetLength() == 0)
        return {};
    return std::string(value.GetString(), value.GetLength());
}

std::string Resolved(const std::string& requestUrl, const std::string& location)
{
    if (location.empty())
        return {};
    const ovCString resolved = nwResolveUrl(requestUrl.c_str(), location.c_str());
    return std::string(resolved.GetString(), resolved.GetLength());
}

std::string FromUtf8(const std::string& utf8)
{
    return utConvertCodePage(utf8.data(), static_cast<std::uint32_t>(utf8.size()), CP_UTF8, CP_ACP);
}

} // namespace

std::string HttpRedirectLocationOf(const ovSmartPtr& context, const std::string& requestUrl)
{
    return Resolved(requestUrl, FromUtf8(RawLocationOf(context)));
}

std::string HttpRawRedirectLocationOf(const ovSmartPtr& context, const std::string& requestUrl)
{
    return Resolved(requestUrl, RawLocationOf(context));
}

bool HttpBodyIsChunked(const ovSmartPtr& context)
{
    ovIHttpClientExLayer* layer = HttpLayerOf(context);
    ovCString head;
    if (layer == nullptr || OV_FAILED(layer->GetRawHead(&head)))
        return false;
    nwCHttpMessage message;
    message.Parse(head.GetString(), head.GetLength());
    return message.IsChunked();
}
