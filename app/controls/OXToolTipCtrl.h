// COXToolTipCtrl: a tip window for registered tools. The dialog hands it
// every message before dispatch (RelayEvent). Resting on a tool for 500 ms
// shows its text 20 pixels below the cursor; the tip goes when the cursor
// leaves the tool, after 5 seconds, or at once on a click or a key.
#pragma once

#include <vector>

#include <afxwin.h>

class COXToolTipCtrl : public CWnd {
public:
    static constexpr UINT kShowDelay = 500;
    static constexpr UINT kCheckInterval = 500;
    static constexpr ULONGLONG kShowTime = 5000;

    BOOL Create(CWnd* parent);
    BOOL AddTool(CWnd* tool, LPCWSTR text);
    int SetMaxTipWidth(int width);
    void RelayEvent(MSG* msg);
    BOOL IsTipVisible() const { return IsWindowVisible(); }

protected:
    void OnPaint();
    BOOL OnEraseBkgnd(CDC* dc);
    void OnTimer(UINT_PTR id);
    DECLARE_MESSAGE_MAP()

private:
    enum : UINT_PTR { kTimerShow = 1, kTimerCheck = 2 };
    struct Tool {
        HWND window;
        CString text;
    };

    const Tool* ToolAt(POINT screenPoint) const;
    void Show(POINT screenPoint);
    void Hide();

    std::vector<Tool> m_tools;
    const Tool* m_current = nullptr;
    CFont m_font;
    int m_maxWidth = 300;
    ULONGLONG m_shownAt = 0;
    CRect m_margins{3, 5, 3, 3};
};
