// Any byte stream through a framed dispatcher: messages are delivered whole,
// the consumed count never exceeds what was offered, and a frame announcing
// more than the bound is refused rather than waited for.
#include <cstdint>
#include <cstdlib>

#include "nw/nwCStreamDispatcher.h"

namespace {

struct Seen {
    std::uint32_t bytes = 0;
};

void OnMessage(const std::uint8_t* payload, std::uint32_t length, void* user)
{
    // Touch every byte so that a payload reaching past the input shows up.
    volatile std::uint8_t sum = 0;
    for (std::uint32_t i = 0; i < length; ++i)
        sum = static_cast<std::uint8_t>(sum + payload[i]);
    static_cast<Seen*>(user)->bytes += length;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    if (size > 1 << 20)
        return 0;
    nwCStreamDispatcher dispatcher;
    Seen seen;
    // The message classes of the engine and agent protocols, a few types each.
    for (std::uint32_t type = 0; type < 4; ++type) {
        dispatcher.AddFramedHandler(0x0100, type, OnMessage, &seen);
        dispatcher.AddFramedHandler(0x0300, type, OnMessage, &seen);
    }
    // Offer the input in two pieces, as a stream arrives, keeping what was not taken.
    const std::uint32_t total = static_cast<std::uint32_t>(size);
    const std::uint32_t split = total ? data[0] % (total + 1) : 0;
    int consumed = 0;
    dispatcher.Dispatch(data, split, &consumed);
    if (consumed > static_cast<int>(split))
        abort();
    if (consumed < 0)
        return 0;
    const std::uint32_t kept = static_cast<std::uint32_t>(consumed);
    int more = 0;
    dispatcher.Dispatch(data + kept, total - kept, &more);
    if (more > static_cast<int>(total - kept))
        abort();
    return 0;
}
