// CTransparentStatic2: a label that shows its parent through it. It keeps a
// copy of what lies under it and paints that copy before each text, so an
// old text disappears when a new one is set.
#pragma once

#include <afxwin.h>

#include "SavedBackground.h"

class CTransparentStatic2 : public CStatic {
protected:
    HBRUSH CtlColor(CDC* dc, UINT ctlColor);
    BOOL OnEraseBkgnd(CDC* dc);
    LRESULT OnSetText(WPARAM wParam, LPARAM lParam);
    DECLARE_MESSAGE_MAP()

private:
    CSavedBackground m_background;
};
