// Winsock calls and WSAAsyncSelect notices over real loopback sockets.
#include <gtest/gtest.h>
#include <poll.h>
#include <win32_ext.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

constexpr UINT kSocketMessage = WM_USER + 0x40;

struct Notice {
  SOCKET socket;
  int event;
  int error;
};

std::vector<Notice>* g_notices = nullptr;

LRESULT CALLBACK SocketWindowProc(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
  if (msg == kSocketMessage && g_notices)
    g_notices->push_back({static_cast<SOCKET>(w), WSAGETSELECTEVENT(l), static_cast<short>(WSAGETSELECTERROR(l))});
  return DefWindowProcW(hwnd, msg, w, l);
}

sockaddr_in Loopback(uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = inet_addr("127.0.0.1");
  return a;
}

class Sockets : public ::testing::Test {
 protected:
  void SetUp() override {
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    EXPECT_EQ(data.wVersion, MAKEWORD(2, 2));
    g_notices = &notices_;
    WNDCLASSW wc{};
    wc.lpfnWndProc = SocketWindowProc;
    wc.lpszClassName = L"SocketsTestWindow";
    RegisterClassW(&wc);
    hwnd_ = CreateWindowExW(0, L"SocketsTestWindow", nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(hwnd_, nullptr);
    // Wakes the loop now and then so that waits for an absence end.
    SetTimer(hwnd_, 1, 20, nullptr);
  }
  void TearDown() override {
    for (SOCKET s : open_) closesocket(s);
    DestroyWindow(hwnd_);
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
    }
    g_notices = nullptr;
    WSACleanup();
  }

  SOCKET Track(SOCKET s) {
    EXPECT_NE(s, INVALID_SOCKET);
    open_.push_back(s);
    return s;
  }

  // A listening socket on a free loopback port.
  SOCKET Listener(uint16_t* port) {
    SOCKET s = Track(socket(AF_INET, SOCK_STREAM, 0));
    BOOL reuse = TRUE;
    EXPECT_EQ(setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse), sizeof(reuse)), 0);
    sockaddr_in a = Loopback(0);
    EXPECT_EQ(bind(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0);
    EXPECT_EQ(listen(s, 5), 0);
    int len = sizeof(a);
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    *port = ntohs(a.sin_port);
    return s;
  }

  // Pumps messages until `done` holds or the time runs out.
  template <typename Pred>
  bool PumpUntil(Pred done, DWORD timeoutMs = 10000) {
    DWORD start = GetTickCount();
    MSG m;
    while (!done()) {
      if (GetTickCount() - start > timeoutMs) return false;
      if (GetMessageW(&m, nullptr, 0, 0) <= 0) return false;
      DispatchMessageW(&m);
    }
    return true;
  }
  void PumpFor(DWORD ms) {
    PumpUntil([] { return false; }, ms);
  }

  int Count(SOCKET s, int event) const {
    int n = 0;
    for (auto& x : notices_) n += x.socket == s && x.event == event;
    return n;
  }
  const Notice* Find(SOCKET s, int event) const {
    for (auto& x : notices_)
      if (x.socket == s && x.event == event) return &x;
    return nullptr;
  }

  // A loopback port where nothing listens, and a fresh socket to try it with.
  sockaddr_in ClosedPort(SOCKET* s) {
    uint16_t port;
    SOCKET closed = Listener(&port);
    closesocket(closed);
    open_.clear();
    *s = Track(socket(AF_INET, SOCK_STREAM, 0));
    return Loopback(port);
  }

  // A connected client (selected with `events`) and the accepted server side.
  void Connect(long events, SOCKET* client, SOCKET* server) {
    uint16_t port;
    SOCKET listener = Listener(&port);
    *client = Track(socket(AF_INET, SOCK_STREAM, 0));
    ASSERT_EQ(WSAAsyncSelect(*client, hwnd_, kSocketMessage, events), 0);
    sockaddr_in a = Loopback(port);
    int rc = connect(*client, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    if (rc == SOCKET_ERROR) {
      EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    }
    *server = Track(accept(listener, nullptr, nullptr));
    if (events & FD_CONNECT) {
      ASSERT_TRUE(PumpUntil([&] { return Find(*client, FD_CONNECT) != nullptr; }));
      EXPECT_EQ(Find(*client, FD_CONNECT)->error, 0);
    }
  }

  std::vector<Notice> notices_;
  std::vector<SOCKET> open_;
  HWND hwnd_ = nullptr;
};

TEST_F(Sockets, RefusedConnectReportsItsErrorThroughTheConnectNotice) {
  SOCKET s;
  sockaddr_in a = ClosedPort(&s);
  ASSERT_EQ(WSAAsyncSelect(s, hwnd_, kSocketMessage, FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE), 0);
  EXPECT_EQ(connect(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
  ASSERT_TRUE(PumpUntil([&] { return Find(s, FD_CONNECT) != nullptr; }));
  EXPECT_EQ(Find(s, FD_CONNECT)->error, WSAECONNREFUSED);
  PumpFor(100);
  EXPECT_EQ(Count(s, FD_CONNECT), 1);
  EXPECT_EQ(Count(s, FD_WRITE), 0);
  EXPECT_EQ(Count(s, FD_CLOSE), 0);
}

TEST_F(Sockets, APortSwitchedUnreachableReportsWSAEHOSTUNREACH) {
  SOCKET s;
  sockaddr_in a = ClosedPort(&s);
  W32SetHostUnreachableForTesting(ntohs(a.sin_port));
  ASSERT_EQ(WSAAsyncSelect(s, hwnd_, kSocketMessage, FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE), 0);
  EXPECT_EQ(connect(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)), SOCKET_ERROR);
  W32SetHostUnreachableForTesting(0);
  EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
  ASSERT_TRUE(PumpUntil([&] { return Find(s, FD_CONNECT) != nullptr; }));
  EXPECT_EQ(Find(s, FD_CONNECT)->error, WSAEHOSTUNREACH);
}

TEST_F(Sockets, BlockingConnectToAClosedPortFailsWith10061) {
  SOCKET s;
  sockaddr_in a = ClosedPort(&s);
  EXPECT_EQ(connect(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAECONNREFUSED);
}

TEST_F(Sockets, ConnectNoticeIsFollowedByAWriteNotice) {
  SOCKET client, server;
  Connect(FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE, &client, &server);
  ASSERT_TRUE(PumpUntil([&] { return Find(client, FD_WRITE) != nullptr; }));
  PumpFor(100);
  EXPECT_EQ(Count(client, FD_WRITE), 1);  // not again without a send that would block
}

TEST_F(Sockets, ReadNoticeIsNotRepeatedBeforeTheProgramReads) {
  SOCKET client, server;
  Connect(FD_CONNECT | FD_READ | FD_CLOSE, &client, &server);
  ASSERT_EQ(send(server, "hello", 5, 0), 5);
  ASSERT_TRUE(PumpUntil([&] { return Count(client, FD_READ) == 1; }));
  ASSERT_EQ(send(server, "again", 5, 0), 5);
  PumpFor(150);
  EXPECT_EQ(Count(client, FD_READ), 1);
  char buf[4];
  ASSERT_EQ(recv(client, buf, 4, 0), 4);  // leaves bytes behind: another notice follows
  ASSERT_TRUE(PumpUntil([&] { return Count(client, FD_READ) == 2; }));
  char rest[16];
  EXPECT_EQ(recv(client, rest, sizeof(rest), 0), 6);
  PumpFor(100);
  EXPECT_EQ(Count(client, FD_READ), 2);  // nothing left, nothing posted
  EXPECT_EQ(recv(client, rest, sizeof(rest), 0), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
}

TEST_F(Sockets, SelectingAgainReportsAReadableSocketAtOnce) {
  SOCKET client, server;
  Connect(FD_CONNECT | FD_READ | FD_CLOSE, &client, &server);
  ASSERT_EQ(send(server, "x", 1, 0), 1);
  ASSERT_TRUE(PumpUntil([&] { return Count(client, FD_READ) == 1; }));
  ASSERT_EQ(WSAAsyncSelect(client, hwnd_, kSocketMessage, FD_READ | FD_WRITE | FD_CLOSE), 0);
  ASSERT_TRUE(PumpUntil([&] { return Count(client, FD_READ) == 2 && Count(client, FD_WRITE) == 1; }));
  // Cancelled: nothing more is posted.
  ASSERT_EQ(WSAAsyncSelect(client, hwnd_, 0, 0), 0);
  char buf[8];
  recv(client, buf, sizeof(buf), 0);
  send(server, "y", 1, 0);
  PumpFor(100);
  EXPECT_EQ(Count(client, FD_READ), 2);
}

TEST_F(Sockets, WriteNoticeFollowsASendThatWouldBlockOnceThePeerDrains) {
  SOCKET client, server;
  Connect(FD_CONNECT | FD_WRITE, &client, &server);
  ASSERT_TRUE(PumpUntil([&] { return Count(client, FD_WRITE) == 1; }));
  std::vector<char> chunk(65536, 'z');
  size_t queued = 0;
  for (;;) {
    int n = send(client, chunk.data(), static_cast<int>(chunk.size()), 0);
    if (n == SOCKET_ERROR) {
      ASSERT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
      break;
    }
    queued += static_cast<size_t>(n);
    ASSERT_LT(queued, 512u << 20);
  }
  PumpFor(100);
  EXPECT_EQ(Count(client, FD_WRITE), 1);  // still full
  u_long blocking = 0;
  ASSERT_EQ(ioctlsocket(server, FIONBIO, &blocking), 0);
  std::thread drain([&] {
    std::vector<char> buf(65536);
    size_t got = 0;
    while (got < queued) {
      int n = recv(server, buf.data(), static_cast<int>(buf.size()), 0);
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
  });
  ASSERT_TRUE(PumpUntil([&] { return Count(client, FD_WRITE) == 2; }));
  drain.join();
}

TEST_F(Sockets, ClientReadingKilobytesPerNoticeGetsTheWholeMegabyteBeforeTheClose) {
  constexpr size_t kTotal = 1 << 20;
  uint16_t port;
  SOCKET listener = Listener(&port);
  std::thread writer([&] {
    SOCKET peer = accept(listener, nullptr, nullptr);
    std::vector<char> data(kTotal);
    for (size_t i = 0; i < kTotal; ++i) data[i] = static_cast<char>(i * 31 + 7);
    size_t sent = 0;
    while (sent < kTotal) {
      int n = send(peer, data.data() + sent, static_cast<int>(kTotal - sent), 0);
      if (n <= 0) break;
      sent += static_cast<size_t>(n);
    }
    shutdown(peer, SD_SEND);
    closesocket(peer);
  });
  SOCKET client = Track(socket(AF_INET, SOCK_STREAM, 0));
  // Linger 0, as the network library sets it.
  struct linger l {
    1, 0
  };
  EXPECT_EQ(setsockopt(client, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof(l)), 0);
  ASSERT_EQ(WSAAsyncSelect(client, hwnd_, kSocketMessage, FD_CONNECT | FD_READ | FD_CLOSE), 0);
  sockaddr_in a = Loopback(port);
  connect(client, reinterpret_cast<sockaddr*>(&a), sizeof(a));
  std::vector<char> received;
  bool readAfterClose = false;
  bool closed = false;
  DWORD start = GetTickCount();
  MSG m;
  while (!closed && GetTickCount() - start < 30000 && GetMessageW(&m, nullptr, 0, 0) > 0) {
    if (m.message == kSocketMessage && static_cast<SOCKET>(m.wParam) == client) {
      int event = WSAGETSELECTEVENT(m.lParam);
      if (event == FD_READ) {
        if (closed) readAfterClose = true;
        char buf[1024];
        int n = recv(client, buf, sizeof(buf), 0);
        if (n > 0) received.insert(received.end(), buf, buf + n);
      } else if (event == FD_CLOSE) {
        EXPECT_EQ(WSAGETSELECTERROR(m.lParam), 0);
        closed = true;
      }
      continue;
    }
    DispatchMessageW(&m);
  }
  writer.join();
  ASSERT_TRUE(closed);
  EXPECT_FALSE(readAfterClose);
  ASSERT_EQ(received.size(), kTotal);
  for (size_t i = 0; i < kTotal; ++i)
    if (received[i] != static_cast<char>(i * 31 + 7)) FAIL() << "byte " << i;
}

TEST_F(Sockets, AcceptNoticeAndInheritedSelection) {
  uint16_t port;
  SOCKET listener = Listener(&port);
  ASSERT_EQ(WSAAsyncSelect(listener, hwnd_, kSocketMessage, FD_ACCEPT | FD_READ | FD_WRITE | FD_CLOSE), 0);
  SOCKET a1 = Track(socket(AF_INET, SOCK_STREAM, 0));
  SOCKET a2 = Track(socket(AF_INET, SOCK_STREAM, 0));
  sockaddr_in a = Loopback(port);
  ASSERT_EQ(connect(a1, reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0);
  ASSERT_EQ(connect(a2, reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0);
  ASSERT_TRUE(PumpUntil([&] { return Count(listener, FD_ACCEPT) == 1; }));
  PumpFor(100);
  EXPECT_EQ(Count(listener, FD_ACCEPT), 1);  // the second waits for accept
  sockaddr_in peer{};
  int len = sizeof(peer);
  SOCKET s1 = Track(accept(listener, reinterpret_cast<sockaddr*>(&peer), &len));
  EXPECT_EQ(peer.sin_addr.s_addr, inet_addr("127.0.0.1"));
  ASSERT_TRUE(PumpUntil([&] { return Count(listener, FD_ACCEPT) == 2 && Count(s1, FD_WRITE) == 1; }));
  ASSERT_EQ(send(a1, "ping", 4, 0), 4);
  ASSERT_TRUE(PumpUntil([&] { return Count(s1, FD_READ) == 1; }));
  closesocket(a1);
  char buf[8];
  EXPECT_EQ(recv(s1, buf, sizeof(buf), 0), 4);
  ASSERT_TRUE(PumpUntil([&] { return Count(s1, FD_CLOSE) == 1; }));
  Track(accept(listener, nullptr, nullptr));
}

TEST_F(Sockets, QueueDescriptorTurnsReadableForASocketNotice) {
  SOCKET client, server;
  Connect(FD_CONNECT | FD_READ, &client, &server);
  MSG m;
  KillTimer(hwnd_, 1);
  while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
  int fd = W32GetMessageQueueFd();
  pollfd p{fd, POLLIN, 0};
  EXPECT_EQ(poll(&p, 1, 0), 0);
  send(server, "abc", 3, 0);
  ASSERT_EQ(poll(&p, 1, 10000), 1);
  // Looking without taking turns the readiness into a notice that waits.
  ASSERT_TRUE(PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(m.message, kSocketMessage);
  EXPECT_EQ(poll(&p, 1, 0), 1);
  ASSERT_TRUE(PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, kSocketMessage);
  EXPECT_EQ(WSAGETSELECTEVENT(m.lParam), FD_READ);
  EXPECT_EQ(poll(&p, 1, 0), 0);  // the read notice waits for recv; nothing else is pending
}

TEST_F(Sockets, WinsockErrorNumbersAndOptions) {
  EXPECT_EQ(closesocket(INVALID_SOCKET), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
  char buf[4];
  EXPECT_EQ(recv(static_cast<SOCKET>(1000000), buf, 4, 0), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);

  SOCKET udp = Track(socket(AF_INET, SOCK_DGRAM, 0));
  BOOL on = TRUE;
  EXPECT_EQ(setsockopt(udp, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof(on)), 0);
  sockaddr_in a = Loopback(0);
  ASSERT_EQ(bind(udp, reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0);
  int len = sizeof(a);
  getsockname(udp, reinterpret_cast<sockaddr*>(&a), &len);
  u_long nonBlocking = 1;
  ASSERT_EQ(ioctlsocket(udp, FIONBIO, &nonBlocking), 0);
  EXPECT_EQ(recvfrom(udp, buf, 4, 0, nullptr, nullptr), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
  EXPECT_EQ(sendto(udp, "dg", 2, 0, reinterpret_cast<sockaddr*>(&a), sizeof(a)), 2);
  sockaddr_in from{};
  int fromLen = sizeof(from);
  for (int i = 0; i < 1000; ++i) {
    u_long avail = 0;
    ioctlsocket(udp, FIONREAD, &avail);
    if (avail) break;
    Sleep(1);
  }
  EXPECT_EQ(recvfrom(udp, buf, 4, 0, reinterpret_cast<sockaddr*>(&from), &fromLen), 2);
  EXPECT_EQ(from.sin_port, a.sin_port);

  // Selection makes a socket non-blocking; Winsock refuses to make it blocking again.
  ASSERT_EQ(WSAAsyncSelect(udp, hwnd_, kSocketMessage, FD_READ), 0);
  u_long blocking = 0;
  EXPECT_EQ(ioctlsocket(udp, FIONBIO, &blocking), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
}

TEST_F(Sockets, DatagramSocketsGetReadNoticesEvenForEmptyDatagrams) {
  SOCKET receiver = Track(socket(AF_INET, SOCK_DGRAM, 0));
  sockaddr_in a = Loopback(0);
  ASSERT_EQ(bind(receiver, reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0);
  int len = sizeof(a);
  getsockname(receiver, reinterpret_cast<sockaddr*>(&a), &len);
  ASSERT_EQ(WSAAsyncSelect(receiver, hwnd_, kSocketMessage, FD_READ | FD_WRITE | FD_CLOSE), 0);
  ASSERT_TRUE(PumpUntil([&] { return Count(receiver, FD_WRITE) == 1; }));
  SOCKET sender = Track(socket(AF_INET, SOCK_DGRAM, 0));
  ASSERT_EQ(sendto(sender, "", 0, 0, reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0);
  ASSERT_TRUE(PumpUntil([&] { return Count(receiver, FD_READ) == 1; }));
  char buf[4];
  EXPECT_EQ(recvfrom(receiver, buf, sizeof(buf), 0, nullptr, nullptr), 0);
  ASSERT_EQ(sendto(sender, "ab", 2, 0, reinterpret_cast<sockaddr*>(&a), sizeof(a)), 2);
  ASSERT_TRUE(PumpUntil([&] { return Count(receiver, FD_READ) == 2; }));
  EXPECT_EQ(recvfrom(receiver, buf, sizeof(buf), 0, nullptr, nullptr), 2);
  EXPECT_EQ(Count(receiver, FD_CLOSE), 0);
}

TEST_F(Sockets, HostLookupGivesIPv4Addresses) {
  hostent* h = gethostbyname("127.0.0.1");
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->h_addrtype, AF_INET);
  EXPECT_EQ(h->h_length, 4);
  ASSERT_NE(h->h_addr_list[0], nullptr);
  EXPECT_EQ(reinterpret_cast<in_addr*>(h->h_addr_list[0])->s_addr, inet_addr("127.0.0.1"));
  EXPECT_EQ(h->h_addr_list[1], nullptr);
  h = gethostbyname("localhost");
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(reinterpret_cast<in_addr*>(h->h_addr_list[0])->s_addr, inet_addr("127.0.0.1"));
}

TEST_F(Sockets, AddressLookupGivesBothFamiliesAndWinsockErrors) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  for (const auto& [name, family] : {std::pair{"::1", AF_INET6}, std::pair{"127.0.0.1", AF_INET}}) {
    addrinfo* found = nullptr;
    ASSERT_EQ(getaddrinfo(name, nullptr, &hints, &found), 0) << name;
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->ai_family, family) << name;
    freeaddrinfo(found);
  }
  // A literal of the wrong family, asked for with numeric hosts only.
  hints.ai_family = AF_INET;
  hints.ai_flags = AI_NUMERICHOST;
  addrinfo* found = nullptr;
  EXPECT_EQ(getaddrinfo("::1", nullptr, &hints, &found), WSAHOST_NOT_FOUND);
  EXPECT_EQ(WSAGetLastError(), WSAHOST_NOT_FOUND);
  EXPECT_EQ(found, nullptr);
  EXPECT_EQ(getaddrinfo(nullptr, nullptr, &hints, &found), WSANO_RECOVERY);
}

TEST_F(Sockets, Ipv6ConnectsAndUnreachablePortsReportThroughTheConnectNotice) {
  SOCKET listener = Track(socket(AF_INET6, SOCK_STREAM, 0));
  sockaddr_in6 a{};
  a.sin6_family = AF_INET6;
  a.sin6_addr = in6addr_loopback;
  if (bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) GTEST_SKIP() << "no IPv6 loopback (::1)";
  ASSERT_EQ(listen(listener, 5), 0);
  int length = sizeof(a);
  ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&a), &length), 0);

  SOCKET client = Track(socket(AF_INET6, SOCK_STREAM, 0));
  ASSERT_EQ(WSAAsyncSelect(client, hwnd_, kSocketMessage, FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE), 0);
  EXPECT_EQ(connect(client, reinterpret_cast<sockaddr*>(&a), sizeof(a)), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
  ASSERT_TRUE(PumpUntil([&] { return Find(client, FD_CONNECT) != nullptr; }));
  EXPECT_EQ(Find(client, FD_CONNECT)->error, 0);
  sockaddr_in6 peer{};
  int peerLength = sizeof(peer);
  SOCKET server = Track(accept(listener, reinterpret_cast<sockaddr*>(&peer), &peerLength));
  EXPECT_EQ(peer.sin6_family, AF_INET6);
  ASSERT_EQ(send(server, "v6", 2, 0), 2);
  ASSERT_TRUE(PumpUntil([&] { return Find(client, FD_READ) != nullptr; }));

  // The test switch makes the port unreachable for IPv6 as for IPv4.
  SOCKET other = Track(socket(AF_INET6, SOCK_STREAM, 0));
  ASSERT_EQ(WSAAsyncSelect(other, hwnd_, kSocketMessage, FD_CONNECT), 0);
  W32SetHostUnreachableForTesting(ntohs(a.sin6_port));
  EXPECT_EQ(connect(other, reinterpret_cast<sockaddr*>(&a), sizeof(a)), SOCKET_ERROR);
  W32SetHostUnreachableForTesting(0);
  ASSERT_TRUE(PumpUntil([&] { return Find(other, FD_CONNECT) != nullptr; }));
  EXPECT_EQ(Find(other, FD_CONNECT)->error, WSAEHOSTUNREACH);
}

}  // namespace
