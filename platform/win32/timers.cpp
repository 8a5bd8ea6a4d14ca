// SetTimer/KillTimer: timers of the window's thread, or of the calling
// thread for a null window.
#include "window_table.h"

using namespace w32;

namespace {

std::shared_ptr<MessageQueue> TimerQueue(HWND hwnd) {
  return hwnd == nullptr ? MessageQueue::Current() : WindowQueue(hwnd);
}

}  // namespace

UINT_PTR WINAPI SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc) {
  auto queue = TimerQueue(hWnd);
  if (!queue) return 0;
  return queue->SetTimer(hWnd, nIDEvent, uElapse, lpTimerFunc);
}

BOOL WINAPI KillTimer(HWND hWnd, UINT_PTR uIDEvent) {
  auto queue = TimerQueue(hWnd);
  if (!queue || !queue->KillTimer(hWnd, uIDEvent)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return TRUE;
}
