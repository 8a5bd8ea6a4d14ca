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
    bool first = true;
    bool sawFirstLine = false;
    nwForEachPiece(head, length, '\n', [&](const char* piece, std::uint32_t pieceLength) {
        line.clear();
        for (std::uint32_t i = 0; i < pieceLength; ++i) {
            if (piece[i] != '\r') {
                line.push_back(piece[i]);
            }
        }
        if (first) {
            m_statusLine = IsStatusLine(line.data(), static_cast<std::uint32_t>(line.size()));
        }
        if (!line.empty()) {
            const auto lineLength = static_cast<std::uint32_t>(line.size());
            if (!sawFirstLine) {
                sawFirstLine = true;
                AddFirstLine(line.data(), lineLength);
            } else {
                AddHeaderLine(line.data(), lineLength);
            }
        }
        first = false;
    });
}

void nwCHttpMessage::AddFirstLine(const char* line, std::uint32_t length)
{
    const char* space = FindByte(line, length, ' ');
    if (!space) {
        return;
    }
    const auto nameLength = static_cast<std::uint32_t>(space - line);
    ovCString name = Slice(line, 0, nameLength);
    const ovCString rawValue = Slice(line, nameLength + 1, length - nameLength - 1);
    if (!m_sawRequestLine && (name.Equals("GET") || name.Equals("POST"))) {
        m_sawRequestLine = true;
        ParseRequestLine(name, rawValue);
    }
    AddField(std::move(name), rawValue);
}

void nwCHttpMessage::AddHeaderLine(const char* line, std::uint32_t length)
{
    // A line without a colon, or one that continues the previous line (an
    // obsolete folding), is no header.
    const char* colon = FindByte(line, length, ':');
    if (!colon || line[0] == ' ' || line[0] == '\t') {
        return;
    }
    const auto nameLength = static_cast<std::uint32_t>(colon - line) + 1;
    AddField(Slice(line, 0, nameLength), Trimmed(line + nameLength, length - nameLength));
}

void nwCHttpMessage::AddField(ovCString name, const ovCString& rawValue)
{
    ovCString value = utCUriCodec::DecodeString(rawValue);
    if (nwEqualsNoCase(name.GetString(), "Content-Type:")) {
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
    std::int64_t length = -1;
    for (const nwHttpField& field : m_headers) {
        if (nwEqualsNoCase(field.name.GetString(), "Transfer-Encoding:")) {
            return 0;
        }
        if (!nwEqualsNoCase(field.name.GetString(), "Content-Length:")) {
            continue;
        }
        // A list of lengths ("5, 5") is as good as one when they agree.
        bool usable = true;
        nwForEachPiece(
            field.value.GetString(), field.value.GetLength(), ',', [&](const char* piece, std::uint32_t pieceLength) {
                const ovCString text = Trimmed(piece, pieceLength);
                const std::int64_t value =
                    nwParseLeadingDecimal(text.GetString(), text.GetLength(), std::numeric_limits<std::int64_t>::max());
                if (value < 0 || std::strspn(text.GetString(), "0123456789") != text.GetLength() ||
                    (length >= 0 && value != length)) {
                    usable = false;
                } else {
                    length = value;
                }
            });
        if (!usable || field.value.IsEmpty()) {
            return 0;
        }
    }
    return length < 0 ? 0 : length;
}

bool nwCHttpMessage::IsChunked() const
{
    ovCString last;
    for (const nwHttpField& field : m_headers) {
        if (!nwEqualsNoCase(field.name.GetString(), "Transfer-Encoding:")) {
            continue;
        }
        nwForEachPiece(field.value.GetString(), field.value.GetLength(), ',',
                       [&](const char* piece, std::uint32_t pieceLength) {
                           ovCString token = Trimmed(piece, pieceLength);
                           if (!token.IsEmpty()) {
                               last = std::move(token);
                           }
                       });
    }
    return nwEqualsNoCase(last.GetString(), "chunked");
}

bool nwCHttpMessage::IsStatusLine(const char* line, std::uint32_t length)
{
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (length < 12 || std::memcmp(line, "HTTP/1.", 7) != 0 || !digit(line[7]) || line[8] != ' ') {
        return false;
    }
    return digit(line[9]) && digit(line[10]) && digit(line[11]) && (length == 12 || line[12] == ' ');
}
