#include "nw/nwCHttpPOSTHeaderBuilder.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include "nw/nwCHttpMimeTypeMap.h"

namespace {

constexpr char kBoundaryPrefix[] = "---------------------------";
constexpr char kPartName[] = "attach_file";
constexpr char kPartFileName[] = "unknown";

} // namespace

nwCHttpPOSTHeaderBuilder::nwCHttpPOSTHeaderBuilder() : nwCHttpRequestHeaderBuilder(HTTP_REQUEST_POST)
{
    char digits[17];
    std::snprintf(digits, sizeof(digits), "%08X%08X", static_cast<unsigned>(std::rand()),
                  static_cast<unsigned>(std::rand()));
    m_boundary = kBoundaryPrefix;
    m_boundary.Append(digits);
}

ovCString nwCHttpPOSTHeaderBuilder::BuildPartHead() const
{
    ovCString part("--");
    part.Append(m_boundary);
    part.Append("\r\n");
    if (GetBodyLength() <= 0) {
        return part;
    }
    part.Append("Content-Disposition: form-data; name=");
    part.Append(kPartName);
    part.Append("; filename=");
    part.Append(kPartFileName);
    part.Append("\r\nContent-Type: ");
    part.Append(nwCHttpMimeTypeMap::GetMimeTypeMap()->Lookup(kPartFileName));
    part.Append("\r\n");
    return part;
}

void nwCHttpPOSTHeaderBuilder::Build(ovCString* out)
{
    const ovCString partHead = BuildPartHead();
    EmitRequestStart(out, "POST");
    ovCString contentType("multipart/form-data; boundary=");
    contentType.Append(m_boundary);
    EmitStandard(out, "Content-Type", contentType.GetString());
    EmitStandard(out, "User-Agent", kHttpUserAgent);
    EmitStandard(out, "Host", nullptr);
    const char* contentLength = nullptr;
    char digits[24];
    if (GetBodyLength() > 0) {
        // part head, CR LF, body, CR LF "--" boundary "--" (the last CR LF is not counted)
        const std::int64_t total = static_cast<std::int64_t>(partHead.GetLength()) + 2 + 2 +
                                   static_cast<std::int64_t>(m_boundary.GetLength()) + 2 + 2 + GetBodyLength();
        std::snprintf(digits, sizeof(digits), "%" PRId64, total);
        contentLength = digits;
    }
    EmitStandard(out, "Content-Length", contentLength);
    EmitStandard(out, "Connection", kHttpConnection);
    EmitOthers(out);
    out->Append("\r\n");
    out->Append(partHead);
    out->Append("\r\n");
}

void nwCHttpPOSTHeaderBuilder::BuildTrailer(ovCString* out)
{
    out->Append("\r\n--");
    out->Append(m_boundary);
    out->Append("--\r\n");
}
