// The two kinds of message box: one owned by a window with a caption of the
// caller's choice (CWnd::MessageBox), and the application box captioned with
// the application title (AfxMessageBox). A box runs a nested loop in which
// posted messages keep reaching their windows.
//
// A test responder answers boxes instead of showing them and sees what each
// box would have shown.
#pragma once

#include <functional>

#include "afx/CString.h"

class CWnd;

struct AfxMessageBoxCall {
    CString text;
    CString caption;
    UINT buttons;        // MB_OK, MB_YESNO, ...
    UINT icon;           // 0, MB_ICONINFORMATION, ...
    bool applicationBox; // AfxMessageBox rather than a window's box
};

using AfxMessageBoxResponder = std::function<int(const AfxMessageBoxCall&)>;

// Installs the responder for the whole process; an empty one shows real boxes.
void AfxSetMessageBoxResponder(AfxMessageBoxResponder responder);

int AfxMessageBox(LPCWSTR text, UINT type = MB_OK, UINT helpId = 0);
int AfxShowMessageBox(CWnd* owner, LPCWSTR text, LPCWSTR caption, UINT type, bool applicationBox);
