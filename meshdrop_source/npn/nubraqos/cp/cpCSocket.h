#pragma once
// A thin object around one socket record (class OVCLS_SOCKET). Connection
// contexts call the record functions directly; this wrapper serves code that
// wants a socket of its own.

#include <cstdint>

#include "cp/cpSocketRecord.h"
#include "ov/ovIUnknown.h"

class cpCSocket : public ovTRefCounted<ovIUnknown> {
public:
    cpCSocket() = default;
    ~cpCSocket() override;
    cpCSocket(const cpCSocket&) = delete;
    cpCSocket& operator=(const cpCSocket&) = delete;

    virtual OVRESULT Create(int kind);
    virtual OVRESULT Connect(const cpEndpoint& endpoint);
    virtual OVRESULT Close();
    virtual OVRESULT Send(const void* bytes, std::uint32_t length, std::uint32_t* sent);
    virtual OVRESULT Receive(void* buffer, std::uint32_t size, std::uint32_t* received);
    // Does nothing.
    virtual OVRESULT Flush();
    virtual OVRESULT Bind(const cpEndpoint& endpoint);
    virtual OVRESULT Listen();
    // The caller owns the accepted record (cpSocketClose frees it).
    virtual OVRESULT Accept(cpSocketRecord** accepted, cpEndpoint* peer);
    virtual OVRESULT SendTo(const void* bytes, std::uint32_t length, const cpEndpoint& endpoint, std::uint32_t* sent);
    virtual OVRESULT SetOption(int option);
    virtual OVRESULT ReceiveFrom(void* buffer, std::uint32_t size, cpEndpoint* from, std::uint32_t* received);

    cpSocketRecord* GetRecord() const { return m_record; }

private:
    cpSocketRecord* m_record = nullptr;
};
