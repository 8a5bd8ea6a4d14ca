#include "GraphCtrl.h"

#include <algorithm>

#include "resource.h"

BEGIN_MESSAGE_MAP(CGraphCtrl, CStatic)
    ON_WM_PAINT()
    ON_WM_ERASEBKGND()
END_MESSAGE_MAP()

CGraphCtrl::CGraphCtrl()
{
    m_background.LoadBitmap(IDB_GRAPH_BACK);
}

int CGraphCtrl::MegabitsFromBytesPerSecond(int bytesPerSecond)
{
    return static_cast<int>(static_cast<long long>(bytesPerSecond) * 8 / 1048576);
}

void CGraphCtrl::AddSample(int megabitsPerSecond)
{
    std::rotate(m_samples.begin(), m_samples.begin() + 1, m_samples.end());
    m_samples.back() = std::min(megabitsPerSecond, 100);
}

void CGraphCtrl::DrawGraph()
{
    Invalidate();
    UpdateWindow();
}

BOOL CGraphCtrl::OnEraseBkgnd(CDC*)
{
    return TRUE;
}

void CGraphCtrl::OnPaint()
{
    CPaintDC dc(this);
    Draw(&dc);
}

void CGraphCtrl::Draw(CDC* dc)
{
    CRect client;
    GetClientRect(&client);
    const int w = client.Width();
    const int h = client.Height();
    if (w <= 0 || h <= 0)
        return;

    // Drawn off screen first, then copied in one go.
    CBitmap frame;
    frame.CreateCompatibleBitmap(dc, w, h);
    CDC memory;
    memory.CreateCompatibleDC(dc);
    memory.SelectObject(&frame);
    if (!m_background.IsNull()) {
        CDC background;
        background.CreateCompatibleDC(dc);
        background.SelectObject(&m_background);
        memory.BitBlt(0, 0, m_background.GetSize().cx, m_background.GetSize().cy, &background, 0, 0, SRCCOPY);
        background.SelectObject(static_cast<CBitmap*>(nullptr));
    }
    for (int i = 0; i < kSamples; ++i) {
        const int height =
            static_cast<int>(static_cast<float>(m_samples[static_cast<size_t>(i)]) / 100.0f * static_cast<float>(h));
        if (height > 0)
            memory.FillSolidRect((w / kSamples) * i + 2, h - height, 3, height, kBarColour);
    }
    dc->BitBlt(0, 0, w, h, &memory, 0, 0, SRCCOPY);
    memory.SelectObject(static_cast<CBitmap*>(nullptr));
}
