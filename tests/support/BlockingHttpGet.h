#pragma once
// A plain blocking HTTP client for checking servers from tests: one request
// with "Connection: close", read until the server closes.
#include <cstdint>
#include <string>

namespace testsupport {

// "GET target HTTP/1.1" to 127.0.0.1:port with extra header lines (each ending
// in CR LF); the whole response, empty when the connection failed.
std::string blockingHttpGet(uint16_t port, const std::string& target, const std::string& extraHeaders = "");
// The same to address:port, an address of either family ("::1").
std::string blockingHttpGet(const std::string& address, uint16_t port, const std::string& target,
                            const std::string& extraHeaders = "");

// The body of a whole response (after the blank line), empty without one.
std::string responseBody(const std::string& response);

} // namespace testsupport
