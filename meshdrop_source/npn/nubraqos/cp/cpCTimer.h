#pragma once
// A periodic timer of the library's timer queue. Due times are always
// computed from the start time (start + interval x periods), so a timer does
// not drift with the lateness of the 100 ms tick that fires it.

#include <cstdint>

#include "cp/cpClock.h"
#include "ov/ovIUnknown.h"
#include "ov/ovSmartPtr.h"

using cpTimerCallback = void (*)(void* context);

// Tags in use.
inline constexpr std::uint32_t CP_TIMER_TAG_COLLECTOR = 0x1000001;
inline constexpr std::uint32_t CP_TIMER_TAG_QOS_TICK = 0x1000002;
inline constexpr std::uint32_t CP_TIMER_TAG_CONNECT = 0x1000003;
inline constexpr std::uint32_t CP_TIMER_TAG_HEAD_START = 0x1000004;
inline constexpr std::uint32_t CP_TIMER_TAG_UPDATE_RETRY = 0x7000001;
inline constexpr std::uint32_t CP_TIMER_TAG_PROGRESS = 0xFFFFFFFF;

class cpCTimer : public ovTRefCounted<ovIUnknown> {
public:
    cpCTimer() = default;
    ~cpCTimer() override;

    // Starts the timer from now and puts it on the timer queue. Starting a
    // running timer restarts it with the new settings (it keeps one entry).
    // Fails with OVR_PLATFORM_FAIL when no timer queue exists.
    virtual OVRESULT Start(std::uint32_t intervalMs, cpTimerCallback callback, void* context, std::uint32_t tag,
                           ovIUnknown* lock);
    // Takes the timer off the queue; its callback is not called again.
    virtual OVRESULT Stop();
    // Counts periods again from now.
    virtual OVRESULT Restart();

    bool IsRunning() const { return m_callback != nullptr; }
    std::uint32_t GetInterval() const { return m_intervalMs; }
    cpTime GetDueTime() const { return m_due; }

    // Used by the timer queue's tick.
    bool IsDue(cpTime now) const;
    void Fire();
    void RestartFrom(cpTime now);

private:
    cpTimerCallback m_callback = nullptr;
    void* m_context = nullptr;
    cpTime m_due;
    cpTime m_start;
    std::uint32_t m_intervalMs = 0;
    ovSmartPtr m_lock;
    std::uint32_t m_periods = 0;
};
