#pragma once
// The head of a multipart POST that uploads one part named "attach_file": the
// request line and headers, then the opening of the multipart body (the part's
// own head). The trailer closes the multipart body after the caller's bytes.
//
// The announced Content-Length covers the part head, the body and the closing
// boundary line without its final CR LF, which is sent but not counted.

#include "nw/nwCHttpRequestHeaderBuilder.h"
#include "nw/nwHttpConstants.h"

class nwCHttpPOSTHeaderBuilder : public nwCHttpRequestHeaderBuilder {
public:
    // Makes the boundary: 27 hyphens and two numbers of the C library's
    // generator, 16 uppercase hexadecimal digits in all.
    nwCHttpPOSTHeaderBuilder();

    void Build(ovCString* out) override;
    void BuildTrailer(ovCString* out) override;

    const ovCString& GetBoundary() const { return m_boundary; }
    // For tests: a fixed boundary instead of the generated one.
    void SetBoundary(const char* boundary) { m_boundary = boundary; }

private:
    ovCString BuildPartHead() const;

    ovCString m_boundary;
};
