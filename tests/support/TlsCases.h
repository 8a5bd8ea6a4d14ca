#pragma once
// The TLS servers the tests need, as nginx settings: a certificate the client
// must accept (for 127.0.0.1 and localhost, from the authority this process
// trusts) and each kind it must refuse. Construction makes the certificates
// and makes this process trust the test authority only.
#include <string>

#include "NginxServer.h"
#include "TestCertificates.h"

namespace testsupport {

enum class TlsCase {
    Good,
    OtherHost,        // valid, from the trusted authority, for another host
    UnknownAuthority, // for 127.0.0.1, from an authority nobody trusts
    Expired,          // for 127.0.0.1, from the trusted authority, expired
    OnlyTls10,        // the good certificate, but the server speaks TLS 1.0 only
};

class TlsCases {
public:
    TlsCases();
    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    NginxServer::Tls settings(TlsCase which) const;
    const TestCertificates& trusted() const { return trusted_; }
    const TestCertificates& stranger() const { return stranger_; }

    // The refused cases, and a name for each case (usable in test names).
    static constexpr TlsCase kRefused[] = {TlsCase::OtherHost, TlsCase::UnknownAuthority, TlsCase::Expired,
                                           TlsCase::OnlyTls10};
    static const char* name(TlsCase which);

private:
    TestCertificates trusted_;
    TestCertificates stranger_;
    ServerCertificate good_, otherHost_, unknown_, expired_;
    std::string error_;
};

// Handshakes with a blocking OpenSSL client that allows TLS 1.0 only (no
// certificate check) and answers the version agreed, or empty when none: the
// proof that a server offering only TLS 1.0 really speaks it.
std::string tls10HandshakeVersion(uint16_t port);

} // namespace testsupport
