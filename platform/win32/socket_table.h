// The state the socket layer keeps per socket: connection phase and the
// WSAAsyncSelect registration with its re-enabling flags.
#pragma once

#include <memory>
#include <mutex>

#include "message_queue.h"

namespace w32 {

enum class SocketPhase { Idle, Listening, Connecting, Connected };

struct SocketState {
  int fd = -1;
  uint32_t generation = 0;  // tells a reused descriptor number from its predecessor
  bool stream = true;
  SocketPhase phase = SocketPhase::Idle;
  int pendingConnectError = 0;  // errno of a non-blocking connect that failed at once

  // WSAAsyncSelect registration.
  HWND hwnd = nullptr;
  UINT message = 0;
  long mask = 0;
  // The descriptor's entry in the queue's epoll set is one-shot: reporting
  // an event disables it until UpdateInterestLocked enables it again, so a
  // notice costs one change of the entry rather than a removal and an add.
  std::weak_ptr<MessageQueue> queue;  // where the descriptor is watched
  bool inSet = false;                 // it has an entry in that queue's set (maybe disabled)
  uint32_t watched = 0;               // epoll events the entry reports now (0: none)

  // Re-enabling: a notice of each kind may be posted while its flag is set.
  bool readArmed = false;    // FD_READ / FD_CLOSE detection; set again by recv
  bool writeArmed = false;   // FD_WRITE; set after connect and by a send that would block
  bool acceptArmed = false;  // FD_ACCEPT; set again by accept
  bool closePosted = false;  // FD_CLOSE is posted once
};

// The table lock; every SocketState is read and changed under it.
std::mutex& SocketLock();
// The state of a socket created by this layer (or adopted on first use),
// nullptr when the descriptor is not a socket. SocketLock() is held.
SocketState* FindSocketLocked(int fd, bool adopt);
SocketState& AddSocketLocked(int fd);
void RemoveSocketLocked(int fd);

uint64_t SocketKey(const SocketState& state);
// Brings the epoll registration in line with the flags. SocketLock() is held.
void UpdateInterestLocked(SocketState& state);

// Winsock's last-error helpers for the socket calls.
int FailSocketCall(int err);

}  // namespace w32
