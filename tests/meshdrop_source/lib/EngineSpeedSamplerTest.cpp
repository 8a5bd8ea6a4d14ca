#include <gtest/gtest.h>

#include <cstdint>

#include "EngineSpeedSampler.h"

TEST(EngineSpeedSamplerTest, AveragesTheLastTenSecondsOfTheLastTenSamples)
{
    CEngineSpeedSampler sampler;
    EXPECT_EQ(sampler.GetAverage(), 0u);
    // Time 0 marks an unused slot: such a sample never counts.
    sampler.Add(0, 999);
    EXPECT_EQ(sampler.GetAverage(), 0u);
    sampler.Add(1, 100);
    sampler.Add(2, 201);
    EXPECT_EQ(sampler.GetAverage(), 150u); // integer division
    // Samples more than ten seconds before the newest drop out.
    sampler.Add(13, 300);
    EXPECT_EQ(sampler.GetAverage(), 300u);
    sampler.Add(12, 500); // later samples than the newest count too
    sampler.Add(3, 700);
    EXPECT_EQ(sampler.GetAverage(), (100u + 201u + 300u + 500u + 700u) / 5);
    // Ten slots: the eleventh sample overwrites the oldest.
    sampler.Clear();
    for (int second = 1; second <= 11; ++second)
        sampler.Add(second, second == 1 ? 1000000 : 10);
    EXPECT_EQ(sampler.GetAverage(), 10u);
    // Figures from the far ends of the range neither overflow nor wrap.
    sampler.Clear();
    sampler.Add(INT64_MAX, 0xFFFFFFFFu);
    sampler.Add(INT64_MIN, 0xFFFFFFFFu);
    EXPECT_EQ(sampler.GetAverage(), 0xFFFFFFFFu);
}
