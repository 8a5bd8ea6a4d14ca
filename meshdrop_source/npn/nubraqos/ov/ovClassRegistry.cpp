// The classes of the network library that CreateInstance can make. A class
// adds its line here when it is written; identifiers without a class create
// nothing.

#include "ov/ovClassFactory.h"
#include "ov/ovClassIds.h"

#include <new>

#include "cp/cpCMutex.h"
#include "cp/cpCQoSContext.h"
#include "cp/cpCSocket.h"
#include "cp/cpCTimer.h"
#include "nw/nwCAgentLayer.h"
#include "nw/nwCCDNLocalClientLayer.h"
#include "nw/nwCHTTPDownloader.h"
#include "nw/nwCHttpClientExLayer.h"
#include "nw/nwCHttpProxyTunnelLayer.h"
#include "nw/nwCSecureSocketClientLayer.h"
#include "nw/nwCStreamDispatcher.h"

namespace {

template <class T>
ovIUnknown* CreateObject()
{
    return new (std::nothrow) T();
}

// The context is held through its ovIQoSContext interface.
ovIUnknown* CreateContext()
{
    return static_cast<ovIQoSContext*>(new (std::nothrow) cpCQoSContext());
}

// The downloader is held through its ovIHTTPDownloader interface.
ovIUnknown* CreateDownloader()
{
    return static_cast<ovIHTTPDownloader*>(new (std::nothrow) nwCHTTPDownloader());
}

constexpr ovClassEntry kLibraryClasses[] = {
    {OVCLS_SOCKET, &CreateObject<cpCSocket>},
    {OVCLS_TIMER, &CreateObject<cpCTimer>},
    {OVCLS_MUTEX, &CreateObject<cpCMutex>},
    {OVCLS_QOS_CONTEXT, &CreateContext},
    {OVCLS_STREAM_DISPATCHER, &CreateObject<nwCStreamDispatcher>},
    {OVCLS_HTTP_DOWNLOADER, &CreateDownloader},
    {OVCLS_HTTP_CLIENT_LAYER, &nwCHttpClientExLayer::CreateLayer<nwCHttpClientExLayer>},
    {OVCLS_TLS_LAYER, &nwCSecureSocketClientLayer::CreateLayer<nwCSecureSocketClientLayer>},
    {OVCLS_HTTP_PROXY_TUNNEL_LAYER, &nwCHttpProxyTunnelLayer::CreateLayer<nwCHttpProxyTunnelLayer>},
    {OVCLS_AGENT_LAYER, &nwCAgentLayer::CreateLayer<nwCAgentLayer>},
    {OVCLS_LOCAL_ENGINE_LAYER, &nwCCDNLocalClientLayer::CreateLayer<nwCCDNLocalClientLayer>},
};

} // namespace

std::span<const ovClassEntry> ovLibraryClasses()
{
    return kLibraryClasses;
}
