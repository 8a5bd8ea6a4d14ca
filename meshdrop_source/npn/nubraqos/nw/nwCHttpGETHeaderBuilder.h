#pragma once
// The head of a GET request: request line, the standard headers at their fixed
// places (Range and Host only when set), the other request headers, and the
// blank line. A GET has no trailer.

#include "nw/nwCHttpRequestHeaderBuilder.h"
#include "nw/nwHttpConstants.h"

class nwCHttpGETHeaderBuilder : public nwCHttpRequestHeaderBuilder {
public:
    nwCHttpGETHeaderBuilder() : nwCHttpRequestHeaderBuilder(HTTP_REQUEST_GET) {}

    void Build(ovCString* out) override;
    void BuildTrailer(ovCString* out) override { (void)out; }
};
