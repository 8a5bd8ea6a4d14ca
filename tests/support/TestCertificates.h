#pragma once
// A certificate authority of the test's own and server certificates signed by
// it, made with the openssl command in a temporary folder. A process trusts
// the authority through OpenSSL's standard SSL_CERT_FILE.
#include <string>

#include "TempDir.h"

namespace testsupport {

struct ServerCertificate {
    std::string certificate; // PEM file
    std::string key;         // PEM file
};

class TestCertificates {
public:
    TestCertificates(); // makes the authority
    TestCertificates(const TestCertificates&) = delete;
    TestCertificates& operator=(const TestCertificates&) = delete;

    // False with a reason in error() when the openssl command failed.
    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    // The authority's certificate (PEM file).
    const std::string& authority() const { return authority_; }

    // A server certificate named `name`, valid for the subjectAltName list
    // `altNames` (for example "DNS:localhost,IP:127.0.0.1") for `days` days;
    // -1 gives one that has already expired. Empty paths on failure.
    ServerCertificate issue(const std::string& name, const std::string& altNames, int days = 30);

    // Makes this process trust the authority (and nothing else) from now on.
    void trustInThisProcess() const;

private:
    bool run(const std::string& what, const std::string& arguments);

    TempDir dir_{"meshdrop-certs"};
    std::string authority_;
    std::string authorityKey_;
    std::string error_;
    int issued_ = 0;
};

} // namespace testsupport
