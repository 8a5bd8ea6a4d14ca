#pragma once
// A parsed HTTP head. Every non-empty line is stored as (name, value) with the
// value percent-decoded. The first line is split at its first space, so a
// response's status line is the first entry, its name the version
// ("HTTP/1.1") and its value the code and reason ("206 Partial Content").
// Header lines are split at their colon, as HTTP/1.1 reads them: the name
// keeps the colon ("Content-Length:"), and the spaces and tabs around the
// value are dropped ("Content-Length:5" has the value "5"). FindHeader
// compares lower-cased names by prefix; the body's framing is read from
// headers of exactly the right name.

#include <cstdint>

#include "nw/nwHttpText.h"
#include "ov/ovCString.h"

class nwCHttpMessage {
public:
    void Clear();
    // Parses `length` bytes of a head (normally ending with the blank line).
    void Parse(const char* head, std::uint32_t length);

    // The value of the first entry whose lower-cased name starts with `name`
    // lower-cased; null for an empty name or no match.
    const ovCString* FindHeader(const char* name) const;
    // The digits at the start of the status line's value; 0 without a head,
    // without digits, or for a number of more than 9 digits.
    int GetStatusCode() const;
    // The value of the "Content-Length:" headers; 0 when there is none, when
    // a value is not a plain decimal number within the 64-bit range, when two
    // values differ (a length that cannot be believed must not be used), or
    // when the body has a Transfer-Encoding (its length is not the body's).
    std::int64_t GetContentLength() const;
    // Whether the body comes in the chunked coding: the last coding of the
    // "Transfer-Encoding:" headers is "chunked".
    bool IsChunked() const;
    // Whether the first line has the form of a status line: "HTTP/1." and a
    // digit, a space, three digits, then a space or the end.
    bool HasStatusLine() const { return m_statusLine; }
    static bool IsStatusLine(const char* line, std::uint32_t length);

    const nwHttpFieldList& GetHeaders() const { return m_headers; }
    const nwHttpFieldList& GetQueryParameters() const { return m_queryParameters; }
    const ovCString& GetRawHead() const { return m_rawHead; }
    bool HasHead() const { return !m_rawHead.IsEmpty(); }
    const ovCString& GetBoundary() const { return m_boundary; }
    const std::vector<ovCString>& GetContentEncodings() const { return m_contentEncodings; }
    // Request heads only.
    const ovCString& GetTarget() const { return m_target; }
    const ovCString& GetRawTarget() const { return m_rawTarget; }
    const ovCString& GetVersion() const { return m_version; }
    const ovCString& GetPath() const { return m_path; }
    const ovCString& GetQuery() const { return m_query; }
    const ovCString& GetRawQuery() const { return m_rawQuery; }

private:
    void AddFirstLine(const char* line, std::uint32_t length);
    void AddHeaderLine(const char* line, std::uint32_t length);
    void AddField(ovCString name, const ovCString& rawValue);
    void ParseRequestLine(const ovCString& method, const ovCString& rest);
    void ParseContentType(const ovCString& value);
    void ParseContentEncoding(const ovCString& value);

    nwHttpFieldList m_headers;
    nwHttpFieldList m_queryParameters;
    ovCString m_target;    // request target, decoded
    ovCString m_rawTarget; // request target as received
    ovCString m_version;
    ovCString m_path;  // without the query
    ovCString m_query; // decoded
    ovCString m_rawQuery;
    ovCString m_boundary; // multipart boundary of a Content-Type
    std::vector<ovCString> m_contentEncodings;
    ovCString m_rawHead;
    bool m_sawRequestLine = false;
    bool m_statusLine = false;
};
