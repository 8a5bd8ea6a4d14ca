#pragma once
// Tells when nothing can be reached: at least three transfers failed without
// an answer since the last byte arrived, and no byte arrived for 5 seconds.
// The first byte after that brings the network back. While it is lost,
// transfers that fail without an answer do not use up their attempts.

#include <chrono>

namespace engine {

class NetworkWatch {
public:
    using Clock = std::chrono::steady_clock;
    enum class Change { None, Lost, Back };

    explicit NetworkWatch(Clock::time_point now = Clock::now()) : m_lastByte(now) {}

    void NoteBytes(Clock::time_point now);
    void NoteUnanswered() { ++m_unanswered; }
    // Called once a second: the change since the last call.
    Change Update(Clock::time_point now);
    bool IsLost() const { return m_lost; }
    double SecondsSinceByte(Clock::time_point now) const;
    Clock::time_point LastByte() const { return m_lastByte; }

private:
    Clock::time_point m_lastByte;
    int m_unanswered = 0;
    bool m_lost = false;
    bool m_back = false;
};

} // namespace engine
