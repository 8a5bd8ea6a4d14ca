#pragma once
// Builds the head of one HTTP/1.1 request from a list of request headers and
// query parameters. The request header named "GET" (or "POST") is no real
// header: its value is the request path, and a "?" in it carries query
// parameters. Standard headers go out at fixed places with their default
// values unless a request header of the same name replaces the value; every
// other request header follows in the order added, its value percent-encoded
// (except "Cookie" and "Proxy-Authorization").

#include <cstdint>
#include <vector>

#include "nw/nwHttpText.h"
#include "ov/ovCString.h"

class nwCHttpRequestHeaderBuilder {
public:
    explicit nwCHttpRequestHeaderBuilder(int requestKind) : m_requestKind(requestKind) {}
    virtual ~nwCHttpRequestHeaderBuilder() = default;
    nwCHttpRequestHeaderBuilder(const nwCHttpRequestHeaderBuilder&) = delete;
    nwCHttpRequestHeaderBuilder& operator=(const nwCHttpRequestHeaderBuilder&) = delete;

    // Appends the request head to *out.
    virtual void Build(ovCString* out) = 0;
    // Appends what follows the body to *out (nothing for a GET).
    virtual void BuildTrailer(ovCString* out) = 0;

    // Both must be non-empty. A "GET"/"POST" value is split at "?": the path
    // stays, the query becomes parameters (pairs without "=" are dropped).
    bool AddHeader(const char* name, const char* value);
    // Both must be non-empty; replaces a parameter of the same name (ASCII
    // case ignored).
    bool AddParameter(const char* name, const char* value);
    void SetBodyLength(std::int64_t length) { m_bodyLength = length; }
    // "http://host[:port]" to put in front of the target: the absolute form
    // a request to an HTTP proxy takes. Empty (the default) for none.
    void SetTargetOrigin(const char* origin) { m_origin.Assign(origin ? origin : ""); }
    std::int64_t GetBodyLength() const { return m_bodyLength; }
    int GetRequestKind() const { return m_requestKind; }

    // "/" + Encode(piece) for each non-empty piece of the path (converted to
    // UTF-8), "/" for none; then "?" and the encoded parameters when any.
    ovCString BuildTarget() const;

protected:
    // Starts a build: the request line for `method`, then Accept, Referer and
    // Accept-Language, which every request begins with.
    void EmitRequestStart(ovCString* out, const char* method);
    // name ": " value CR LF
    static void EmitHeader(ovCString* out, const char* name, const char* value);
    // A standard header: the value of a request header of that name (ASCII
    // case ignored), else `defaultValue`; nothing when neither exists.
    void EmitStandard(ovCString* out, const char* name, const char* defaultValue);
    // Every request header not yet emitted, in the order added.
    void EmitOthers(ovCString* out);

private:
    // Marks the request-line markers as emitted and clears the other marks.
    void StartBuild();
    struct Entry {
        ovCString name;
        ovCString value;
        bool emitted = false;
    };
    static bool IsRequestLineMarker(const char* name);
    void AddQuery(const char* query, std::uint32_t length);

    int m_requestKind;
    std::vector<Entry> m_headers;
    nwHttpFieldList m_parameters;
    std::int64_t m_bodyLength = 0;
    ovCString m_origin;
};
