// Any byte stream from a peer posing as the local engine, through the engine
// client layer: every notification the layer delivers holds only fields that
// lie inside what was received, and the layer never claims more than it was
// offered.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "nw/nwCCDNLocalClientLayer.h"

namespace {

void Touch(const void* data, std::size_t size)
{
    volatile std::uint8_t sum = 0;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    for (std::size_t i = 0; i < size; ++i)
        sum = static_cast<std::uint8_t>(sum + bytes[i]);
}

void TouchText(const char* text)
{
    Touch(text, std::strlen(text));
}

// Reads every field it is given, so that a record reaching past the input
// shows up under the address sanitizer.
class TouchingListener : public nwICDNLocalClientEventListener {
public:
    void OnEngineConnected(std::uint32_t) override {}
    void OnEngineJobAccepted(const nwCDNJobAccepted* r, std::uint32_t) override { Touch(r, sizeof *r); }
    void OnEngineJobFailed(const nwCDNJobFailedRecord* r, std::uint32_t) override { TouchText(r->text); }
    void OnEngineJobProgress(const nwCDNProgressRecord* r, std::uint32_t) override
    {
        for (std::uint32_t i = 0; i < r->block.itemCount; ++i) {
            Touch(&r->items[i].item, sizeof r->items[i].item);
            TouchText(r->items[i].name);
        }
    }
    void OnEngineFileDone(const nwCDNFileDoneRecord* r, std::uint32_t) override { TouchDone(r); }
    void OnEngineFileDoneText(const nwCDNFileDoneRecord* r, std::uint32_t) override { TouchDone(r); }
    void OnEngineJobEnded(const nwCDNJobEnded* r, std::uint32_t) override { Touch(r, sizeof *r); }
    void OnEngineNotice(const nwCDNNoticeRecord* r, std::uint32_t) override { TouchText(r->text); }
    void OnEngineNetworkLost(const nwCDNTail* r, std::uint32_t) override { Touch(r, sizeof *r); }
    void OnEngineNetworkBack(const nwCDNTail* r, std::uint32_t) override { Touch(r, sizeof *r); }
    void OnEngineClosed(std::uint32_t) override {}
    void OnEngineConnectFailed(std::uint32_t) override {}
    void OnEngineAskResume(const nwCDNAskResume* r, std::uint32_t) override { Touch(r, sizeof *r); }
    void OnEngineStatusReport(const nwCDNStatus* r, std::uint32_t) override { Touch(r, sizeof *r); }

private:
    static void TouchDone(const nwCDNFileDoneRecord* r)
    {
        TouchText(r->localPath);
        TouchText(r->altText);
        TouchText(r->url);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    if (size > 1 << 20)
        return 0;
    TouchingListener listener;
    auto* layer = new nwCCDNLocalClientLayer();
    layer->AddRef();
    layer->SetListener(&listener, 1);
    // The input arrives in two pieces, as a stream does; what was not taken
    // is offered again with the rest.
    const auto total = static_cast<std::uint32_t>(size);
    const std::uint32_t split = total ? data[0] % (total + 1) : 0;
    const int first = layer->OnReceive(data, split);
    if (first > static_cast<int>(split))
        abort();
    if (first >= 0) {
        const auto kept = static_cast<std::uint32_t>(first);
        if (layer->OnReceive(data + kept, total - kept) > static_cast<int>(total - kept))
            abort();
    }
    layer->Release();
    return 0;
}
