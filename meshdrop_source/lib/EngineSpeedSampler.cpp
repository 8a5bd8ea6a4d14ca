#include "EngineSpeedSampler.h"

#include <cstddef>

void CEngineSpeedSampler::Clear()
{
    m_samples = {};
    m_nNewest = -1;
}

void CEngineSpeedSampler::Add(int64_t elapsedSeconds, uint32_t speed)
{
    m_nNewest = (m_nNewest + 1) % kSampleCount;
    m_samples[static_cast<std::size_t>(m_nNewest)] = Sample{elapsedSeconds, speed};
}

uint32_t CEngineSpeedSampler::GetAverage() const
{
    if (m_nNewest < 0)
        return 0;
    const int64_t newest = m_samples[static_cast<std::size_t>(m_nNewest)].time;
    uint64_t sum = 0;
    uint64_t count = 0;
    for (const Sample& sample : m_samples) {
        // The difference taken unsigned: no overflow for any time the engine sends.
        const bool recent = sample.time >= newest ||
                            static_cast<uint64_t>(newest) - static_cast<uint64_t>(sample.time) <= kWindowSeconds;
        if (sample.time != 0 && recent) {
            sum += sample.speed;
            ++count;
        }
    }
    return count == 0 ? 0 : static_cast<uint32_t>(sum / count);
}
