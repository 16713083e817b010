// Voices and the floating-point voice mixer.
#pragma once

#include <stdint.h>

#include "module/module.h"

namespace vinto {

constexpr int VOICE_COUNT = 256;
constexpr int MIXED_VOICE_COUNT = 64;
constexpr int VOICE_TWIN_OFFSET = 32;
constexpr int32_t DIRECTION_FORWARD = 1;
constexpr int32_t DIRECTION_BACKWARD = 2;

// 1/255 rounded to single precision (slightly above 1/255).
constexpr float GAIN_UNIT = 1.0f / 255.0f;

// Positions and steps are unsigned 32.32 fixed point: an integer part and a
// fraction in units of 2^-32. Gains are on a scale where 255 is full.
struct Voice {
    int32_t index;       // own slot in VoicePool, 0..255
    int32_t volume;      // at most 127 in range
    int32_t pan;         // 0..255
    // 1 once the replay has handed the note over to the twin slot: nothing
    // raises its targets (0) again until the slot is taken over whole, so
    // once it rests silent it ends instead of moving on unheard.
    uint8_t released;
    Sample* sample;      // not owned; null = inactive
    int32_t left_gain;   // target gain of the first (left) value of a frame
    int32_t right_gain;  // target gain of the second (right) value
    uint32_t position;           // integer part of the play position
    uint32_t position_fraction;  // units of 2^-32
    uint32_t step_fraction;      // units of 2^-32
    uint32_t step_integer;
    int32_t direction;           // DIRECTION_FORWARD; anything else is backward
    int32_t planned_left_gain;   // left_gain the running ramp was planned for
    int32_t planned_right_gain;
    int32_t current_left_gain;   // applied gain x 256
    int32_t current_right_gain;
    float left_step;             // applied gain factor change per ramp frame
    float right_step;
    int32_t ramp_frames_left;    // 0 = no ramp running
};

extern Voice VoicePool[VOICE_COUNT];

// Frames per volume ramp and its inverse in single precision. Start at the
// values for 44100 Hz (128 and 1/128); the playback start sets them again.
extern int32_t ramp_length;
extern float inverse_ramp_length;

// Zero-fills every voice, then gives each its own index and a step of 1.0.
void ResetVoicePool();

// Adds frames frames of every active voice among slots 0..63, in slot order,
// into out (interleaved float stereo). Does nothing for frames below 1.
// A voice reads its sample's entries from data[-1] (the zero entry in front of
// the sample, reached after a ping-pong reflection at loop start 0) up to the
// guard entry at the loop end.
void MixVoices(float* out, int32_t frames);

// MixVoices for an out whose frames values all stand at +0 (as the block
// renderer leaves a slice before mixing it): the same values, faster, since
// the first voice to reach a value may write it without reading it.
void MixVoicesCleared(float* out, int32_t frames);

// MixVoicesCleared, except that the voices of the slots set in muted (bit i:
// slot i) are only advanced (AdvanceVoice), not heard.
void MixVoicesClearedMuted(float* out, int32_t frames, uint64_t muted);

// Moves a voice on by frames frames exactly as MixVoices would (position,
// loops, ramp and its rounding at the call's end, a sample's end), without
// mixing it. Nothing for frames below 1 or an inactive voice. (A released
// voice whose fade ends inside the call may stop there already, where the
// mixer stops it at its next call: either way it is never heard again.)
void AdvanceVoice(Voice& voice, int32_t frames);

// AdvanceVoice for every voice among slots 0..63: what MixVoices(out, frames)
// leaves of the voices, without output. With split in 1..frames-1, what
// MixVoices(out, split) and then MixVoices(out + 2 x split, frames - split) leave.
void AdvanceVoices(int32_t frames, int32_t split = 0);

}  // namespace vinto
