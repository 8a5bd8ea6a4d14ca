// CExplorer1: host of the web-browser control of the banner area.
#pragma once

#include <afxwin.h>

class CExplorer1 : public CWnd {
public:
    // Shows what the address serves. Flags, frame, post data and headers
    // are not used by this window and may be null.
    void Navigate(LPCWSTR url, VARIANT* flags, VARIANT* targetFrameName, VARIANT* postData, VARIANT* headers);
};
