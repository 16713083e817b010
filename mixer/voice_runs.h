// How a voice moves through its sample in one call, run by run: the arithmetic
// the mixer (mix.cpp) and the voice advance without mixing (advance.cpp) share,
// so that both leave every voice in the same state.
//
// A run is a stretch of frames in which only the position and, during a ramp,
// the applied gains change; it ends at the loop or sample end (the boundary),
// at the end of a ramp or at the end of the call. A caller walks a voice so:
//
//   VoiceWalk walk = StartWalk(voice);
//   uint64_t position = WalkPosition(voice);
//   for (int32_t left = frames;;) {
//       VoiceRun run;
//       if (!PlanRun(voice, walk, position, left, run)) return;   // stopped
//       ... mix run.frames frames (or not); after a ramp run FinishRampRun ...
//       position += run.delta * run.frames;  left -= run.frames;
//       if (run.at_boundary && !CrossBoundary(voice, walk, position)) return;  // stopped
//       if (left == 0) break;
//   }
//   StoreWalkPosition(voice, walk, position);
#pragma once

#include <math.h>
#include <stdint.h>

#include "mixer/mixer.h"

namespace vinto {

// Stands in for a step of 0 when the frames to a boundary are counted: a step
// of 256 Hz at 44100 Hz. The position itself does not move.
constexpr uint64_t SUBSTITUTE_STEP = 24932236;

inline uint64_t ToFixed(int64_t whole) { return static_cast<uint64_t>(whole) << 32; }

inline void StopVoice(Voice& voice) {
    voice.sample = nullptr;
    voice.position = 0;
    voice.position_fraction = 0;
}

// What stays fixed while a voice is walked through one call.
struct VoiceWalk {
    uint64_t step;           // 32.32 advance per frame
    uint64_t boundary_step;  // the step, or SUBSTITUTE_STEP for a step of 0
    int64_t loop_start;      // entries
    int64_t loop_length;     // entries; the sample's length without a loop
    int64_t loop_end;        // entries; where the guard entry lies
    const int16_t* repeats;  // the loop's stored repeats (Sample.repeats), or null
    int64_t repeat_end;      // entries; where a run through the repeats ends, counted as in the sample
    uint8_t loop_mode;
};

// One run, as PlanRun lays it out.
struct VoiceRun {
    int32_t frames;    // frames of the run (0 at a boundary already reached)
    int32_t ramp;      // frames of the ramp running at its start; 0: fixed gains
    bool at_boundary;  // the run ends at the loop or sample end (or the end of the loop's repeats)
    bool repeated;     // the run reads the loop's stored repeats
    uint64_t delta;    // the step, or its two's complement when moving backward
};

inline VoiceWalk StartWalk(const Voice& voice) {
    const Sample& sample = *voice.sample;
    VoiceWalk walk;
    walk.step = ToFixed(voice.step_integer) | voice.step_fraction;
    walk.boundary_step = walk.step != 0 ? walk.step : SUBSTITUTE_STEP;
    walk.loop_start = sample.loop_start;
    walk.loop_length = sample.loop_length;
    walk.loop_end = walk.loop_start + walk.loop_length;
#if VINTO_LOOP_REPEATS
    walk.repeats = sample.loop_mode == LOOP_FORWARD ? sample.repeats : nullptr;
    walk.repeat_end = walk.loop_start + sample.repeat_entries;
#endif
    walk.loop_mode = sample.loop_mode;
    return walk;
}

inline uint64_t WalkPosition(const Voice& voice) { return ToFixed(voice.position) | voice.position_fraction; }

inline void StorePosition(Voice& voice, uint64_t position) {
    voice.position = static_cast<uint32_t>(position >> 32);
    voice.position_fraction = static_cast<uint32_t>(position);
}

// Round to nearest, ties to even, saturated to the 32-bit range (only gains far
// outside 0..255 can reach the limits).
inline int32_t RoundGain(double value) {
    const double rounded = nearbyint(value);
    if (!(rounded > -2147483648.0)) return rounded < 0 ? INT32_MIN : 0;  // NaN gives 0
    if (rounded > 2147483647.0) return INT32_MAX;
    return static_cast<int32_t>(rounded);
}

// Plans a fresh ramp from the integer part of the applied gains towards the
// targets; returns its length (0: the gains already stand at the targets).
inline int32_t PlanRamp(Voice& voice) {
    voice.planned_left_gain = voice.left_gain;
    voice.planned_right_gain = voice.right_gain;
    const int64_t left = static_cast<int64_t>(voice.left_gain) - (voice.current_left_gain >> 8);
    const int64_t right = static_cast<int64_t>(voice.right_gain) - (voice.current_right_gain >> 8);
    voice.left_step =
        left != 0 ? static_cast<float>(static_cast<double>(left) * GAIN_UNIT * inverse_ramp_length) : 0.0f;
    voice.right_step =
        right != 0 ? static_cast<float>(static_cast<double>(right) * GAIN_UNIT * inverse_ramp_length) : 0.0f;
    const int32_t frames = left != 0 || right != 0 ? ramp_length : 0;
    voice.ramp_frames_left = frames;
    return frames;
}

// The ramp a run starts with: the one running towards the current targets,
// or one planned afresh (0: none).
inline int32_t RunRamp(Voice& voice) {
    if (voice.ramp_frames_left > 0 && voice.left_gain == voice.planned_left_gain &&
        voice.right_gain == voice.planned_right_gain)
        return voice.ramp_frames_left;
    return PlanRamp(voice);
}

// Lays out the next run of a voice at position with left frames of the call
// to go: its length, whether it ends at the boundary, and the ramp (planned
// afresh unless one runs towards the current targets). A ramp run ends at the
// loop end (where the applied gains are rounded); a run of fixed gains moving
// forward inside a loop with stored repeats reads those instead and goes on
// to their end, its boundary, passing loop ends as the loop would. Returns
// false, having stopped the voice, when the position lies outside entries
// -1 .. loop end (only a state the replay engine never creates): the voice
// ends rather than read elsewhere.
inline bool PlanRun(Voice& voice, const VoiceWalk& walk, uint64_t position, int32_t left, VoiceRun& run) {
    const int64_t whole = static_cast<int32_t>(static_cast<uint32_t>(position >> 32));
    if (whole < -1 || whole > walk.loop_end) {
        StopVoice(voice);
        return false;
    }
    const bool forward = voice.direction == DIRECTION_FORWARD;
    run.repeated = false;
    int64_t end = walk.loop_end;
#if VINTO_LOOP_REPEATS
    // Where the run may end depends on the ramp. (Without repeats the ramp is
    // planned after the distance: the same result, in fewer bytes of code.)
    run.ramp = RunRamp(voice);
    if (walk.repeats && run.ramp == 0 && forward && whole >= walk.loop_start) {
        run.repeated = true;
        end = walk.repeat_end;
    }
#endif
    const int64_t distance = forward ? static_cast<int64_t>(ToFixed(end) - position)
                                     : static_cast<int64_t>(position - ToFixed(walk.loop_start));
    run.frames = left;
    run.at_boundary = false;
    if (distance <= 0) {
        run.frames = 0;
        run.at_boundary = true;
    } else {
        const uint64_t d = static_cast<uint64_t>(distance);
#if defined(__SIZEOF_INT128__)
        // ceil(d / step) <= left exactly when d <= left x step: one
        // multiplication settles the common case without the division.
        const bool reaches = static_cast<unsigned __int128>(walk.boundary_step) * static_cast<uint64_t>(left) >= d;
#else
        const bool reaches = true;
#endif
        if (reaches) {
            const uint64_t until = d / walk.boundary_step + (d % walk.boundary_step != 0);
            if (until <= static_cast<uint64_t>(left)) {
                run.frames = static_cast<int32_t>(until);
                run.at_boundary = true;
            }
        }
    }

#if !VINTO_LOOP_REPEATS
    run.ramp = RunRamp(voice);
#endif
    if (run.ramp > 0 && run.ramp < run.frames) {
        run.frames = run.ramp;
        run.at_boundary = false;
    }
    run.delta = forward ? walk.step : 0 - walk.step;
    return true;
}

// The applied gains a ramp run starts from, as the ramp kernels take them.
inline float RampStartGain(int32_t current_gain) {
    return static_cast<float>(current_gain * (1.0 / 256) * GAIN_UNIT);
}

// After a ramp run: the applied gains reached (end_gains as the ramp kernels
// leave them), and at the ramp's end exactly the targets.
inline void FinishRampRun(Voice& voice, const double end_gains[2], const VoiceRun& run) {
    voice.current_left_gain = RoundGain(end_gains[0] * 255 * 256);
    voice.current_right_gain = RoundGain(end_gains[1] * 255 * 256);
    voice.ramp_frames_left = run.ramp - run.frames;
    if (voice.ramp_frames_left == 0) {
        voice.left_step = 0.0f;
        voice.right_step = 0.0f;
        voice.current_left_gain = static_cast<int32_t>(static_cast<uint32_t>(voice.left_gain) << 8);
        voice.current_right_gain = static_cast<int32_t>(static_cast<uint32_t>(voice.right_gain) << 8);
    }
}

// Position after a ping-pong run that ended at a loop boundary (voice_runs.cpp).
uint64_t ReflectPosition(Voice& voice, uint64_t position, int64_t loop_start, int64_t loop_end);

// After a run that ended at the boundary: a forward loop wraps, a ping-pong
// loop reflects, anything else stops the voice (then false).
inline bool CrossBoundary(Voice& voice, const VoiceWalk& walk, uint64_t& position) {
    if (walk.loop_mode == LOOP_FORWARD && walk.loop_length > 0) {
        // Also turns a voice that could only have been set moving backward on
        // a forward loop around, instead of leaving it stuck at the loop start.
        voice.direction = DIRECTION_FORWARD;
        // Back by the loop length while at or past the loop end.
        const uint32_t end = static_cast<uint32_t>(walk.loop_end);
        const uint32_t span = static_cast<uint32_t>(walk.loop_length);
        uint32_t whole_position = static_cast<uint32_t>(position >> 32);
        if (whole_position >= end) {
            whole_position -= span;
            if (whole_position >= end) whole_position = end - span + (whole_position - end) % span;
        }
        position = ToFixed(whole_position) | static_cast<uint32_t>(position);
        return true;
    }
    if (walk.loop_mode == LOOP_BIDI && walk.loop_length > 0) {
        position = ReflectPosition(voice, position, walk.loop_start, walk.loop_end);
        return true;
    }
    StopVoice(voice);
    return false;
}

// Stores the position a walk leaves a voice at: one that ran into the loop's
// repeats stands where crossing each loop end would have left it.
inline void StoreWalkPosition(Voice& voice, const VoiceWalk& walk, uint64_t position) {
#if VINTO_LOOP_REPEATS
    if (walk.repeats && static_cast<int64_t>(position) >= static_cast<int64_t>(ToFixed(walk.loop_end)) &&
        voice.direction == DIRECTION_FORWARD)
        CrossBoundary(voice, walk, position);
#else
    (void)walk;
#endif
    StorePosition(voice, position);
}

// A voice with no ramp to run in a call of frames frames (none running towards
// the targets, and the applied gains' integer parts at the targets) and a
// non-zero step: its runs change only its position, so it moves straight to
// where they would leave it, with the ramp state they leave (planned gains at
// the targets, steps 0). Handles forward loops and samples without loop moving
// forward, and ping-pong loops in either direction; returns false, changing
// nothing, for any other voice (voice_runs.cpp). A released voice at rest
// and silent (see Voice.released) is stopped instead: it would only ever add
// zeros.
bool JumpVoiceWithoutRamp(Voice& voice, int32_t frames);

// The mixer's skip of a voice silent for the whole call (both targets 0 and
// the applied gains below one unit): audible voices pay one comparison.
inline bool SkipSilentVoice(Voice& voice, int32_t frames) {
    if (voice.left_gain != 0 || voice.right_gain != 0 || (voice.current_left_gain >> 8) != 0 ||
        (voice.current_right_gain >> 8) != 0)
        return false;
    return JumpVoiceWithoutRamp(voice, frames);
}

}  // namespace vinto
