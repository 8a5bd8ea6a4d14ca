// Fuzz target: the HTTP client layer's response parser and the head parser.
// The first input byte chooses how the rest is cut into reads and how much
// the listener takes from each offer; the rest is what a server sent.

#include <cstdint>
#include <cstring>
#include <string>

#include "nw/nwCHttpClientExLayer.h"
#include "ov/ovClassIds.h"
#include "ov/ovSmartPtr.h"

namespace {

class Listener : public nwIHttpClientExEventListener {
public:
    void OnConnected(std::uint32_t) override {}
    void OnHeaderReceived(std::uint32_t) override { ++headers; }
    int OnData(std::uint32_t, const std::uint8_t* data, std::uint32_t length) override
    {
        // Touch every byte offered: the sanitizer catches an offer past the buffer.
        for (std::uint32_t i = 0; i < length; ++i) {
            checksum += data[i];
        }
        const std::uint32_t taken = take == 0 ? length : std::min(length, take);
        received += taken;
        return static_cast<int>(taken);
    }
    void OnComplete(std::uint32_t) override { ++completes; }
    void OnSendQueueEmpty(std::uint32_t) override {}
    void OnClosed(std::uint32_t) override {}
    void OnConnectTimeout(std::uint32_t) override {}
    void OnRecvTimeout(std::uint32_t) override {}
    void OnHostUnreach(std::uint32_t) override {}

    std::uint32_t take = 0;
    int headers = 0;
    int completes = 0;
    std::uint64_t received = 0;
    std::uint32_t checksum = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1 || size > 256 * 1024) {
        return 0;
    }
    const std::uint32_t chunk = 1 + (data[0] & 0x3F);
    Listener listener;
    listener.take = data[0] >> 6; // 0 (everything), 1, 2 or 3 bytes per offer
    ++data;
    --size;

    ovSmartPtr holder;
    if (!holder.CreateInstance(OVCLS_HTTP_CLIENT_LAYER)) {
        __builtin_trap();
    }
    auto* layer = static_cast<nwCHttpClientExLayer*>(ovAsHttpClientExLayer(holder.Get()));
    layer->SetListener(&listener, 0);

    // Feed it as the context does: the unconsumed bytes plus the next read, in
    // a buffer of exactly that size.
    std::string pending;
    std::size_t position = 0;
    bool failed = false;
    while (position < size && !failed) {
        const std::size_t n = std::min<std::size_t>(chunk, size - position);
        pending.append(reinterpret_cast<const char*>(data) + position, n);
        position += n;
        auto* exact = new std::uint8_t[pending.size()];
        std::memcpy(exact, pending.data(), pending.size());
        const int consumed = layer->OnReceive(exact, static_cast<std::uint32_t>(pending.size()));
        delete[] exact;
        if (consumed < 0) {
            failed = true;
        } else if (static_cast<std::size_t>(consumed) > pending.size()) {
            __builtin_trap();
        } else {
            pending.erase(0, static_cast<std::size_t>(consumed));
        }
    }
    if (listener.headers > 1 || listener.completes > 1) {
        __builtin_trap();
    }
    std::int64_t length = 0;
    layer->GetContentLength(&length);
    // A body with a length completes with exactly that many bytes; a chunked
    // one has no length.
    if (length < 0 || (layer->IsChunkedBody() && length != 0) ||
        (listener.completes == 1 && !layer->IsChunkedBody() &&
         listener.received != static_cast<std::uint64_t>(length))) {
        __builtin_trap();
    }
    int status = 0;
    layer->GetStatusCode(&status);
    ovCString value;
    layer->GetResponseHeader("Location:", &value);

    // The head parser alone on the whole input.
    nwCHttpMessage message;
    message.Parse(reinterpret_cast<const char*>(data), static_cast<std::uint32_t>(size));
    message.FindHeader("content-type:");
    (void)message.GetStatusCode();
    (void)message.GetContentLength();
    (void)message.IsChunked();
    return 0;
}
