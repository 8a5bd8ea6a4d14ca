#include "nw/nwCHttpGETHeaderBuilder.h"

void nwCHttpGETHeaderBuilder::Build(ovCString* out)
{
    StartBuild();
    out->Append("GET ");
    out->Append(BuildTarget());
    out->Append(" ");
    out->Append(kHttpVersion);
    out->Append("\r\n");
    EmitStandard(out, "Accept", kHttpAccept);
    EmitStandard(out, "Referer", kHttpReferer);
    EmitStandard(out, "Accept-Language", kHttpAcceptLanguage);
    EmitStandard(out, "User-Agent", kHttpUserAgent);
    EmitStandard(out, "Range", nullptr);
    EmitStandard(out, "Host", nullptr);
    EmitStandard(out, "Connection", kHttpConnection);
    EmitOthers(out);
    out->Append("\r\n");
}
