#pragma once
// CEngineSpeedSampler: the last ten speed figures the local engine reported,
// each with the engine's elapsed seconds, averaged over the ten seconds up to
// the newest one. The engine's figures jump from second to second; the
// window shows this average and computes the remaining time from it.

#include <array>
#include <cstdint>

class CEngineSpeedSampler {
public:
    static constexpr int kSampleCount = 10;
    static constexpr int64_t kWindowSeconds = 10;

    void Clear();
    // Overwrites the oldest sample.
    void Add(int64_t elapsedSeconds, uint32_t speed);
    // The mean of the samples with a time that lie at most kWindowSeconds
    // before the newest one (later ones count too); 0 when none does.
    uint32_t GetAverage() const;

private:
    struct Sample {
        int64_t time = 0; // the engine's elapsed seconds; 0 marks an unused slot
        uint32_t speed = 0;
    };

    std::array<Sample, kSampleCount> m_samples{};
    int m_nNewest = -1; // index of the newest sample, -1 while empty
};
