#pragma once
// What one size probe tells its checker. The checker may destroy the probe
// from inside either report.

class CPlatformFileSizeCheckSession;

class IPlatformFileSizeCheckSessionEventListener {
public:
    // The probe stored its entry's size.
    virtual void OnProbeDone(CPlatformFileSizeCheckSession* probe) = 0;
    // `code`: 513 not enough disk space, 517 no size; `text`: the entry's URL.
    virtual void OnProbeFailed(int code, const char* text) = 0;

protected:
    ~IPlatformFileSizeCheckSessionEventListener() = default;
};
