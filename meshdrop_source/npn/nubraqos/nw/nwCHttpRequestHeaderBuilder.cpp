#include "nw/nwCHttpRequestHeaderBuilder.h"

#include <windows.h>

#include <cstring>
#include <string>

#include "nw/nwHttpConstants.h"
#include "ut/utCUriCodec.h"
#include "ut/utCodePage.h"

namespace {

// The path in UTF-8. A path the system code page cannot read is used as it is.
std::string ToUtf8(const char* text, std::uint32_t length)
{
    return utConvertCodePage(text, length, CP_ACP, CP_UTF8);
}

} // namespace

bool nwCHttpRequestHeaderBuilder::IsRequestLineMarker(const char* name)
{
    return std::strcmp(name, "GET") == 0 || std::strcmp(name, "POST") == 0;
}

bool nwCHttpRequestHeaderBuilder::AddHeader(const char* name, const char* value)
{
    if (!name || !*name || !value || !*value) {
        return false;
    }
    if (!IsRequestLineMarker(name)) {
        m_headers.push_back({ovCString(name), ovCString(value)});
        return true;
    }
    const char* question = std::strchr(value, '?');
    const ovCString path = question ? ovCString(value, static_cast<std::uint32_t>(question - value)) : ovCString(value);
    if (question) {
        AddQuery(question + 1, static_cast<std::uint32_t>(std::strlen(question + 1)));
    }
    for (Entry& entry : m_headers) {
        if (entry.name.Equals(name)) {
            entry.value = path;
            return true;
        }
    }
    m_headers.push_back({ovCString(name), path});
    return true;
}

void nwCHttpRequestHeaderBuilder::AddQuery(const char* query, std::uint32_t length)
{
    // Values are kept as given.
    nwForEachQueryPair(
        query, length, [&](const char* name, std::uint32_t nameLength, const char* value, std::uint32_t valueLength) {
            AddParameter(ovCString(name, nameLength).GetString(), ovCString(value, valueLength).GetString());
        });
}

bool nwCHttpRequestHeaderBuilder::AddParameter(const char* name, const char* value)
{
    if (!name || !*name || !value || !*value) {
        return false;
    }
    for (nwHttpField& parameter : m_parameters) {
        if (nwEqualsNoCase(parameter.name.GetString(), name)) {
            parameter.value = value;
            return true;
        }
    }
    m_parameters.push_back({ovCString(name), ovCString(value)});
    return true;
}

ovCString nwCHttpRequestHeaderBuilder::BuildTarget() const
{
    const ovCString* path = nullptr;
    for (const char* marker : {"GET", "POST"}) {
        for (const Entry& entry : m_headers) {
            if (!path && entry.name.Equals(marker)) {
                path = &entry.value;
            }
        }
    }
    ovCString target;
    if (path) {
        const std::string utf8 = ToUtf8(path->GetString(), path->GetLength());
        std::size_t start = 0;
        while (start <= utf8.size()) {
            std::size_t slash = utf8.find('/', start);
            if (slash == std::string::npos) {
                slash = utf8.size();
            }
            if (slash > start) {
                target.Append("/");
                target.Append(
                    utCUriCodec::EncodeString(utf8.data() + start, static_cast<std::uint32_t>(slash - start)));
            }
            start = slash + 1;
        }
    }
    if (target.IsEmpty()) {
        target.Assign("/");
    }
    for (std::size_t i = 0; i < m_parameters.size(); ++i) {
        target.Append(i == 0 ? "?" : "&");
        target.Append(utCUriCodec::EncodeString(m_parameters[i].name));
        target.Append("=");
        target.Append(utCUriCodec::EncodeString(m_parameters[i].value));
    }
    return target;
}

void nwCHttpRequestHeaderBuilder::EmitRequestStart(ovCString* out, const char* method)
{
    StartBuild();
    out->Append(method);
    out->Append(" ");
    out->Append(m_origin);
    out->Append(BuildTarget());
    out->Append(" ");
    out->Append(kHttpVersion);
    out->Append("\r\n");
    EmitStandard(out, "Accept", kHttpAccept);
    EmitStandard(out, "Referer", kHttpReferer);
    EmitStandard(out, "Accept-Language", kHttpAcceptLanguage);
}

void nwCHttpRequestHeaderBuilder::EmitHeader(ovCString* out, const char* name, const char* value)
{
    out->Append(name);
    out->Append(":");
    out->Append(" ");
    out->Append(value);
    out->Append("\r\n");
}

void nwCHttpRequestHeaderBuilder::EmitStandard(ovCString* out, const char* name, const char* defaultValue)
{
    for (Entry& entry : m_headers) {
        if (!IsRequestLineMarker(entry.name.GetString()) && nwEqualsNoCase(entry.name.GetString(), name)) {
            entry.emitted = true;
            EmitHeader(out, name, entry.value.GetString());
            return;
        }
    }
    if (defaultValue) {
        EmitHeader(out, name, defaultValue);
    }
}

void nwCHttpRequestHeaderBuilder::EmitOthers(ovCString* out)
{
    for (Entry& entry : m_headers) {
        if (entry.emitted) {
            continue;
        }
        entry.emitted = true;
        // Credentials go out as given: Base64 must not be percent-encoded.
        if (entry.name.Equals("Cookie") || entry.name.Equals("Proxy-Authorization")) {
            EmitHeader(out, entry.name.GetString(), entry.value.GetString());
        } else {
            EmitHeader(out, entry.name.GetString(), utCUriCodec::EncodeString(entry.value).GetString());
        }
    }
}

void nwCHttpRequestHeaderBuilder::StartBuild()
{
    for (Entry& entry : m_headers) {
        entry.emitted = IsRequestLineMarker(entry.name.GetString());
    }
}
