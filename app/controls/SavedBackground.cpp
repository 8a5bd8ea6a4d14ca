#include "SavedBackground.h"

void CSavedBackground::Paint(CWnd& control, CDC* dc)
{
    CRect client;
    control.GetClientRect(&client);
    CDC memory;
    memory.CreateCompatibleDC(dc);
    if (m_picture.IsNull()) {
        CWnd* parent = control.GetParent();
        CRect inParent;
        control.GetWindowRect(&inParent);
        if (parent)
            parent->ScreenToClient(&inParent);
        CClientDC parentDC(parent, &control);
        m_picture.CreateCompatibleBitmap(dc, client.Width(), client.Height());
        memory.SelectObject(&m_picture);
        memory.BitBlt(0, 0, client.Width(), client.Height(), &parentDC, inParent.left, inParent.top, SRCCOPY);
    } else {
        memory.SelectObject(&m_picture);
    }
    dc->BitBlt(0, 0, client.Width(), client.Height(), &memory, 0, 0, SRCCOPY);
    memory.SelectObject(static_cast<CBitmap*>(nullptr));
}
