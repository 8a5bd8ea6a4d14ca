// Window objects behind HWND values: class, procedure, title, owning thread.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "message_queue.h"

namespace w32 {

struct Window {
  HWND handle = nullptr;
  std::wstring className;
  WNDPROC proc = nullptr;
  std::wstring title;
  HWND parent = nullptr;
  DWORD style = 0;
  LONG_PTR userData = 0;
  LONG_PTR id = 0;
  HINSTANCE instance = nullptr;
  bool iconic = false;
  bool visible = false;
  std::shared_ptr<MessageQueue> queue;  // null for a window of another process
  DWORD remotePid = 0;                  // the owning process, for a window of another process
  uintptr_t remoteHandle = 0;           // its HWND value in that process
  std::vector<HWND> popups;             // modal pop-ups it has open, innermost last
};

std::shared_ptr<Window> LookupWindow(HWND hwnd);
// Changes the published state of a window of this process under the table
// lock: `iconic` and `visible` are -1 to keep, else 0 or 1. Reports the
// previous visibility; false for an unknown window.
bool UpdateWindowState(HWND hwnd, int iconic, int visible, bool* wasVisible, bool* iconicChanged);
bool WindowIsIconic(HWND hwnd);
// The queue of a window of this process (nullptr with ERROR_INVALID_WINDOW_HANDLE).
std::shared_ptr<MessageQueue> WindowQueue(HWND hwnd);

// Top-level windows of this process with a title, for publishing.
struct PublishedWindow {
  uintptr_t handle;
  bool iconic;
  std::wstring title;
  uintptr_t popup;  // its innermost open modal pop-up, 0 for none
};
std::vector<PublishedWindow> TitledTopLevelWindows();
// A window of this process by title (and class when given), or nullptr.
HWND FindLocalWindow(const std::wstring* className, const std::wstring& title);
// Records that `popup` opens (`open`) or closes as a modal pop-up of `owner`,
// a window of this process; false for an unknown owner.
bool SetActivePopup(HWND owner, HWND popup, bool open);
// The innermost open pop-up of a window of this process that still exists,
// or nullptr.
HWND InnermostPopup(HWND owner);
// The handle of this process that stands for a window of another process.
HWND RemoteWindowHandle(DWORD pid, uintptr_t remoteHandle, const std::wstring& title, bool iconic);

}  // namespace w32
