// The vectorised ramp kernels form the gains of frame k as start + k x step
// instead of adding the step k times; RampSumsExact decides when that gives
// the same doubles. Held here against the step-by-step sums themselves.
#include <gtest/gtest.h>
#include <math.h>
#include <string.h>

#include <random>

#include "mixer/mix_kernels.h"
#include "mixer/mixer.h"

namespace {

constexpr double FRACTION_UNIT = 1.0 / 2147483648.0;

// True when adding step frames times, one at a time, passes exactly through
// start + k x step for every k (compared bit for bit).
bool SumsMatchProducts(double start, double step, int32_t frames) {
    double sum = start;
    for (int32_t k = 1; k <= frames; k++) {
        sum += step;
        const double direct = start + k * step;
        if (memcmp(&sum, &direct, sizeof sum) != 0) return false;
    }
    return true;
}

TEST(RampSums, ExactWheneverClaimedForTheGainsARampCanHave) {
    std::mt19937_64 rng(77);
    int claimed = 0;
    for (int i = 0; i < 20000; i++) {
        // Applied gains x 256 and gain differences as the mixer plans them,
        // at assorted ramp lengths; scaled by 2^-31 as the kernels carry them.
        const int32_t ramp = static_cast<int32_t>(rng() % 300) + 1;
        const float inverse = static_cast<float>(1.0 / ramp);
        const int32_t current = static_cast<int32_t>(rng() % 65281);
        const int32_t difference = static_cast<int32_t>(rng() % 511) - 255;
        const double start = static_cast<float>(current * (1.0 / 256) * GAIN_UNIT) * FRACTION_UNIT;
        const double step = static_cast<float>(difference * static_cast<double>(GAIN_UNIT) * inverse) * FRACTION_UNIT;
        if (!RampSumsExact(start, start, step, step, ramp)) continue;
        claimed++;
        ASSERT_TRUE(SumsMatchProducts(start, step, ramp)) << current << " " << difference << " " << ramp;
    }
    // Real ramps are all of this kind: the shortcut must apply to nearly all.
    EXPECT_GT(claimed, 19000);
}

TEST(RampSums, RefusedWhereSumsRoundOrValuesAreUnusable) {
    struct Case {
        double left, right, left_step, right_step;
        int32_t frames;
        bool exact;
    };
    const double tiny = ldexp(1.0, -54) + ldexp(1.0, -56);  // below half a unit of 1.0, four times above
    const Case cases[] = {
        {1.0, 0.5, 1.0 / 128, -1.0 / 256, 128, true},
        {0.0, 0.0, 0.0, 0.0, 128, true},                                    // a ramp of nothing
        {0.75, 0.25, 0.0, 0.0, 1000000, true},                              // steps of zero never round
        {1.0, 0.0, tiny, 0.0, 128, false},                                  // 1 + tiny rounds back to 1
        {0.0, 1.0, 0.0, tiny, 128, false},                                  // the same on the right side
        {1.0 + ldexp(1.0, -30), 0.0, ldexp(1.0, -29), 0.0, 1 << 22, true},  // long, but 31 bits suffice
        {ldexp(1.0, 52), 0.0, 0.5, 0.0, 4, false},                          // 2^52 + 0.5 rounds
        {1.0, 0.0, ldexp(1.0, -52), 0.0, 128, false},                       // fits, but within the margin kept
        {NAN, 0.0, 0.0, 0.0, 4, false},
        {0.0, 0.0, INFINITY, 0.0, 4, false},
        {ldexp(1.0, -1070), 0.0, 0.0, 0.0, 4, false},  // subnormal: no unit to count in
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << c.left << " " << c.right << " " << c.left_step << " " << c.right_step << " " << c.frames);
        EXPECT_EQ(RampSumsExact(c.left, c.right, c.left_step, c.right_step, c.frames), c.exact);
        if (c.exact) {
            EXPECT_TRUE(SumsMatchProducts(c.left, c.left_step, c.frames) &&
                        SumsMatchProducts(c.right, c.right_step, c.frames));
        }
    }
    // Where it refuses on rounding, the sums really do round.
    EXPECT_FALSE(SumsMatchProducts(1.0, tiny, 128));
    EXPECT_FALSE(SumsMatchProducts(ldexp(1.0, 52), 0.5, 4));
}

}  // namespace
