#include "nw/nwCHttpMessage.h"

#include <cstring>
#include <limits>
#include <vector>

#include "ut/utCUriCodec.h"

namespace {

// A part of `text` as a new string; `start` and `count` must lie inside it.
ovCString Slice(const char* text, std::uint32_t start, std::uint32_t count)
{
    return ovCString(text + start, count);
}

const char* FindByte(const char* text, std::uint32_t length, char byte)
{
    return static_cast<const char*>(std::memchr(text, byte, length));
}

ovCString Trimmed(const char* text, std::uint32_t length)
{
    std::uint32_t start = 0;
    while (start < length && (text[start] == ' ' || text[start] == '\t')) {
        ++start;
    }
    while (length > start && (text[length - 1] == ' ' || text[length - 1] == '\t')) {
        --length;
    }
    return Slice(text, start, length - start);
}

} // namespace

void nwCHttpMessage::Clear()
{
    *this = nwCHttpMessage();
}

void nwCHttpMessage::Parse(const char* head, std::uint32_t length)
{
    Clear();
    if (!head || length == 0) {
        return;
    }
    m_rawHead.Assign(head, length);
    // Lines end at LF; every CR is dropped.
    std::vector<char> line;
    nwForEachPiece(head, length, '\n', [&](const char* piece, std::uint32_t pieceLength) {
        line.clear();
        for (std::uint32_t i = 0; i < pieceLength; ++i) {
            if (piece[i] != '\r') {
                line.push_back(piece[i]);
            }
        }
        if (!line.empty()) {
            AddLine(line.data(), static_cast<std::uint32_t>(line.size()));
        }
    });
}

void nwCHttpMessage::AddLine(const char* line, std::uint32_t length)
{
    const char* space = FindByte(line, length, ' ');
    if (!space) {
        return;
    }
    const auto nameLength = static_cast<std::uint32_t>(space - line);
    ovCString name = Slice(line, 0, nameLength);
    const ovCString rawValue = Slice(line, nameLength + 1, length - nameLength - 1);
    ovCString value = utCUriCodec::DecodeString(rawValue);

    if (!m_sawRequestLine && m_headers.empty() && (name.Equals("GET") || name.Equals("POST"))) {
        m_sawRequestLine = true;
        ParseRequestLine(name, rawValue);
    } else if (nwEqualsNoCase(name.GetString(), "Content-Type:")) {
        ParseContentType(value);
    } else if (nwEqualsNoCase(name.GetString(), "Content-Encoding:")) {
        ParseContentEncoding(value);
    }
    m_headers.push_back({std::move(name), std::move(value)});
}

void nwCHttpMessage::ParseRequestLine(const ovCString& method, const ovCString& rest)
{
    (void)method;
    // "<target> <version>"
    const char* text = rest.GetString();
    const std::uint32_t length = rest.GetLength();
    const char* space = FindByte(text, length, ' ');
    const auto targetLength = space ? static_cast<std::uint32_t>(space - text) : length;
    m_rawTarget = Slice(text, 0, targetLength);
    if (space) {
        m_version = Slice(text, targetLength + 1, length - targetLength - 1);
    }
    m_target = utCUriCodec::DecodeString(m_rawTarget);

    const char* question = FindByte(m_rawTarget.GetString(), targetLength, '?');
    if (!question) {
        m_path = m_target;
        return;
    }
    const auto pathLength = static_cast<std::uint32_t>(question - m_rawTarget.GetString());
    m_path = utCUriCodec::DecodeString(m_rawTarget.GetString(), pathLength);
    m_rawQuery = Slice(m_rawTarget.GetString(), pathLength + 1, targetLength - pathLength - 1);
    m_query = utCUriCodec::DecodeString(m_rawQuery);

    nwForEachQueryPair(m_rawQuery.GetString(), m_rawQuery.GetLength(),
                       [&](const char* name, std::uint32_t nameLength, const char* value, std::uint32_t valueLength) {
                           m_queryParameters.push_back({utCUriCodec::DecodeString(name, nameLength),
                                                        utCUriCodec::DecodeString(value, valueLength)});
                       });
}

void nwCHttpMessage::ParseContentType(const ovCString& value)
{
    const int at = value.Find("boundary");
    if (at < 0) {
        return;
    }
    const char* text = value.GetString();
    const char* equals = FindByte(text + at, value.GetLength() - static_cast<std::uint32_t>(at), '=');
    if (!equals) {
        return;
    }
    const auto start = static_cast<std::uint32_t>(equals - text) + 1;
    const char* semicolon = FindByte(text + start, value.GetLength() - start, ';');
    const std::uint32_t end = semicolon ? static_cast<std::uint32_t>(semicolon - text) : value.GetLength();
    m_boundary = Trimmed(text + start, end - start);
}

void nwCHttpMessage::ParseContentEncoding(const ovCString& value)
{
    nwForEachPiece(value.GetString(), value.GetLength(), ',', [&](const char* piece, std::uint32_t pieceLength) {
        ovCString token = Trimmed(piece, pieceLength);
        if (!token.IsEmpty()) {
            m_contentEncodings.push_back(std::move(token));
        }
    });
}

const ovCString* nwCHttpMessage::FindHeader(const char* name) const
{
    if (!name || !*name) {
        return nullptr;
    }
    for (const nwHttpField& field : m_headers) {
        if (nwStartsWith(field.name.GetString(), name, true)) {
            return &field.value;
        }
    }
    return nullptr;
}

int nwCHttpMessage::GetStatusCode() const
{
    if (m_headers.empty() || m_sawRequestLine) {
        return 0;
    }
    const ovCString& value = m_headers.front().value;
    const std::int64_t code = nwParseLeadingDecimal(value.GetString(), value.GetLength(), 999'999'999);
    return code < 0 ? 0 : static_cast<int>(code);
}

std::int64_t nwCHttpMessage::GetContentLength() const
{
    const ovCString* value = FindHeader("Content-Length");
    if (!value) {
        return 0;
    }
    const std::int64_t length =
        nwParseLeadingDecimal(value->GetString(), value->GetLength(), std::numeric_limits<std::int64_t>::max());
    return length < 0 ? 0 : length;
}
