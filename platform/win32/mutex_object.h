// The kernel object behind a mutex handle: ownership within this process,
// and for a named mutex the lock file that makes the name visible to other
// processes.
#pragma once

#include "handle_table.h"

namespace w32 {

class MutexObject : public Waitable {
 public:
  ~MutexObject() override;
  bool IsSignaledLocked() const override;
  void ConsumeLocked() override;

  DWORD owner = 0;  // guarded by WaitLock()
  DWORD count = 0;
  int lockFd = -1;  // the named mutex's lock file, held shared while this object lives
};

}  // namespace w32
