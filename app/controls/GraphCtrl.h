// CGraphCtrl: the speed graph, the last 68 samples in megabits per second
// as bars over a background picture. Full height is 100.
#pragma once

#include <array>

#include <afxwin.h>

class CGraphCtrl : public CStatic {
public:
    static constexpr int kSamples = 68;
    static constexpr COLORREF kBarColour = RGB(0xD5, 0xBA, 0x11);

    CGraphCtrl();

    // Moves the graph left by one sample; values above 100 are stored as 100.
    void AddSample(int megabitsPerSecond);
    // Redraws the graph now.
    void DrawGraph();
    const std::array<int, kSamples>& Samples() const { return m_samples; }

    // The graph's unit: bytes per second times 8 over 1,048,576, rounded
    // towards zero. Speeds that would not fit stay at the largest value.
    static int MegabitsFromBytesPerSecond(int bytesPerSecond);

protected:
    void OnPaint();
    BOOL OnEraseBkgnd(CDC* dc);
    DECLARE_MESSAGE_MAP()

private:
    void Draw(CDC* dc);

    std::array<int, kSamples> m_samples{};
    CBitmap m_background;
};
