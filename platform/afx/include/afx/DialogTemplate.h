// Dialog templates as data: the dialog's frame, font and controls, with
// positions and sizes in dialog units of the template's font.
#pragma once

#include <vector>

#include "afx/AfxTypes.h"

struct AfxDialogItem {
    LPCWSTR className; // "Static", "Button", "msctls_progress32", "Browser"
    LPCWSTR text;
    DWORD style; // WS_CHILD is implied
    short x, y, cx, cy;
    UINT id;
};

struct AfxDialogTemplate {
    UINT id;
    DWORD style;
    short cx, cy;
    LPCWSTR caption;
    LPCWSTR fontFace;
    int pointSize;
    std::vector<AfxDialogItem> items;
};
