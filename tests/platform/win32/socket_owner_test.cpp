// Owners of loopback TCP sockets, as the kernel names them, for sockets of
// this user and of a second user (uid 65534, run through setpriv); and a
// process asked to leave.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <win32_ext.h>

#include <future>
#include <string>

#include "ForeignUser.h"

extern char** environ;

namespace {

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  void reset() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

sockaddr_in Loopback(uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  return address;
}

// A listener of this user on a free port.
int Listen(uint16_t* port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = Loopback(0);
  socklen_t size = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 4) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0)
    return -1;
  *port = ntohs(address.sin_port);
  return fd;
}

int Connect(uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in address = Loopback(port);
  return connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ? fd : -1;
}

int AcceptWithin(int listener, int milliseconds) {
  pollfd ready{listener, POLLIN, 0};
  return poll(&ready, 1, milliseconds) == 1 ? accept4(listener, nullptr, nullptr, SOCK_CLOEXEC) : -1;
}

DWORD PeerOwner(int fd) {
  DWORD owner = 0xFFFFFFFF;
  return W32GetTcpPeerOwner(static_cast<UINT_PTR>(fd), &owner) ? owner : 0xFFFFFFFF;
}

TEST(SocketOwner, BothEndsOfAConnectionOfThisUserNameThisUser) {
  uint16_t port = 0;
  Fd listener(Listen(&port));
  ASSERT_GE(listener.get(), 0);
  Fd client(Connect(port));
  Fd server(AcceptWithin(listener.get(), 30000));
  ASSERT_GE(server.get(), 0);
  EXPECT_EQ(PeerOwner(client.get()), W32GetCurrentOwner());
  EXPECT_EQ(PeerOwner(server.get()), W32GetCurrentOwner());

  DWORD owner = 0;
  DWORD pid = 0;
  ASSERT_TRUE(W32GetTcpListenerOwner(port, &owner, &pid));
  EXPECT_EQ(owner, W32GetCurrentOwner());
  EXPECT_EQ(pid, static_cast<DWORD>(getpid()));

  // Nothing connected, nothing listening: the kernel knows no owner.
  Fd lone(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  EXPECT_FALSE(W32GetTcpPeerOwner(static_cast<UINT_PTR>(lone.get()), &owner));
  listener.reset();
  EXPECT_FALSE(W32GetTcpListenerOwner(port, &owner, &pid));
}

TEST(SocketOwner, SocketsOfASecondUserNameThatUser) {
  const std::string unavailable = testsupport::foreignUserUnavailable();
  if (!unavailable.empty()) GTEST_SKIP() << unavailable;

  // Its listener, and the connection to it.
  testsupport::ForeignListener foreign;
  ASSERT_NE(foreign.port(), 0);
  DWORD owner = 0;
  DWORD pid = 1;
  ASSERT_TRUE(W32GetTcpListenerOwner(foreign.port(), &owner, &pid));
  EXPECT_EQ(owner, testsupport::kForeignUid);
  EXPECT_EQ(pid, 0u) << "only processes of this user are named";
  Fd client(Connect(foreign.port()));
  ASSERT_GE(client.get(), 0);
  EXPECT_EQ(PeerOwner(client.get()), testsupport::kForeignUid);

  // Its connection to a listener of this user.
  uint16_t port = 0;
  Fd listener(Listen(&port));
  ASSERT_GE(listener.get(), 0);
  auto exchange = std::async(std::launch::async, [port] { return testsupport::foreignClientExchange(port, "", 30); });
  {
    Fd server(AcceptWithin(listener.get(), 30000));
    ASSERT_GE(server.get(), 0);
    EXPECT_EQ(PeerOwner(server.get()), testsupport::kForeignUid);
  }
  const testsupport::ForeignExchange result = exchange.get();
  EXPECT_TRUE(result.connected);
  EXPECT_TRUE(result.closedByPeer);
}

TEST(AskProcessToLeave, EndsAProcessThatLeavesOnRequestAndReportsOneThatStays) {
  const auto start = [](const char* script) {
    pid_t pid = -1;
    const char* argv[] = {"/usr/bin/perl", "-e", script, nullptr};
    posix_spawn(&pid, argv[0], nullptr, nullptr, const_cast<char**>(argv), environ);
    return pid;
  };
  const pid_t leaves = start("sleep 60");
  ASSERT_GT(leaves, 0);
  EXPECT_TRUE(W32AskProcessToLeave(static_cast<DWORD>(leaves), 30000));
  int status = 0;
  ASSERT_EQ(waitpid(leaves, &status, 0), leaves);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);

  // This one ignores the request once it says it is ready.
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t stays = -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, ready[1], STDOUT_FILENO);
  const char* argv[] = {"/usr/bin/perl", "-e", "$SIG{TERM} = 'IGNORE'; $| = 1; print qq(ready\\n); sleep 60", nullptr};
  ASSERT_EQ(posix_spawn(&stays, argv[0], &actions, nullptr, const_cast<char**>(argv), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(ready[1]);
  char line[8] = {};
  ASSERT_GT(read(ready[0], line, sizeof line), 0);
  close(ready[0]);
  EXPECT_FALSE(W32AskProcessToLeave(static_cast<DWORD>(stays), 100));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TIMEOUT));
  kill(stays, SIGKILL);
  waitpid(stays, nullptr, 0);
}

}  // namespace
