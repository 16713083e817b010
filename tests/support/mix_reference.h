// A plain voice mixer, one frame at a time, written straight from the mixing
// rules without any of the engine's shortcuts. Tests and the benchmark hold
// the engine's MixVoices against it bit for bit.
#pragma once

#include <stdint.h>

#include <vector>

#include "mixer/mixer.h"

using namespace vinto;

namespace reference {

// Mixes voices[0 .. count-1] (those with a sample) into out exactly as
// MixVoices mixes VoicePool, with the given ramp settings.
void MixVoices(Voice* voices, int32_t count, float* out, int32_t frames, int32_t ramp_length, float inverse_ramp_length);

// A sample laid out as the loader leaves it: a zero entry in front of data[0],
// length + 8 entries from data[0] on, the guard entry at the loop end (the
// loop's first entry for a forward loop, its last for a ping-pong loop, 0 without).
struct OwnedSample {
    std::vector<int16_t> storage;
    Sample sample{};
    std::vector<int16_t> repeats;  // a forward loop's stored repeats (sample.repeats points into it), if any
    OwnedSample(const std::vector<int16_t>& values, uint8_t loop_mode = LOOP_NONE, uint32_t loop_start = 0,
                uint32_t loop_length = 0);
    OwnedSample(const OwnedSample&) = delete;  // sample.data points into storage
    operator Sample&() { return sample; }
};

}  // namespace reference
