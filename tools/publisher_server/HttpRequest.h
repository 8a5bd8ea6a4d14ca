#pragma once
// What the publisher server reads of a request: the request line, the two
// headers it acts on, the target path and a byte range.
#include <cstdint>
#include <string>

namespace publisher {

struct Request {
    std::string method, target, version;
    std::string range, connection;
};

// Parses a request head (request line and headers, up to and including the
// blank line). False when the request line is malformed.
bool parseRequestHead(const std::string& head, Request& r);

// "bytes=N-" or "bytes=N-M" against a file of `size` bytes; the last byte is
// clamped to the file. False when the value is not such a range.
bool parseRange(const std::string& value, uint64_t size, uint64_t& first, uint64_t& last);

// "/a%20b/../c" -> false (no ".." segments); decodes %XX; strips the query.
bool decodeTargetPath(const std::string& target, std::string& path);

} // namespace publisher
