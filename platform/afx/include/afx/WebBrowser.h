// The web-browser control of dialogs ("Browser" class): shows what an
// address serves, a picture (animated when it is a GIF) or the beginning of
// the text. The framework fetches http addresses itself.
#pragma once

#include "afx/CWnd.h"

BOOL AfxBrowserNavigate(CWnd* browser, LPCWSTR url);
