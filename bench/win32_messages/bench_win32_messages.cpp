// Throughput of PostMessage/GetMessage between two threads, and the delay
// from a socket turning readable to its WSAAsyncSelect notice being
// dispatched; each beside a plain epoll loop doing the same work in the same
// run. BENCH_SHORT=1 runs a few seconds only.
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>
#include <winsock2.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace {

constexpr UINT kBenchMessage = WM_USER + 1;
constexpr UINT kSocketMessage = WM_USER + 2;
constexpr size_t kQueueBound = 10000;  // the posted-message limit, applied to both sides

double NowUs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1e6 + ts.tv_nsec / 1e3;
}

// ---- Throughput -----------------------------------------------------------

std::atomic<long> g_received{0};

LRESULT CALLBACK CountingProc(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
  if (msg == kBenchMessage) {
    g_received.fetch_add(1, std::memory_order_relaxed);
    return 0;
  }
  return DefWindowProcW(hwnd, msg, w, l);
}

double Win32Throughput(long count) {
  std::atomic<HWND> window{nullptr};
  g_received = 0;
  std::thread consumer([&] {
    HWND hwnd = CreateWindowExW(0, L"BenchCounter", nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    window = hwnd;
    MSG m;
    while (g_received.load(std::memory_order_relaxed) < count && GetMessageW(&m, nullptr, 0, 0) > 0)
      DispatchMessageW(&m);
    DestroyWindow(hwnd);
  });
  while (window.load() == nullptr) std::this_thread::yield();
  double start = NowUs();
  for (long i = 0; i < count; ++i)
    while (!PostMessageW(window.load(), kBenchMessage, static_cast<WPARAM>(i), 0)) std::this_thread::yield();
  consumer.join();
  return count / ((NowUs() - start) / 1e6);
}

// The same hand-off written directly: a locked deque, an eventfd and epoll.
double EpollThroughput(long count) {
  std::mutex mutex;
  std::deque<long> queue;
  int efd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  int ep = epoll_create1(EPOLL_CLOEXEC);
  epoll_event ev{};
  ev.events = EPOLLIN;
  epoll_ctl(ep, EPOLL_CTL_ADD, efd, &ev);
  std::thread consumer([&] {
    long received = 0;
    while (received < count) {
      epoll_event out;
      epoll_wait(ep, &out, 1, -1);
      for (;;) {
        std::lock_guard<std::mutex> lock(mutex);
        if (queue.empty()) {
          uint64_t v;
          ssize_t n = read(efd, &v, sizeof(v));
          (void)n;
          break;
        }
        queue.pop_front();
        ++received;
      }
    }
  });
  double start = NowUs();
  for (long i = 0; i < count; ++i) {
    for (;;) {
      std::lock_guard<std::mutex> lock(mutex);
      if (queue.size() >= kQueueBound) continue;
      bool wasEmpty = queue.empty();
      queue.push_back(i);
      if (wasEmpty) {
        uint64_t one = 1;
        ssize_t n = write(efd, &one, sizeof(one));
        (void)n;
      }
      break;
    }
  }
  consumer.join();
  close(ep);
  close(efd);
  return count / ((NowUs() - start) / 1e6);
}

// ---- Socket readiness delay -------------------------------------------------

struct Latency {
  double median;
  double p99;
};

Latency Summarise(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  return {samples[samples.size() / 2], samples[samples.size() * 99 / 100]};
}

// Ping-pong over a loopback TCP pair: the writer sends one byte and notes the
// time; the reader side notes when its notice (or epoll event) is handled,
// reads, and answers so the next round starts.
struct Pair {
  SOCKET reader;
  SOCKET writer;
};

Pair Connected() {
  SOCKET listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = inet_addr("127.0.0.1");
  bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof(a));
  listen(listener, 1);
  int len = sizeof(a);
  getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
  SOCKET writer = socket(AF_INET, SOCK_STREAM, 0);
  connect(writer, reinterpret_cast<sockaddr*>(&a), sizeof(a));
  SOCKET reader = accept(listener, nullptr, nullptr);
  closesocket(listener);
  int one = 1;
  setsockopt(writer, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof(one));
  setsockopt(reader, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof(one));
  return {reader, writer};
}

struct Round {
  std::atomic<double> sentAt{0};
  std::vector<double> samples;
  int rounds = 0;
};
Round* g_round = nullptr;

LRESULT CALLBACK SocketProc(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
  if (msg == kSocketMessage && WSAGETSELECTEVENT(l) == FD_READ) {
    g_round->samples.push_back(NowUs() - g_round->sentAt.load());
    char c;
    recv(static_cast<SOCKET>(w), &c, 1, 0);
    send(static_cast<SOCKET>(w), &c, 1, 0);  // the answer starts the next round
    if (static_cast<int>(g_round->samples.size()) >= g_round->rounds) PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(hwnd, msg, w, l);
}

void Writer(SOCKET writer, Round& round) {
  u_long blocking = 0;
  ioctlsocket(writer, FIONBIO, &blocking);
  for (int i = 0; i < round.rounds; ++i) {
    char c = 'x';
    round.sentAt = NowUs();
    send(writer, &c, 1, 0);
    recv(writer, &c, 1, 0);
  }
}

Latency Win32SocketDelay(int rounds) {
  Round round;
  round.rounds = rounds;
  g_round = &round;
  Pair p = Connected();
  HWND hwnd = CreateWindowExW(0, L"BenchSocket", nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  WSAAsyncSelect(p.reader, hwnd, kSocketMessage, FD_READ | FD_CLOSE);
  std::thread writer(Writer, p.writer, std::ref(round));
  MSG m;
  while (GetMessageW(&m, nullptr, 0, 0) > 0) DispatchMessageW(&m);
  writer.join();
  DestroyWindow(hwnd);
  closesocket(p.reader);
  closesocket(p.writer);
  g_round = nullptr;
  return Summarise(round.samples);
}

Latency EpollSocketDelay(int rounds) {
  Round round;
  round.rounds = rounds;
  Pair p = Connected();
  u_long nonBlocking = 1;
  ioctlsocket(p.reader, FIONBIO, &nonBlocking);
  int ep = epoll_create1(EPOLL_CLOEXEC);
  epoll_event ev{};
  ev.events = EPOLLIN;
  epoll_ctl(ep, EPOLL_CTL_ADD, static_cast<int>(p.reader), &ev);
  std::thread writer(Writer, p.writer, std::ref(round));
  while (static_cast<int>(round.samples.size()) < rounds) {
    epoll_event out;
    if (epoll_wait(ep, &out, 1, -1) != 1) continue;
    round.samples.push_back(NowUs() - round.sentAt.load());
    char c;
    if (::read(static_cast<int>(p.reader), &c, 1) == 1) {
      ssize_t n = ::write(static_cast<int>(p.reader), &c, 1);
      (void)n;
    }
  }
  writer.join();
  close(ep);
  closesocket(p.reader);
  closesocket(p.writer);
  return Summarise(round.samples);
}

}  // namespace

int main() {
  const char* shortMode = std::getenv("BENCH_SHORT");
  bool brief = shortMode && *shortMode && *shortMode != '0';
  long messages = brief ? 200000 : 2000000;
  int rounds = brief ? 2000 : 20000;
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
  WNDCLASSW counting{};
  counting.lpfnWndProc = CountingProc;
  counting.lpszClassName = L"BenchCounter";
  RegisterClassW(&counting);
  WNDCLASSW sockets{};
  sockets.lpfnWndProc = SocketProc;
  sockets.lpszClassName = L"BenchSocket";
  RegisterClassW(&sockets);

  std::printf("Messages between two threads (%ld messages)\n", messages);
  std::printf("  %-36s %12.0f msg/s\n", "PostMessage/GetMessage (win32)", Win32Throughput(messages));
  std::printf("  %-36s %12.0f msg/s\n", "deque + eventfd + epoll (plain)", EpollThroughput(messages));
  std::printf("Socket readable -> handled, loopback TCP (%d rounds)\n", rounds);
  Latency win = Win32SocketDelay(rounds);
  Latency plain = EpollSocketDelay(rounds);
  std::printf("  %-36s median %7.1f us   p99 %7.1f us\n", "WSAAsyncSelect notice (win32)", win.median, win.p99);
  std::printf("  %-36s median %7.1f us   p99 %7.1f us\n", "epoll_wait + read (plain)", plain.median, plain.p99);
  WSACleanup();
  return 0;
}
