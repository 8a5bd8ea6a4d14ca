// Downloads one file from a local nginx through the HTTP client layer (a
// kind-1 connection context, the listener taking every byte), then the same
// file with curl, and prints both rates side by side: once as nginx serves a
// static file (with its length), once in the chunked coding (nginx passes it
// through its substitution filter, which drops the length). BENCH_SHORT=1
// uses a 64 MiB file and one round; otherwise 512 MiB and three rounds.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "NginxServer.h"
#include "NpnWorker.h"
#include "TempDir.h"
#include "cp/cpCQoSContext.h"
#include "nw/nwCHttpClientExLayer.h"
#include "ov/ovClassIds.h"
#include "ov/ovSmartPtr.h"

namespace {

class CountingListener : public nwIHttpClientExEventListener {
public:
    void OnConnected(std::uint32_t) override {}
    void OnHeaderReceived(std::uint32_t) override {}
    int OnData(std::uint32_t, const std::uint8_t* data, std::uint32_t length) override
    {
        // Read the bytes as a session writing them would.
        for (std::uint32_t i = 0; i < length; i += 4096) {
            checksum += data[i];
        }
        bytes += length;
        return static_cast<int>(length);
    }
    void OnComplete(std::uint32_t) override { done = true; }
    void OnSendQueueEmpty(std::uint32_t) override {}
    void OnClosed(std::uint32_t) override { done = true; }
    void OnConnectTimeout(std::uint32_t) override { done = true; }
    void OnRecvTimeout(std::uint32_t) override {}
    void OnHostUnreach(std::uint32_t) override {}

    std::uint64_t bytes = 0;
    std::uint32_t checksum = 0;
    bool done = false;
};

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Seconds for one download through the layer; negative on failure.
double LayerDownload(NpnWorker& worker, const std::string& url, std::uint64_t size)
{
    CountingListener listener;
    ovSmartPtr ctx;
    const auto start = Clock::now();
    bool started = false;
    worker.Run([&] {
        if (!ctx.CreateInstance(OVCLS_QOS_CONTEXT)) {
            return;
        }
        auto* context = ctx.Get<ovIQoSContext>();
        const std::uint32_t timeout = 4;
        context->Open(1, QOS_CONNECT_FAILED | QOS_IDLE_TIMEOUT, nullptr);
        context->SetOption(QOS_OPTION_CONNECT_TIMEOUT, &timeout);
        context->SetOption(QOS_OPTION_IDLE_TIMEOUT, &timeout);
        if (OV_FAILED(context->AddLayer(OVCLS_HTTP_CLIENT_LAYER, false))) {
            return;
        }
        ovIHttpClientExLayer* layer = ovAsHttpClientExLayer(context->GetTopLayer());
        layer->SetListener(&listener, 0);
        started = OV_SUCCEEDED(layer->SetURL(url.c_str())) && OV_SUCCEEDED(layer->SendGET());
    });
    const bool finished = started && worker.WaitUntil([&] { return listener.done; }, std::chrono::seconds(120));
    const double seconds = Seconds(start);
    worker.Run([&] {
        if (ctx) {
            ovAsHttpClientExLayer(ctx.Get<ovIQoSContext>()->GetTopLayer())->SetListener(nullptr, 0);
            ctx.Get<ovIQoSContext>()->Close();
        }
        ctx.Reset();
    });
    return finished && listener.bytes == size ? seconds : -1.0;
}

double CurlDownload(const std::string& url)
{
    const auto start = Clock::now();
    const std::string command = "curl -s -f -o /dev/null '" + url + "'";
    return std::system(command.c_str()) == 0 ? Seconds(start) : -1.0;
}

void Print(const char* what, double seconds, std::uint64_t size)
{
    if (seconds <= 0) {
        std::printf("%-28s failed\n", what);
        return;
    }
    std::printf("%-28s %8.1f MiB/s  (%.3f s)\n", what, static_cast<double>(size) / (1024.0 * 1024.0) / seconds,
                seconds);
}

} // namespace

int main()
{
    const bool shortRun = std::getenv("BENCH_SHORT") != nullptr;
    const std::uint64_t size = (shortRun ? 64ull : 512ull) * 1024 * 1024;
    const int rounds = shortRun ? 1 : 3;

    testsupport::TempDir root("meshdrop-bench-http");
    if (!testsupport::writeFile(root.file("big.bin"), testsupport::patternBytes(size, 5))) {
        std::printf("cannot write the file\n");
        return 1;
    }
    // The substitution filter never matches; it only turns the body chunked.
    testsupport::NginxServer nginx(root.path(), {"location /chunked/ { alias " + root.path() +
                                                 "/; sub_filter_types *; sub_filter 'no-such-text' ''; }"});
    if (!nginx.start()) {
        std::printf("nginx did not start: %s\n", nginx.error().c_str());
        return 1;
    }
    const std::string url = nginx.url("/big.bin");
    NpnWorker worker;
    std::printf("GET of %llu MiB from nginx on 127.0.0.1, %d round(s)\n", static_cast<unsigned long long>(size >> 20),
                rounds);
    int failures = 0;
    const std::string chunkedUrl = nginx.url("/chunked/big.bin");
    for (int round = 0; round < rounds; ++round) {
        const double layer = LayerDownload(worker, url, size);
        const double curl = CurlDownload(url);
        Print("HTTP client layer (kind 1)", layer, size);
        Print("curl", curl, size);
        const double layerChunked = LayerDownload(worker, chunkedUrl, size);
        const double curlChunked = CurlDownload(chunkedUrl);
        Print("layer, chunked body", layerChunked, size);
        Print("curl, chunked body", curlChunked, size);
        failures += layer <= 0 || layerChunked <= 0;
    }
    return failures == 0 ? 0 : 1;
}
