// Who owns a TCP socket of this machine: the kernel's socket table, read
// through NETLINK_SOCK_DIAG (inet_diag), names the user that made each
// socket. A loopback peer is told apart from another user's this way without
// changing the port or anything sent on the connection.
#include <dirent.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "error_mapping.h"
#include "win32_ext.h"

namespace w32 {
namespace {

constexpr size_t kReplyBuffer = 32 * 1024;

class NetlinkSocket {
 public:
  NetlinkSocket() : fd_(socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG)) {}
  ~NetlinkSocket() {
    if (fd_ >= 0) close(fd_);
  }
  NetlinkSocket(const NetlinkSocket&) = delete;
  NetlinkSocket& operator=(const NetlinkSocket&) = delete;
  int Get() const { return fd_; }

 private:
  int fd_;
};

// Sends one inet_diag request and hands every socket of the answer to
// `each`, which returns false to stop. False when the kernel could not be
// asked or answered with an error (a lookup of a socket it does not know).
template <typename Each>
bool QuerySockets(const inet_diag_req_v2& request, bool dump, Each each) {
  NetlinkSocket netlink;
  if (netlink.Get() < 0) return false;
  struct {
    nlmsghdr header;
    inet_diag_req_v2 request;
  } message{};
  message.header.nlmsg_len = sizeof message;
  message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  message.header.nlmsg_flags = static_cast<__u16>(NLM_F_REQUEST | (dump ? NLM_F_DUMP : 0));
  message.header.nlmsg_seq = 1;
  message.request = request;
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  if (sendto(netlink.Get(), &message, sizeof message, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) < 0)
    return false;
  alignas(nlmsghdr) static thread_local char buffer[kReplyBuffer];
  for (;;) {
    ssize_t received = recv(netlink.Get(), buffer, sizeof buffer, 0);
    if (received < 0 && errno == EINTR) continue;
    if (received <= 0) return false;
    int left = static_cast<int>(received);
    for (auto* header = reinterpret_cast<nlmsghdr*>(buffer); NLMSG_OK(header, left);
         header = NLMSG_NEXT(header, left)) {
      if (header->nlmsg_type == NLMSG_DONE) return true;
      if (header->nlmsg_type == NLMSG_ERROR) return false;
      if (header->nlmsg_type != SOCK_DIAG_BY_FAMILY || header->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg)))
        continue;
      if (!each(*static_cast<const inet_diag_msg*>(NLMSG_DATA(header))) || !dump) return true;
    }
  }
}

inet_diag_req_v2 Request(int family, uint32_t states) {
  inet_diag_req_v2 request{};
  request.sdiag_family = static_cast<__u8>(family);
  request.sdiag_protocol = IPPROTO_TCP;
  request.idiag_states = states;
  request.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
  request.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
  return request;
}

// Copies the address and port of an IPv4 or IPv6 socket address into the
// fields of a socket identity (ports and addresses stay in network order).
bool PutEndpoint(const sockaddr_storage& address, __be16* port, __be32* words) {
  if (address.ss_family == AF_INET) {
    const auto& in = reinterpret_cast<const sockaddr_in&>(address);
    *port = in.sin_port;
    std::memcpy(words, &in.sin_addr, sizeof in.sin_addr);
    return true;
  }
  if (address.ss_family == AF_INET6) {
    const auto& in6 = reinterpret_cast<const sockaddr_in6&>(address);
    *port = in6.sin6_port;
    std::memcpy(words, &in6.sin6_addr, sizeof in6.sin6_addr);
    return true;
  }
  return false;
}

bool IsLoopbackOrAny(const inet_diag_msg& socket) {
  if (socket.idiag_family == AF_INET) {
    const uint32_t address = ntohl(socket.id.idiag_src[0]);
    return address == INADDR_ANY || (address >> 24) == 127;
  }
  static const uint32_t kAny[4] = {0, 0, 0, 0};
  static const uint32_t kLoopback[4] = {0, 0, 0, htonl(1)};
  return std::memcmp(socket.id.idiag_src, kAny, sizeof kAny) == 0 ||
         std::memcmp(socket.id.idiag_src, kLoopback, sizeof kLoopback) == 0;
}

// The process that holds the socket with this inode, among the processes
// whose descriptors this user may read; 0 when none does.
DWORD ProcessHoldingSocket(uint32_t inode) {
  const std::string wanted = "socket:[" + std::to_string(inode) + "]";
  DIR* processes = opendir("/proc");
  if (processes == nullptr) return 0;
  DWORD found = 0;
  while (found == 0) {
    const dirent* process = readdir(processes);
    if (process == nullptr) break;
    if (process->d_name[0] < '1' || process->d_name[0] > '9') continue;
    const std::string folder = std::string("/proc/") + process->d_name + "/fd";
    DIR* descriptors = opendir(folder.c_str());
    if (descriptors == nullptr) continue;
    while (const dirent* descriptor = readdir(descriptors)) {
      char target[64] = {};
      const std::string link = folder + "/" + descriptor->d_name;
      const ssize_t length = readlink(link.c_str(), target, sizeof target - 1);
      if (length > 0 && wanted.compare(0, std::string::npos, target, static_cast<size_t>(length)) == 0) {
        found = static_cast<DWORD>(std::strtoul(process->d_name, nullptr, 10));
        break;
      }
    }
    closedir(descriptors);
  }
  closedir(processes);
  return found;
}

}  // namespace
}  // namespace w32

DWORD W32GetCurrentOwner(void) { return static_cast<DWORD>(geteuid()); }

BOOL W32GetTcpPeerOwner(UINT_PTR s, DWORD* owner) {
  if (owner == nullptr || s > static_cast<UINT_PTR>(INT32_MAX)) return w32::FailWithErrno(EINVAL);
  const int fd = static_cast<int>(s);
  sockaddr_storage local{};
  sockaddr_storage peer{};
  socklen_t localSize = sizeof local;
  socklen_t peerSize = sizeof peer;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localSize) != 0 ||
      getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerSize) != 0)
    return w32::FailWithErrno(errno);
  if (local.ss_family != peer.ss_family) return w32::FailWithErrno(EAFNOSUPPORT);
  // The peer's socket, seen from its side: its own end is the source.
  inet_diag_req_v2 request = w32::Request(peer.ss_family, ~0u);
  if (!w32::PutEndpoint(peer, &request.id.idiag_sport, request.id.idiag_src) ||
      !w32::PutEndpoint(local, &request.id.idiag_dport, request.id.idiag_dst))
    return w32::FailWithErrno(EAFNOSUPPORT);
  bool found = false;
  const bool asked = w32::QuerySockets(request, false, [&](const inet_diag_msg& socket) {
    found = socket.id.idiag_sport == request.id.idiag_sport && socket.id.idiag_dport == request.id.idiag_dport;
    if (found) *owner = socket.idiag_uid;
    return false;
  });
  return asked && found ? TRUE : w32::FailWithErrno(ENOENT);
}

BOOL W32GetTcpListenerOwner(unsigned short port, DWORD* owner, DWORD* pid) {
  if (owner == nullptr) return w32::FailWithErrno(EINVAL);
  bool found = false;
  uint32_t inode = 0;
  for (const int family : {AF_INET, AF_INET6}) {
    const inet_diag_req_v2 request = w32::Request(family, 1u << TCP_LISTEN);
    (void)w32::QuerySockets(request, true, [&](const inet_diag_msg& socket) {
      if (ntohs(socket.id.idiag_sport) != port || !w32::IsLoopbackOrAny(socket)) return true;
      found = true;
      *owner = socket.idiag_uid;
      inode = socket.idiag_inode;
      return false;
    });
    if (found) break;
  }
  if (!found) return w32::FailWithErrno(ENOENT);
  if (pid != nullptr) *pid = *owner == W32GetCurrentOwner() ? w32::ProcessHoldingSocket(inode) : 0;
  return TRUE;
}
