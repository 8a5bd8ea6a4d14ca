// What a parent window shows under a control, copied the first time the
// control draws and painted back before each later drawing. Transparent
// controls use it so that their old content disappears.
#pragma once

#include <afxwin.h>

class CSavedBackground {
public:
    // Paints the saved picture into `dc` at 0,0, copying it from the parent
    // of `control` first when there is none yet.
    void Paint(CWnd& control, CDC* dc);
    void Forget() { m_picture.DeleteObject(); }

private:
    CBitmap m_picture;
};
