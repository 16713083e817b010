// Every variant of the float-to-16-bit conversion this build and processor
// have gives the values of the rule itself: nearest integer, halves to even,
// clipped to -32768..32767, a NaN at the lower bound; at every length, so the
// variants' last, partial steps are covered too.
#include <gtest/gtest.h>
#include <math.h>
#include <string.h>

#include <limits>
#include <random>
#include <vector>

#include "output/convert_variants.h"
#include "output/output.h"

namespace {

int16_t Expected(float value) {
    if (!(value > -32768.0f)) return -32768;  // also NaN
    if (value > 32767.0f) return 32767;
    return static_cast<int16_t>(nearbyintf(value));
}

TEST(ConvertVariants, EachGivesTheRuleForAnyValueAndLength) {
    std::mt19937 rng(5);
    std::vector<float> values = {0.0f,
                                 -0.0f,
                                 0.5f,
                                 1.5f,
                                 2.5f,
                                 -0.5f,
                                 -1.5f,
                                 -2.5f,
                                 32766.5f,
                                 32767.4f,
                                 32767.5f,
                                 32768.0f,
                                 -32767.5f,
                                 -32768.5f,
                                 40000.0f,
                                 -40000.0f,
                                 1e30f,
                                 -1e30f,
                                 1e-30f,
                                 -1e-30f,
                                 8388608.5f,
                                 std::numeric_limits<float>::infinity(),
                                 -std::numeric_limits<float>::infinity(),
                                 std::numeric_limits<float>::quiet_NaN(),
                                 -std::numeric_limits<float>::quiet_NaN()};
    while (values.size() < 4001) {
        const float magnitude = std::uniform_real_distribution<float>(0.0f, 50000.0f)(rng);
        float value = (rng() & 1) ? -magnitude : magnitude;
        if (rng() % 4 == 0) value = floorf(value) + 0.5f;  // a tie
        values.push_back(value);
    }
    std::vector<int16_t> expected(values.size());
    for (size_t i = 0; i < values.size(); i++) expected[i] = Expected(values[i]);

    int tested = 0;
    for (int32_t variant = 0; variant < CONVERT_VARIANT_COUNT; variant++) {
        if (SelectConvertVariant(variant) != variant) continue;  // not in this build or processor
        tested++;
        SCOPED_TRACE(variant);
        for (int32_t frames : {1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 884, 2000}) {
            std::vector<int16_t> out(2 * static_cast<size_t>(frames) + 1, 0x5555);
            ConvertToPcm16(out.data(), values.data(), frames);
            ASSERT_EQ(memcmp(out.data(), expected.data(), 2 * frames * sizeof(int16_t)), 0) << frames << " frames";
            EXPECT_EQ(out[2 * frames], 0x5555) << "wrote past the end";
        }
    }
    EXPECT_GE(tested, 1);
    SelectConvertVariant(CONVERT_VARIANT_COUNT);
}

}  // namespace
