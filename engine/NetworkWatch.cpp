#include "NetworkWatch.h"

namespace engine {

namespace {
constexpr int kUnansweredForLost = 3;
constexpr double kQuietSecondsForLost = 5.0;
} // namespace

void NetworkWatch::NoteBytes(Clock::time_point now)
{
    m_lastByte = now;
    m_unanswered = 0;
    if (m_lost) {
        m_lost = false;
        m_back = true;
    }
}

NetworkWatch::Change NetworkWatch::Update(Clock::time_point now)
{
    if (m_back) {
        m_back = false;
        return Change::Back;
    }
    if (!m_lost && m_unanswered >= kUnansweredForLost && SecondsSinceByte(now) >= kQuietSecondsForLost) {
        m_lost = true;
        return Change::Lost;
    }
    return Change::None;
}

double NetworkWatch::SecondsSinceByte(Clock::time_point now) const
{
    return std::chrono::duration<double>(now - m_lastByte).count();
}

} // namespace engine
