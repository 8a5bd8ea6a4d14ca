#include "TlsCases.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

namespace {
constexpr const char* kLocalNames = "DNS:localhost,IP:127.0.0.1";
}

TlsCases::TlsCases()
{
    good_ = trusted_.issue("localhost", kLocalNames);
    otherHost_ = trusted_.issue("other.invalid", "DNS:other.invalid");
    expired_ = trusted_.issue("localhost", kLocalNames, -1);
    unknown_ = stranger_.issue("localhost", kLocalNames);
    if (!trusted_.ok())
        error_ = trusted_.error();
    else if (!stranger_.ok())
        error_ = stranger_.error();
    trusted_.trustInThisProcess();
}

NginxServer::Tls TlsCases::settings(TlsCase which) const
{
    NginxServer::Tls tls;
    const ServerCertificate* chosen = &good_;
    switch (which) {
    case TlsCase::Good:
        break;
    case TlsCase::OtherHost:
        chosen = &otherHost_;
        break;
    case TlsCase::UnknownAuthority:
        chosen = &unknown_;
        break;
    case TlsCase::Expired:
        chosen = &expired_;
        break;
    case TlsCase::OnlyTls10:
        // OpenSSL 3 refuses TLS 1.0 at security level 1 and above, on the
        // server as on the client: level 0 lets this server offer it.
        tls.protocols = "TLSv1";
        tls.ciphers = "DEFAULT@SECLEVEL=0";
        break;
    }
    tls.certificate = chosen->certificate;
    tls.key = chosen->key;
    return tls;
}

const char* TlsCases::name(TlsCase which)
{
    switch (which) {
    case TlsCase::Good:
        return "Good";
    case TlsCase::OtherHost:
        return "OtherHost";
    case TlsCase::UnknownAuthority:
        return "UnknownAuthority";
    case TlsCase::Expired:
        return "Expired";
    case TlsCase::OnlyTls10:
        return "OnlyTls10";
    }
    return "?";
}

std::string tls10HandshakeVersion(uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    std::string version;
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    if (ctx && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        SSL_CTX_set_security_level(ctx, 0);
        SSL_CTX_set_min_proto_version(ctx, TLS1_VERSION);
        SSL_CTX_set_max_proto_version(ctx, TLS1_VERSION);
        SSL_CTX_set_cipher_list(ctx, "DEFAULT@SECLEVEL=0");
        SSL* ssl = SSL_new(ctx);
        SSL_set_fd(ssl, fd);
        if (SSL_connect(ssl) == 1)
            version = SSL_get_version(ssl);
        SSL_free(ssl);
    }
    SSL_CTX_free(ctx);
    ::close(fd);
    return version;
}

} // namespace testsupport
