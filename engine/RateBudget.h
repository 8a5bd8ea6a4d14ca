#pragma once
// The budget of a job held to a rate, shared by every transfer of the job:
// transfers take what they write; a transfer that finds no room pauses until
// the refill of the engine's loop finds room again.
//
// The budget is a sliding second, as the direct path's quota is: no window
// of one second ever holds more than the rate. A write cannot be cut short
// (libcurl hands a transfer's data in pieces of up to its buffer and takes
// either all of a piece or a pause), so room means room for the largest
// piece: a take is allowed while the last second's bytes and one more piece
// stay within the rate. Only a rate below one piece lets a piece through
// whenever the last second holds nothing.
//
// Within the second the bytes are paced: a small bucket, refilled at the rate
// and starting empty, must also hold something for a take. Without it the
// whole second's budget would go at its start and the transfers then wait,
// so that a window a little longer than a second, starting before such a
// burst, could hold two of them.

#include <chrono>
#include <cstdint>
#include <deque>

namespace engine {

class RateBudget {
public:
    using Clock = std::chrono::steady_clock;

    // 0 bytes per second: unlimited. `largestTake`: the most one write can
    // take (the transfers' buffer when the job is held to a rate).
    explicit RateBudget(std::uint64_t bytesPerSecond = 0, Clock::time_point now = Clock::now(),
                        std::uint64_t largestTake = 16 * 1024);

    bool IsLimited() const { return m_rate != 0; }
    bool HasRoom() const;
    void Take(std::uint64_t bytes, Clock::time_point now = Clock::now());
    // Forgets the bytes that have left the last second.
    void Refill(Clock::time_point now);

private:
    struct Taken {
        Clock::time_point at;
        std::uint64_t bytes;
    };

    std::uint64_t m_rate;
    std::uint64_t m_largestTake;
    std::deque<Taken> m_taken; // within the last second, oldest first
    std::uint64_t m_inWindow = 0;
    double m_paced = 0; // the bucket's bytes; a take may leave it below zero
    double m_pacedCapacity = 0;
    Clock::time_point m_pacedAt;
};

// The stricter of two rates in bytes per second, 0 standing for none.
std::uint64_t StricterRate(std::uint64_t a, std::uint64_t b);

} // namespace engine
