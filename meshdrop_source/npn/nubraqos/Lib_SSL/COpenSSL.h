#pragma once
// One TLS client connection on OpenSSL: its own SSL_CTX and SSL, joined to the
// TLS layer through two BIOs of the runtime's "orvane BIO" method, so that
// OpenSSL never touches the socket. Ciphertext that OpenSSL writes goes to a
// callback (the layer writes it down the stack); ciphertext from below is set
// as the current input and read by OpenSSL from memory.
//
// The server's certificate chain is verified against the system's trust store
// (OpenSSL's default paths, which honour SSL_CERT_FILE and SSL_CERT_DIR) and
// the built-in certificates listed for the host; the host name (or IP
// address) must match the certificate, the host name goes out as server name
// indication, and nothing older than TLS 1.2 is accepted. A verification
// failure fails the handshake.

#include <openssl/types.h>

#include <cstdint>
#include <memory>
#include <string>

#include "cp/cpSocketRecord.h"

class COpenSSL {
public:
    using HandshakeDoneFn = void (*)(void* user);
    using BytesFn = void (*)(const std::uint8_t* data, std::uint32_t length, void* user);

    struct Callbacks {
        HandshakeDoneFn handshakeDone = nullptr;
        BytesFn plaintextReceived = nullptr;
        BytesFn ciphertextToSend = nullptr;
        void* user = nullptr;
    };

    enum Result { RESULT_DONE, RESULT_WANT_READ, RESULT_FAILED };

    // Plaintext bytes asked of OpenSSL per read.
    static constexpr std::uint32_t kReadSize = 24576;

    // Null when OpenSSL is not started, the host name is empty or a step of
    // the set-up fails; `failure` then says why.
    static std::unique_ptr<COpenSSL> Create(const Callbacks& callbacks, const cpEndpoint& remote, const char* hostName,
                                            std::string* failure);
    ~COpenSSL();
    COpenSSL(const COpenSSL&) = delete;
    COpenSSL& operator=(const COpenSSL&) = delete;

    // The ciphertext OpenSSL reads next, and how much of it it has read.
    void SetInput(const std::uint8_t* data, std::uint32_t length);
    std::uint32_t GetInputRead() const { return m_inputRead; }

    // Runs the handshake on: done (the handshake-done callback has run), want
    // read, or failed.
    Result Connect();
    // One SSL_read of up to kReadSize bytes; what it gives goes to the
    // plaintext callback.
    Result Read();
    // Encrypts all bytes; they leave through the ciphertext callback.
    bool Write(const std::uint8_t* data, std::uint32_t length);

    // Why the last failed step failed: the certificate check's verdict, the
    // OpenSSL error and the last alert, as far as known.
    std::string DescribeFailure() const;

    const cpEndpoint& GetRemote() const { return m_remote; }
    // Wrappers alive in the process (for leak and lifetime checks).
    static int GetLiveCount();

    // The functions of the BIO method (SSLRuntime installs them).
    static int BioWrite(BIO* bio, const char* data, int length);
    static int BioRead(BIO* bio, char* buffer, int size);
    static int BioPuts(BIO* bio, const char* text);
    static long BioCtrl(BIO* bio, int command, long number, void* pointer);
    static int BioCreate(BIO* bio);
    static int BioDestroy(BIO* bio);

private:
    COpenSSL(const Callbacks& callbacks, const cpEndpoint& remote);
    bool Setup(const char* hostName, std::string* failure);
    Result Classify(int result);
    static void OnInfo(const SSL* ssl, int where, int value);

    Callbacks m_callbacks;
    cpEndpoint m_remote;
    SSL* m_ssl = nullptr;
    SSL_CTX* m_ctx = nullptr;
    const std::uint8_t* m_input = nullptr;
    std::uint32_t m_inputLength = 0;
    std::uint32_t m_inputRead = 0;
    std::unique_ptr<std::uint8_t[]> m_plaintext;
    unsigned long m_error = 0;
    const char* m_lastAlert = nullptr;
    bool m_holdsMethod = false; // the BIO method stays while this connection lives
};
