// Scoped selections into a device context: each chooses one attribute when
// constructed and puts the previous one back when destroyed.
#pragma once

#include <afxwin.h>

// The font object that CSelFont selects.
class CMyFont : public CFont {
public:
    CMyFont() = default;
    CMyFont(LPCWSTR face, int pixelHeight, int weight = FW_NORMAL)
    {
        CreateFont(-pixelHeight, 0, 0, 0, weight, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, face);
    }
};

class CSelect {
public:
    explicit CSelect(CDC* dc) : m_dc(dc) {}
    virtual ~CSelect() = default;
    CSelect(const CSelect&) = delete;
    CSelect& operator=(const CSelect&) = delete;

protected:
    CDC* m_dc;
};

class CSelFont : public CSelect {
public:
    CSelFont(CDC* dc, CFont* font) : CSelect(dc), m_previous(dc->SelectObject(font)) {}
    ~CSelFont() override { m_dc->SelectObject(m_previous); }

private:
    CFont* m_previous;
};

class CSelTextColor : public CSelect {
public:
    CSelTextColor(CDC* dc, COLORREF colour) : CSelect(dc), m_previous(dc->SetTextColor(colour)) {}
    ~CSelTextColor() override { m_dc->SetTextColor(m_previous); }

private:
    COLORREF m_previous;
};

class CSelBkMode : public CSelect {
public:
    CSelBkMode(CDC* dc, int mode) : CSelect(dc), m_previous(dc->SetBkMode(mode)) {}
    ~CSelBkMode() override { m_dc->SetBkMode(m_previous); }

private:
    int m_previous;
};

class CSelTextAlign : public CSelect {
public:
    CSelTextAlign(CDC* dc, UINT align) : CSelect(dc), m_previous(dc->SetTextAlign(align)) {}
    ~CSelTextAlign() override { m_dc->SetTextAlign(m_previous); }

private:
    UINT m_previous;
};
