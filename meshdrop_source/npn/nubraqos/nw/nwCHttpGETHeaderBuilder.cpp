#include "nw/nwCHttpGETHeaderBuilder.h"

void nwCHttpGETHeaderBuilder::Build(ovCString* out)
{
    EmitRequestStart(out, "GET");
    EmitStandard(out, "User-Agent", kHttpUserAgent);
    EmitStandard(out, "Range", nullptr);
    EmitStandard(out, "Host", nullptr);
    EmitStandard(out, "Connection", kHttpConnection);
    EmitOthers(out);
    out->Append("\r\n");
}
