// Events, critical sections and in-process mutex ownership.
#include <mutex>
#include <new>

#include "error_mapping.h"
#include "handle_table.h"
#include "mutex_object.h"

namespace w32 {
namespace {

class EventObject : public Waitable {
 public:
  EventObject(bool manual, bool initial) : manualReset(manual), signaled(initial) {}
  bool IsSignaledLocked() const override { return signaled; }
  void ConsumeLocked() override {
    if (!manualReset) signaled = false;
  }
  const bool manualReset;
  bool signaled;  // guarded by WaitLock()
};

HANDLE NewEvent(BOOL manual, BOOL initial, bool named) {
  if (named) {
    // Events are only used unnamed here; a name is accepted and ignored.
  }
  return InsertHandle(std::make_shared<EventObject>(manual != FALSE, initial != FALSE));
}

BOOL SetEventState(HANDLE h, bool state) {
  auto event = LookupHandleAs<EventObject>(h);
  if (!event) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::lock_guard<std::mutex> lock(WaitLock());
  event->signaled = state;
  if (state) NotifyWaiters();
  return TRUE;
}

static_assert(sizeof(std::recursive_mutex) <= sizeof(CRITICAL_SECTION::Opaque), "critical section storage");

std::recursive_mutex* Lock(LPCRITICAL_SECTION cs) {
  return std::launder(reinterpret_cast<std::recursive_mutex*>(cs->Opaque));
}

}  // namespace

bool MutexObject::IsSignaledLocked() const { return owner == 0 || owner == GetCurrentThreadId(); }

void MutexObject::ConsumeLocked() {
  owner = GetCurrentThreadId();
  ++count;
}

}  // namespace w32

using namespace w32;

HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES, BOOL bManualReset, BOOL bInitialState, LPCSTR lpName) {
  return NewEvent(bManualReset, bInitialState, lpName != nullptr);
}

HANDLE WINAPI CreateEventW(LPSECURITY_ATTRIBUTES, BOOL bManualReset, BOOL bInitialState, LPCWSTR lpName) {
  return NewEvent(bManualReset, bInitialState, lpName != nullptr);
}

BOOL WINAPI SetEvent(HANDLE hEvent) { return SetEventState(hEvent, true); }

BOOL WINAPI ResetEvent(HANDLE hEvent) { return SetEventState(hEvent, false); }

BOOL WINAPI ReleaseMutex(HANDLE hMutex) {
  auto mutex = LookupHandleAs<MutexObject>(hMutex);
  if (!mutex) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::lock_guard<std::mutex> lock(WaitLock());
  if (mutex->owner != GetCurrentThreadId() || mutex->count == 0) {
    SetLastError(ERROR_NOT_OWNER);
    return FALSE;
  }
  if (--mutex->count == 0) {
    mutex->owner = 0;
    NotifyWaiters();
  }
  return TRUE;
}

void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  new (lpCriticalSection->Opaque) std::recursive_mutex();
}

BOOL WINAPI InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION lpCriticalSection, DWORD) {
  InitializeCriticalSection(lpCriticalSection);
  return TRUE;
}

void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection) { Lock(lpCriticalSection)->~recursive_mutex(); }

void WINAPI EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) { Lock(lpCriticalSection)->lock(); }

BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  return Lock(lpCriticalSection)->try_lock() ? TRUE : FALSE;
}

void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection) { Lock(lpCriticalSection)->unlock(); }
