// Moves a fixed amount over loopback three ways, in one run: through a kind-1
// (unlimited) connection context, through a kind-6 context with a receive
// quota of 104857600 bytes a second, and with a plain blocking recv loop.
// Prints MiB/s, CPU seconds of the receiving thread and the peak resident
// memory of each. BENCH_SHORT=1 moves 64 MiB instead of 1 GiB.

#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "LoopbackPeer.h"
#include "NpnWorker.h"
#include "cp/CNpn.h"
#include "cp/cpCQoS.h"
#include "cp/cpCQoSContext.h"
#include "nw/nwCApplicationStack.h"
#include "ov/ovClassFactory.h"
#include "ov/ovClassIds.h"
#include "ov/ovSmartPtr.h"

namespace {

class ovISinkLayer : public ovIUnknown {};

// Counts the bytes that reach the top of the stack and drops them.
class SinkLayer : public nwTApplicationLayer<ovISinkLayer> {
public:
    static constexpr std::uint32_t kClassId = 0x7E02;
    SinkLayer() { RegisterHandlers(); }
    bool OnConnected() override { return true; }
    int OnReceive(const std::uint8_t*, std::uint32_t length) override
    {
        bytes += length;
        return static_cast<int>(length);
    }
    void OnClose() override { closed = true; }
    void RegisterHandlers() override {}

    std::uint64_t bytes = 0;
    bool closed = false;
};

double ThreadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Resets the peak resident size so each case reports its own.
void ResetPeakMemory()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

long PeakMemoryKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    return -1;
}

struct Result {
    double seconds = 0;
    double cpu = 0;
    long peakKiB = 0;
    std::uint64_t bytes = 0;
};

void Print(const char* name, const Result& r)
{
    const double mib = static_cast<double>(r.bytes) / (1024.0 * 1024.0);
    std::printf("%-34s %8.1f MiB/s  %6.2f s  cpu %6.2f s  peak %7.1f MiB  (%.0f MiB)\n", name,
                r.seconds > 0 ? mib / r.seconds : 0.0, r.seconds, r.cpu, static_cast<double>(r.peakKiB) / 1024.0, mib);
    std::fflush(stdout);
}

// Sends `total` bytes to whoever connects to the peer.
std::thread StartSender(LoopbackPeer& peer, std::uint64_t total)
{
    return std::thread([&peer, total] {
        if (!peer.Accept(std::chrono::seconds(30))) {
            return;
        }
        std::vector<char> block(256 * 1024, 'b');
        std::uint64_t left = total;
        while (left > 0) {
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, block.size()));
            if (!peer.SendAll(block.data(), n)) {
                break;
            }
            left -= n;
        }
        peer.CloseConnection();
    });
}

Result ThroughContext(NpnWorker& worker, int kind, std::uint64_t total)
{
    LoopbackPeer peer;
    std::thread sender = StartSender(peer, total);
    ovSmartPtr ctx;
    SinkLayer* sink = nullptr;
    double cpuStart = 0;
    ResetPeakMemory();
    const auto start = std::chrono::steady_clock::now();
    worker.Run([&] {
        cpuStart = ThreadCpuSeconds();
        ctx.CreateInstance(OVCLS_QOS_CONTEXT);
        auto* context = ctx.Get<ovIQoSContext>();
        context->Open(kind, 0x05, nullptr);
        if (kind == 6) {
            const std::uint32_t quota = 104857600;
            context->SetQuota(0, &quota);
        }
        context->AddLayer(SinkLayer::kClassId, false);
        sink = static_cast<SinkLayer*>(static_cast<ovISinkLayer*>(context->GetTopLayer()));
        context->Connect({LoopbackPeer::LoopbackAddress(), peer.Port()});
    });
    worker.WaitUntil([&] { return sink->bytes >= total || sink->closed; }, std::chrono::minutes(5));
    Result r;
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    worker.Run([&] {
        r.cpu = ThreadCpuSeconds() - cpuStart;
        r.bytes = sink->bytes;
        ctx.Get<ovIQoSContext>()->Close();
        ctx.Reset();
    });
    r.peakKiB = PeakMemoryKiB();
    sender.join();
    return r;
}

Result PlainRecv(std::uint64_t total)
{
    LoopbackPeer peer;
    std::thread sender = StartSender(peer, total);
    ResetPeakMemory();
    Result r;
    const auto start = std::chrono::steady_clock::now();
    std::thread receiver([&] {
        const double cpuStart = ThreadCpuSeconds();
        r.bytes = LoopbackPeer::DrainFrom(peer.Port());
        r.cpu = ThreadCpuSeconds() - cpuStart;
    });
    receiver.join();
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.peakKiB = PeakMemoryKiB();
    sender.join();
    return r;
}

} // namespace

int main()
{
    const bool shortRun = std::getenv("BENCH_SHORT") && std::strcmp(std::getenv("BENCH_SHORT"), "1") == 0;
    const std::uint64_t total = shortRun ? 64ull << 20 : 1ull << 30;
    ovClassFactory::Register(SinkLayer::kClassId, &SinkLayer::CreateLayer<SinkLayer>);

    std::printf("loopback receive of %llu MiB%s\n", static_cast<unsigned long long>(total >> 20),
                shortRun ? " (BENCH_SHORT)" : "");
    NpnWorker worker;
    if (!worker.IsStarted()) {
        std::fprintf(stderr, "network runtime did not start\n");
        return 1;
    }
    const Result high = ThroughContext(worker, 1, total);
    Print("context kind 1 (unlimited)", high);
    const Result own = ThroughContext(worker, 6, total);
    Print("context kind 6 (quota 104857600/s)", own);
    const Result plain = PlainRecv(total);
    Print("plain blocking recv loop", plain);
    return high.bytes == total && own.bytes == total && plain.bytes == total ? 0 : 1;
}
