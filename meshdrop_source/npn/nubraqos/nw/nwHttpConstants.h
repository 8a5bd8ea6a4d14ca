#pragma once
// The fixed values of the HTTP client's requests and the bound on what it
// accepts as a response head.

#include <cstdint>

inline constexpr char kHttpVersion[] = "HTTP/1.1";
inline constexpr char kHttpAccept[] = "*/*";
// The maker's peer-network web site, sent as the Referer of every request.
inline constexpr char kHttpReferer[] = "http://www.nubrapeer.com";
inline constexpr char kHttpAcceptLanguage[] = "ko";
inline constexpr char kHttpUserAgent[] = "NubraClient";
inline constexpr char kHttpConnection[] = "Keep-Alive";
inline constexpr char kHttpDefaultMimeType[] = "application/octet-stream";

// Request kinds of the header builders.
inline constexpr int HTTP_REQUEST_GET = 1;
inline constexpr int HTTP_REQUEST_POST = 2;

// A response head that has not ended (blank line included) within this many
// bytes is refused and the connection closed.
inline constexpr std::uint32_t kHttpMaxResponseHead = 64 * 1024;

// A line of the chunked coding's framing (a chunk's size with its extensions,
// a trailer field) longer than this is refused and the connection closed.
inline constexpr std::uint32_t kHttpMaxChunkLine = 4096;
