// Downloads one file from a local nginx through the HTTP client layer (a
// kind-1 connection context, the listener taking every byte), then the same
// file with curl, and prints both side by side (wall time, rate, CPU seconds
// per GiB): as nginx serves a static file on 127.0.0.1 (with its length), in
// the chunked coding (nginx passes it through its substitution filter, which
// drops the length), from nginx on [::1] (curl -g), and through a tinyproxy
// on 127.0.0.1 (the layer by http_proxy, curl -x). BENCH_SHORT=1 uses a 64
// MiB file and one round; otherwise 512 MiB and three rounds.
//
// Both clients get the same bytes and throw them away: curl writes them to
// /dev/null, the layer's listener looks at one byte per page. The CPU
// figures are the client process's own (user and system time, the kernel's
// receive work included, the servers' not): curl's from its exit status,
// the layer's from this process around the download, with nothing else
// running in it meanwhile (the main thread waits). curl's include its start
// (a few milliseconds; 0.01 s per GiB at 512 MiB).

#include <sched.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchFigures.h"
#include "NginxServer.h"
#include "NpnWorker.h"
#include "TempDir.h"
#include "TinyproxyServer.h"
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

double ProcessCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return bench::CpuSeconds(usage);
}

// One download through the layer, on the worker of this process.
bench::Figures LayerDownload(NpnWorker& worker, const std::string& url, std::uint64_t size)
{
    CountingListener listener;
    ovSmartPtr ctx;
    const double cpuBefore = ProcessCpuSeconds();
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
    bench::Figures figures;
    figures.seconds = Seconds(start);
    figures.cpuSeconds = ProcessCpuSeconds() - cpuBefore;
    worker.Run([&] {
        if (ctx) {
            ovAsHttpClientExLayer(ctx.Get<ovIQoSContext>()->GetTopLayer())->SetListener(nullptr, 0);
            ctx.Get<ovIQoSContext>()->Close();
        }
        ctx.Reset();
    });
    figures.ok = finished && listener.bytes == size;
    return figures;
}

// On loopback the kernel's work for a segment falls on whichever processor
// sends or receives it, and a client that shares a processor with its
// server pays for much of the server's sending: the same client measures
// up to twice the CPU per GiB depending on where the scheduler put it. So
// that both clients are measured alike, the servers (started next, their
// children inherit it) run on the first processor of this process's set,
// and the clients (this thread, the worker made later, curl) on the second.
// Answers false (nothing pinned) with fewer than two processors.
struct Placement {
    cpu_set_t servers;
    cpu_set_t clients;
};

bool FindPlacement(Placement* placement)
{
    cpu_set_t allowed;
    if (sched_getaffinity(0, sizeof(allowed), &allowed) != 0 || CPU_COUNT(&allowed) < 2) {
        return false;
    }
    CPU_ZERO(&placement->servers);
    CPU_ZERO(&placement->clients);
    int found = 0;
    for (int cpu = 0; cpu < CPU_SETSIZE && found < 2; ++cpu) {
        if (CPU_ISSET(cpu, &allowed)) {
            CPU_SET(cpu, found++ == 0 ? &placement->servers : &placement->clients);
        }
    }
    return true;
}

bench::Figures CurlDownload(const std::string& url, std::vector<std::string> options = {})
{
    std::vector<std::string> command = {"curl", "-s", "-f", "-o", "/dev/null"};
    command.insert(command.end(), options.begin(), options.end());
    command.push_back(url);
    return bench::RunProgram(command);
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
    Placement placement{};
    const bool pinned = FindPlacement(&placement) && sched_setaffinity(0, sizeof(cpu_set_t), &placement.servers) == 0;
    // The substitution filter never matches; it only turns the body chunked.
    testsupport::NginxServer nginx(root.path(), {"location /chunked/ { alias " + root.path() +
                                                 "/; sub_filter_types *; sub_filter 'no-such-text' ''; }"});
    testsupport::NginxServer nginx6(root.path());
    nginx6.listenOn("::1");
    if (!nginx.start()) {
        std::printf("nginx did not start: %s\n", nginx.error().c_str());
        return 1;
    }
    const bool ipv6 = nginx6.start();
    if (!ipv6) {
        std::printf("no nginx on [::1] (no IPv6 loopback?): %s\n", nginx6.error().c_str());
    }
    testsupport::TinyproxyServer proxy({});
    const bool proxied = proxy.start();
    if (!proxied) {
        std::printf("no tinyproxy: %s\n", proxy.error().c_str());
    }
    if (pinned && sched_setaffinity(0, sizeof(cpu_set_t), &placement.clients) != 0) {
        std::printf("cannot move the clients off the servers' processor\n");
        return 1;
    }
    // Each path: the layer's download (through the proxy when it names
    // one) and curl's of the same bytes.
    struct Path {
        const char* name; // for BENCH_PATH
        const char* layerLabel;
        const char* curlLabel;
        std::string url;
        std::vector<std::string> curlOptions;
        std::string proxy;
    };
    std::vector<Path> paths = {
        {"direct", "HTTP client layer (kind 1)", "curl", nginx.url("/big.bin"), {}, {}},
        {"chunked", "layer, chunked body", "curl, chunked body", nginx.url("/chunked/big.bin"), {}, {}},
    };
    if (ipv6) {
        paths.push_back({"ipv6", "layer over [::1]", "curl -g over [::1]", nginx6.url("/big.bin"), {"-g"}, {}});
    }
    if (proxied) {
        paths.push_back({"proxy",
                         "layer through tinyproxy",
                         "curl -x through tinyproxy",
                         nginx.url("/big.bin"),
                         {"-x", proxy.url()},
                         proxy.url()});
    }
    // For profiling: BENCH_PATH=direct (chunked, ipv6, proxy) runs that path
    // alone, BENCH_LAYER_ONLY=1 leaves curl out.
    const char* only = std::getenv("BENCH_PATH");
    const bool layerOnly = std::getenv("BENCH_LAYER_ONLY") != nullptr;
    NpnWorker worker;
    std::printf("GET of %llu MiB from nginx, %d round(s), %s\n", static_cast<unsigned long long>(size >> 20), rounds,
                pinned ? "servers and clients on processors of their own" : "one processor for all");
    int failures = 0;
    // Per path, the least CPU each client took over the rounds: the other
    // programs on the machine only ever add to a figure.
    std::vector<double> layerLeast(paths.size(), 0);
    std::vector<double> curlLeast(paths.size(), 0);
    const auto keepLeast = [](double* least, const bench::Figures& figures) {
        if (figures.ok && (*least == 0 || figures.cpuSeconds < *least)) {
            *least = figures.cpuSeconds;
        }
    };
    for (int round = 0; round < rounds; ++round) {
        for (std::size_t i = 0; i < paths.size(); ++i) {
            const Path& path = paths[i];
            if (only && path.name != std::string(only)) {
                continue;
            }
            if (!path.proxy.empty()) {
                setenv("http_proxy", path.proxy.c_str(), 1);
            }
            const bench::Figures layer = LayerDownload(worker, path.url, size);
            unsetenv("http_proxy");
            bench::Print(path.layerLabel, layer, size);
            failures += !layer.ok;
            keepLeast(&layerLeast[i], layer);
            if (!layerOnly) {
                const bench::Figures curl = CurlDownload(path.url, path.curlOptions);
                bench::Print(path.curlLabel, curl, size);
                keepLeast(&curlLeast[i], curl);
            }
        }
    }
    std::string ratios;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (layerLeast[i] > 0 && curlLeast[i] > 0) {
            char text[64];
            std::snprintf(text, sizeof(text), "%s%s %.2f", ratios.empty() ? "" : ", ", paths[i].name,
                          layerLeast[i] / curlLeast[i]);
            ratios += text;
        }
    }
    if (!ratios.empty()) {
        std::printf("CPU per GiB, layer / curl (least of each over %d round(s)): %s (goal: at most 1.3)\n", rounds,
                    ratios.c_str());
    }
    return failures == 0 ? 0 : 1;
}
