#pragma once
// The TLS client layer: turns the byte stream between the layer above and the
// socket into a TLS client connection. Plaintext written from above before the
// handshake has completed is held and sent, encrypted, right after it;
// plaintext the layer above has not taken yet is held and offered again ahead
// of the next decrypted bytes. A handshake that fails (including a server
// certificate that does not verify) closes the connection, so the layers above
// see a close and no response.
//
// OpenSSL calls re-enter the layer (ciphertext is written down from inside
// them, plaintext passed up, where a listener may close the connection): while
// a call into the wrapper runs, a close only marks the wrapper for freeing, and
// plaintext from above is held until the call has returned.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Lib_SSL/COpenSSL.h"
#include "nw/nwCApplicationStack.h"
#include "nw/ovISecureSocketClientLayer.h"
#include "ov/ovCPtrList.h"

class nwCSecureSocketClientLayer : public nwTApplicationLayer<ovISecureSocketClientLayer> {
public:
    nwCSecureSocketClientLayer() { RegisterHandlers(); }
    ~nwCSecureSocketClientLayer() override;

    // Layer slots
    OVRESULT OnSend(const nwBuffer& buffer) override;
    bool OnConnected() override;
    bool OnUnreachable() override { return true; }
    void OnClose() override;
    bool OnConnectFailed() override { return true; }
    bool OnSendQueueEmpty() override;
    bool OnIdleTimeout() override { return true; }
    void RegisterHandlers() override;

    bool IsHandshakeComplete() const { return m_handshakeComplete; }
    bool HasWrapper() const { return m_ssl != nullptr; }
    // Why the connection failed (empty while it has not).
    const std::string& GetFailure() const { return m_failure; }

    // Plaintext the layer above may leave untaken before the connection is
    // given up as stuck.
    static constexpr std::uint32_t kMaxLeftover = 16u * 1024u * 1024u;

private:
    struct PendingBuffer {
        std::vector<std::uint8_t> bytes;
    };

    static int OnRawData(const std::uint8_t* data, std::uint32_t length, void* user);
    int Receive(const std::uint8_t* data, std::uint32_t length);
    static void OnHandshakeDone(void* user);
    static void OnPlaintext(const std::uint8_t* data, std::uint32_t length, void* user);
    static void OnCiphertext(const std::uint8_t* data, std::uint32_t length, void* user);
    void DeliverPlaintext(const std::uint8_t* data, std::uint32_t length);

    void Hold(const std::uint8_t* data, std::uint32_t length);
    std::unique_ptr<PendingBuffer> TakePending();
    // Encrypts one buffer; false (with the failure noted) when OpenSSL refuses.
    bool Encrypt(const std::uint8_t* data, std::uint32_t length);
    // Sends held buffers (only the first one with `onlyFirst`); the caller
    // holds the in-OpenSSL flag. False when OpenSSL refuses one.
    bool SendPending(bool onlyFirst);
    void EnterOpenSSL() { m_inOpenSSL = true; }
    // Clears the flag, frees the wrapper when a close came meanwhile, and
    // sends what was held during the call.
    void LeaveOpenSSL();
    // Keeps the first reason the connection failed for.
    void NoteFailure(const std::string& why);
    // Closes the connection (the layers above see a close).
    void Fail();
    void FreeWrapper();

    std::unique_ptr<COpenSSL> m_ssl;
    bool m_handshakeComplete = false;
    ovCPtrList m_pending; // PendingBuffer items, owned here
    std::vector<std::uint8_t> m_leftover;
    bool m_inOpenSSL = false;
    bool m_closeRequested = false;
    bool m_closed = false;
    std::string m_failure;
};
