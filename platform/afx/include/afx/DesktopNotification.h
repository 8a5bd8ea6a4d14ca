// A notice on the desktop, outside the program's windows: what a tray
// balloon is on Windows, a freedesktop notification on Linux desktops (over
// the session's D-Bus). For news a player should see while working in
// another program, such as a finished download.
#pragma once

#include "afx/AfxTypes.h"

// Shows `title` and `text` with the program's icon. Does nothing and answers
// FALSE when the session has no bus or no notification service runs on it;
// never waits for the service's answer.
BOOL AfxShowDesktopNotification(LPCWSTR title, LPCWSTR text);
