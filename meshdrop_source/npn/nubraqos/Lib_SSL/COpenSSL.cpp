#include "Lib_SSL/COpenSSL.h"

#include <arpa/inet.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>

#include "Lib_SSL/SSLCertificates.h"
#include "Lib_SSL/SSLRuntime.h"

namespace {

std::atomic<int> g_liveCount{0};

bool IsAddressLiteral(const char* host)
{
    unsigned char address[sizeof(in6_addr)];
    return inet_pton(AF_INET, host, address) == 1 || inet_pton(AF_INET6, host, address) == 1;
}

COpenSSL* WrapperOf(BIO* bio)
{
    return static_cast<COpenSSL*>(BIO_get_data(bio));
}

} // namespace

COpenSSL::COpenSSL(const Callbacks& callbacks, const cpEndpoint& remote) : m_callbacks(callbacks), m_remote(remote)
{
    ++g_liveCount;
}

COpenSSL::~COpenSSL()
{
    SSL_free(m_ssl); // frees both BIOs with it
    SSL_CTX_free(m_ctx);
    if (m_holdsMethod) {
        SSLRuntime::ReleaseBioMethod();
    }
    --g_liveCount;
}

int COpenSSL::GetLiveCount()
{
    return g_liveCount.load();
}

std::unique_ptr<COpenSSL> COpenSSL::Create(const Callbacks& callbacks, const cpEndpoint& remote, const char* hostName,
                                           std::string* failure)
{
    std::unique_ptr<COpenSSL> wrapper(new COpenSSL(callbacks, remote));
    if (!wrapper->Setup(hostName, failure)) {
        return nullptr;
    }
    return wrapper;
}

bool COpenSSL::Setup(const char* hostName, std::string* failure)
{
    auto fail = [&](const char* why) {
        if (failure) {
            *failure = why;
        }
        return false;
    };
    BIO_METHOD* method = SSLRuntime::AcquireBioMethod();
    if (!method) {
        return fail("TLS library not started");
    }
    m_holdsMethod = true;
    if (!hostName || !*hostName) {
        return fail("no host name to verify");
    }
    ERR_clear_error();
    m_ctx = SSL_CTX_new(TLS_client_method());
    if (!m_ctx || SSL_CTX_set_min_proto_version(m_ctx, TLS1_2_VERSION) != 1) {
        return fail("cannot make the TLS context");
    }
    SSL_CTX_set_verify(m_ctx, SSL_VERIFY_PEER, nullptr);
    SSL_CTX_set_default_verify_paths(m_ctx);
    SSLCertificates::AddTrusted(SSL_CTX_get_cert_store(m_ctx), hostName);

    m_ssl = SSL_new(m_ctx);
    if (!m_ssl) {
        return fail("cannot make the TLS connection");
    }
    SSL_set_app_data(m_ssl, this);
    SSL_set_info_callback(m_ssl, &COpenSSL::OnInfo);
    SSL_set_hostflags(m_ssl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    if (IsAddressLiteral(hostName)) {
        // An address is checked against the certificate's IP entries and is
        // never sent as a server name.
        if (X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(m_ssl), hostName) != 1) {
            return fail("cannot set the address to verify");
        }
    } else if (SSL_set_tlsext_host_name(m_ssl, hostName) != 1 || SSL_set1_host(m_ssl, hostName) != 1) {
        return fail("cannot set the host name to verify");
    }

    BIO* readBio = BIO_new(method);
    BIO* writeBio = BIO_new(method);
    if (!readBio || !writeBio) {
        BIO_free(readBio);
        BIO_free(writeBio);
        return fail("cannot make the BIOs");
    }
    BIO_set_data(readBio, this);
    BIO_set_data(writeBio, this);
    SSL_set_bio(m_ssl, readBio, writeBio);
    m_plaintext = std::make_unique<std::uint8_t[]>(kReadSize);
    return true;
}

void COpenSSL::SetInput(const std::uint8_t* data, std::uint32_t length)
{
    m_input = data;
    m_inputLength = data ? length : 0;
    m_inputRead = 0;
}

COpenSSL::Result COpenSSL::Classify(int result)
{
    const int error = SSL_get_error(m_ssl, result);
    if (error == SSL_ERROR_WANT_READ) {
        return RESULT_WANT_READ;
    }
    m_error = ERR_peek_error();
    if (m_error == 0) {
        m_error = static_cast<unsigned long>(error) << 24; // no queued reason: keep the SSL error kind
    }
    return RESULT_FAILED;
}

COpenSSL::Result COpenSSL::Connect()
{
    ERR_clear_error();
    const int result = SSL_connect(m_ssl);
    if (result == 1) {
        if (m_callbacks.handshakeDone) {
            m_callbacks.handshakeDone(m_callbacks.user);
        }
        return RESULT_DONE;
    }
    return Classify(result);
}

COpenSSL::Result COpenSSL::Read()
{
    ERR_clear_error();
    const int result = SSL_read(m_ssl, m_plaintext.get(), static_cast<int>(kReadSize));
    if (result > 0) {
        if (m_callbacks.plaintextReceived) {
            m_callbacks.plaintextReceived(m_plaintext.get(), static_cast<std::uint32_t>(result), m_callbacks.user);
        }
        return RESULT_DONE;
    }
    return Classify(result);
}

bool COpenSSL::Write(const std::uint8_t* data, std::uint32_t length)
{
    while (length > 0) {
        const int piece = static_cast<int>(std::min<std::uint32_t>(length, INT_MAX));
        ERR_clear_error();
        const int result = SSL_write(m_ssl, data, piece);
        if (result <= 0) {
            Classify(result);
            return false;
        }
        data += result;
        length -= static_cast<std::uint32_t>(result);
    }
    return true;
}

std::string COpenSSL::DescribeFailure() const
{
    std::string text;
    const long verdict = m_ssl ? SSL_get_verify_result(m_ssl) : X509_V_OK;
    if (verdict != X509_V_OK) {
        text = std::string("certificate: ") + X509_verify_cert_error_string(verdict);
    }
    if (m_error != 0) {
        char reason[256];
        ERR_error_string_n(m_error, reason, sizeof reason);
        text += (text.empty() ? "" : "; ") + std::string(reason);
    }
    if (m_lastAlert) {
        text += (text.empty() ? "" : "; ") + std::string("alert: ") + m_lastAlert;
    }
    return text;
}

void COpenSSL::OnInfo(const SSL* ssl, int where, int value)
{
    // Only alerts are kept, for the failure text; handshake start and end
    // change nothing here.
    if (where & SSL_CB_ALERT) {
        if (auto* self = static_cast<COpenSSL*>(SSL_get_app_data(ssl))) {
            self->m_lastAlert = SSL_alert_desc_string_long(value);
        }
    }
}

int COpenSSL::BioWrite(BIO* bio, const char* data, int length)
{
    COpenSSL* self = WrapperOf(bio);
    if (!self || !data || length <= 0) {
        return 0;
    }
    if (self->m_callbacks.ciphertextToSend) {
        self->m_callbacks.ciphertextToSend(reinterpret_cast<const std::uint8_t*>(data),
                                           static_cast<std::uint32_t>(length), self->m_callbacks.user);
    }
    return length;
}

int COpenSSL::BioRead(BIO* bio, char* buffer, int size)
{
    BIO_clear_retry_flags(bio);
    COpenSSL* self = WrapperOf(bio);
    if (!self || !buffer || size <= 0) {
        return 0;
    }
    const std::uint32_t remaining = self->m_inputLength - self->m_inputRead;
    if (remaining == 0) {
        BIO_set_retry_read(bio);
        return -1;
    }
    const std::uint32_t count = std::min(remaining, static_cast<std::uint32_t>(size));
    std::memcpy(buffer, self->m_input + self->m_inputRead, count);
    self->m_inputRead += count;
    return static_cast<int>(count);
}

int COpenSSL::BioPuts(BIO* bio, const char* text)
{
    return text ? BioWrite(bio, text, static_cast<int>(std::strlen(text))) : 0;
}

long COpenSSL::BioCtrl(BIO* bio, int command, long number, void* pointer)
{
    (void)pointer;
    switch (command) {
    case BIO_CTRL_RESET:
        BIO_clear_flags(bio, ~0);
        return 0;
    case BIO_CTRL_GET_CLOSE:
        return BIO_get_shutdown(bio);
    case BIO_CTRL_SET_CLOSE:
        BIO_set_shutdown(bio, static_cast<int>(number));
        return 1;
    case BIO_CTRL_FLUSH:
    case BIO_CTRL_DUP:
        return 1;
    default:
        return 0;
    }
}

int COpenSSL::BioCreate(BIO* bio)
{
    BIO_set_init(bio, 1);
    return 1;
}

int COpenSSL::BioDestroy(BIO* bio)
{
    (void)bio;
    return 1;
}
