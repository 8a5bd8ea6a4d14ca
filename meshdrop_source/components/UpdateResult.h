#pragma once
// CUpdateResult: whether an engine update went without a fault so far.

class CUpdateResult {
public:
    virtual ~CUpdateResult() = default;

    // Store codes 1 to 6 are faults; 0 (stored) and 7 and higher leave the
    // flag alone.
    void Update(int code)
    {
        if (code >= 1 && code <= 6)
            m_nOk = 0;
    }
    int IsOk() const { return m_nOk; }

private:
    int m_nOk = 1;
};
