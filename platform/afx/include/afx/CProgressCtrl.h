// CProgressCtrl: a bar with a range and a position.
#pragma once

#include "afx/CWnd.h"

class CProgressCtrl : public CWnd {
public:
    BOOL Create(DWORD style, const RECT& rect, CWnd* parent, UINT id);
    virtual void SetRange32(int lower, int upper);
    void SetRange(short lower, short upper) { SetRange32(lower, upper); }
    void GetRange(int& lower, int& upper) const;
    virtual int SetPos(int position);
    int GetPos() const;
    int SetStep(int step);
    int StepIt();

private:
    int m_step = 10;
};
