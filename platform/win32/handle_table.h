// Kernel objects behind HANDLE values, and the waits on them.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "windows.h"

namespace w32 {

// Anything a HANDLE can name. CloseHandle drops the table's reference; the
// object lives on while an operation still uses it.
class KernelObject {
 public:
  virtual ~KernelObject() = default;
};

// An object WaitForSingleObject can wait on. Its state is read and changed
// under WaitLock(); whoever changes it calls NotifyWaiters().
class Waitable : public KernelObject {
 public:
  virtual bool IsSignaledLocked() const = 0;
  // Called once a wait is satisfied: an auto-reset event resets, a mutex is taken.
  virtual void ConsumeLocked() {}
};

std::mutex& WaitLock();
void NotifyWaiters();
// Blocks until the next NotifyWaiters(); `lock` holds WaitLock().
void WaitForChange(std::unique_lock<std::mutex>& lock);

HANDLE InsertHandle(std::shared_ptr<KernelObject> object);
std::shared_ptr<KernelObject> LookupHandle(HANDLE handle);
bool RemoveHandle(HANDLE handle);

template <typename T>
std::shared_ptr<T> LookupHandleAs(HANDLE handle) {
  return std::dynamic_pointer_cast<T>(LookupHandle(handle));
}

// Milliseconds of a monotonic clock.
uint64_t MonotonicMs();

}  // namespace w32
