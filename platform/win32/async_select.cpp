// WSAAsyncSelect: socket readiness in the owning thread's epoll set, turned
// into notices posted to the window with Winsock's re-enabling rules.
#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/socket.h>

#include <cerrno>

#include "error_mapping.h"
#include "socket_table.h"
#include "window_table.h"
#include "winsock2.h"

namespace w32 {
namespace {

struct Notice {
  WORD event;
  int error;
};

// The notices of one readiness report: at most a connect, a read or close,
// and a write notice.
struct Notices {
  Notice items[3];
  int count = 0;
  void push_back(Notice n) {
    if (count < 3) items[count++] = n;
  }
};

// The epoll events that can lead to a notice in the socket's present state.
uint32_t DesiredEvents(const SocketState& st) {
  if (st.hwnd == nullptr || st.mask == 0) return 0;
  switch (st.phase) {
    case SocketPhase::Idle: return 0;
    case SocketPhase::Listening: return st.acceptArmed && (st.mask & FD_ACCEPT) ? uint32_t{EPOLLIN} : 0u;
    case SocketPhase::Connecting: return uint32_t{EPOLLOUT};  // completion or failure
    case SocketPhase::Connected: {
      uint32_t events = 0;
      if (st.readArmed && (st.mask & (FD_READ | FD_CLOSE))) events |= EPOLLIN | EPOLLRDHUP;
      if (st.writeArmed && (st.mask & FD_WRITE)) events |= EPOLLOUT;
      return events;
    }
  }
  return 0;
}

// Looks at the receive side of a connected socket: data waiting, the peer's
// close once everything before it has been read, or a connection error.
void CheckReadSide(SocketState& st, uint32_t events, Notices& notices) {
  // Readable without a close or an error: bytes (or a datagram) wait, so
  // there is nothing to look at before the read notice.
  const bool dataOnly = (events & EPOLLIN) && !(events & (EPOLLRDHUP | EPOLLHUP | EPOLLERR));
  char probe;
  ssize_t n = dataOnly ? 1 : ::recv(st.fd, static_cast<void*>(&probe), size_t{1}, MSG_PEEK | MSG_DONTWAIT);
  // A datagram socket has no close: an empty datagram or a queued error
  // (an ICMP refusal) is for recvfrom to report.
  bool datagram = !st.stream && (n >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR));
  if (n > 0 || datagram) {
    if (st.mask & FD_READ) notices.push_back({FD_READ, 0});
    st.readArmed = false;  // until the program calls recv
    return;
  }
  int err = n == 0 ? 0 : errno;
  if (n < 0 && (err == EAGAIN || err == EWOULDBLOCK || err == EINTR)) return;
  // End of stream with nothing left unread, or a reset connection.
  if ((st.mask & FD_CLOSE) && !st.closePosted) notices.push_back({FD_CLOSE, WsaErrorFromErrno(err)});
  st.closePosted = true;
  st.readArmed = false;
}

}  // namespace

uint64_t SocketKey(const SocketState& state) {
  return (static_cast<uint64_t>(state.generation) << 32) | static_cast<uint32_t>(state.fd);
}

void UpdateInterestLocked(SocketState& st) {
  uint32_t desired = DesiredEvents(st);
  if (desired == st.watched) return;
  auto queue = st.queue.lock();
  if (!queue) {
    st.watched = 0;
    st.inSet = false;
    return;
  }
  if (desired == 0) {
    // An enabled entry reports errors and hang-ups whatever it asks for.
    queue->UnwatchDescriptor(st.fd);
    st.watched = 0;
    st.inSet = false;
  } else if (queue->WatchDescriptor(st.fd, SocketKey(st), desired | EPOLLONESHOT, st.inSet)) {
    st.watched = desired;
    st.inSet = true;
  }
}

void DispatchSocketReadiness(uint64_t key, uint32_t events) {
  Notices notices;
  HWND hwnd = nullptr;
  UINT message = 0;
  SOCKET socket = INVALID_SOCKET;
  {
    std::lock_guard<std::mutex> lock(SocketLock());
    int fd = static_cast<int>(key & 0xFFFFFFFFu);
    SocketState* st = FindSocketLocked(fd, false);
    if (st == nullptr || SocketKey(*st) != key) return;  // closed, or the number was reused
    st->watched = 0;                                     // the one-shot entry reported: disabled
    const bool failed = (events & (EPOLLERR | EPOLLHUP)) != 0;
    switch (st->phase) {
      case SocketPhase::Connecting: {
        int err = 0;
        socklen_t len = sizeof(err);
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
        if (err == 0 && !(events & EPOLLOUT)) break;
        if (err == 0) {
          st->phase = SocketPhase::Connected;
          if (st->mask & FD_CONNECT) notices.push_back({FD_CONNECT, 0});
          if (st->mask & FD_WRITE) notices.push_back({FD_WRITE, 0});
          st->readArmed = true;
          st->writeArmed = false;
        } else {
          st->phase = SocketPhase::Idle;  // nothing more is reported for a failed attempt
          if (st->mask & FD_CONNECT) notices.push_back({FD_CONNECT, WsaErrorFromErrno(err)});
        }
        break;
      }
      case SocketPhase::Listening:
        if ((events & EPOLLIN) && st->acceptArmed) {
          notices.push_back({FD_ACCEPT, 0});
          st->acceptArmed = false;  // until the program calls accept
        }
        break;
      case SocketPhase::Connected:
        if (st->readArmed && (events & (EPOLLIN | EPOLLRDHUP | EPOLLERR | EPOLLHUP)))
          CheckReadSide(*st, events, notices);
        if ((events & EPOLLOUT) && st->writeArmed) {
          if (st->mask & FD_WRITE) notices.push_back({FD_WRITE, 0});
          st->writeArmed = false;  // until a send would block
        }
        // A broken connection stays "ready" for ever: stop watching until the
        // program reads again (its recv re-arms and finds the close).
        if (failed && !st->readArmed) st->writeArmed = false;
        break;
      case SocketPhase::Idle: break;
    }
    UpdateInterestLocked(*st);
    hwnd = st->hwnd;
    message = st->message;
    socket = static_cast<SOCKET>(fd);
  }
  for (int i = 0; i < notices.count; ++i)
    PostMessageW(hwnd, message, socket, WSAMAKESELECTREPLY(notices.items[i].event, notices.items[i].error));
}

}  // namespace w32

using namespace w32;

int WSAAsyncSelect(SOCKET s, HWND hWnd, UINT wMsg, long lEvent) {
  if (s == INVALID_SOCKET || s > static_cast<SOCKET>(INT32_MAX)) return FailSocketCall(ENOTSOCK);
  int fd = static_cast<int>(s);
  std::shared_ptr<MessageQueue> queue;
  if (lEvent != 0) {
    queue = WindowQueue(hWnd);
    if (!queue) return FailSocketCall(EINVAL);
  }
  int pendingError = 0;
  {
    std::lock_guard<std::mutex> lock(SocketLock());
    SocketState* st = FindSocketLocked(fd, true);
    if (st == nullptr) return FailSocketCall(ENOTSOCK);
    // The previous registration ends, wherever it was watched.
    if (st->inSet)
      if (auto old = st->queue.lock()) old->UnwatchDescriptor(fd);
    st->inSet = false;
    st->watched = 0;
    st->hwnd = lEvent != 0 ? hWnd : nullptr;
    st->message = wMsg;
    st->mask = lEvent;
    st->queue = queue;
    if (lEvent != 0) {
      int flags = fcntl(fd, F_GETFL);
      if (flags >= 0) fcntl(fd, F_SETFL, flags | O_NONBLOCK);
      // Re-arm: a condition that already holds is reported at once.
      st->readArmed = !st->closePosted;
      st->writeArmed = st->phase == SocketPhase::Connected;
      st->acceptArmed = true;
      if (st->pendingConnectError != 0 && (lEvent & FD_CONNECT)) {
        pendingError = st->pendingConnectError;
        st->pendingConnectError = 0;
      }
    }
    UpdateInterestLocked(*st);
  }
  if (pendingError != 0) PostMessageW(hWnd, wMsg, s, WSAMAKESELECTREPLY(FD_CONNECT, WsaErrorFromErrno(pendingError)));
  return 0;
}
