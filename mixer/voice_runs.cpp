// The parts of a voice's walk through its sample (voice_runs.h) kept out of
// line: the reflection at a ping-pong loop's ends, and the jump of a voice
// with no ramp to run.
#include "mixer/mixer.h"
#include "mixer/voice_runs.h"

namespace vinto {

// Position after a ping-pong run that ended at a loop boundary: reflected at
// the boundary, and again while it lies outside the loop. Two reflections in a
// row move a position by twice the loop length, so whole back-and-forth trips
// of a step far larger than the loop are taken at once.
uint64_t ReflectPosition(Voice& voice, uint64_t position, int64_t loop_start, int64_t loop_end) {
    const int64_t start = static_cast<int64_t>(ToFixed(loop_start));
    const int64_t end = static_cast<int64_t>(ToFixed(loop_end));
    const uint64_t span = ToFixed(loop_end - loop_start);
    const uint64_t trip = 2 * span;
    int64_t p = static_cast<int64_t>(position);
    bool forward = voice.direction == DIRECTION_FORWARD;
    // The run reaches the boundary unless the step is 0, which never moves.
    if (forward) {
        if (p < end) return position;
        p = static_cast<int64_t>(2 * static_cast<uint64_t>(end) - 1 - static_cast<uint64_t>(p));
        forward = false;
    } else {
        if (p > start) return position;
        p = static_cast<int64_t>(2 * static_cast<uint64_t>(start) - 1 - static_cast<uint64_t>(p));
        forward = true;
    }
    if (forward) {
        // From end + span on, a reflection at the end lands before the start.
        if (p >= end && static_cast<uint64_t>(p - end) >= span) {
            const uint64_t trips = (static_cast<uint64_t>(p - end) - span) / trip + 1;
            p = static_cast<int64_t>(static_cast<uint64_t>(p) - trips * trip);
        }
        if (p >= end) {
            p = static_cast<int64_t>(2 * static_cast<uint64_t>(end) - 1 - static_cast<uint64_t>(p));
            forward = false;
        }
    } else {
        // Below start - span, a reflection at the start lands at or after the end.
        const uint64_t below = static_cast<uint64_t>(start) - static_cast<uint64_t>(p);  // start - p
        if (p < start && below > span) {
            const uint64_t excess = below - span;
            const uint64_t trips = excess / trip + (excess % trip != 0);
            p = static_cast<int64_t>(static_cast<uint64_t>(p) + trips * trip);
        }
        if (p < start) {
            p = static_cast<int64_t>(2 * static_cast<uint64_t>(start) - 1 - static_cast<uint64_t>(p));
            forward = true;
        }
    }
    voice.direction = forward ? DIRECTION_FORWARD : DIRECTION_BACKWARD;
    return static_cast<uint64_t>(p);
}

#if defined(__SIZEOF_INT128__)
namespace {

// JumpVoiceWithoutRamp in Wide, a signed type that holds every value the
// jump forms: twice the loop's length plus the frames' travel, in 32.32.
template <typename Wide>
bool JumpVoiceIn(Voice& voice, int32_t frames) {
    // A ramp towards the targets still running, or one the first run would plan.
    if (voice.ramp_frames_left > 0 && voice.planned_left_gain == voice.left_gain &&
        voice.planned_right_gain == voice.right_gain)
        return false;
    if ((voice.current_left_gain >> 8) != voice.left_gain || (voice.current_right_gain >> 8) != voice.right_gain)
        return false;
    const Sample& sample = *voice.sample;
    const uint64_t step = ToFixed(voice.step_integer) | voice.step_fraction;
    if (step == 0) return false;
    const bool forward = voice.direction == DIRECTION_FORWARD;
    const bool looping = sample.loop_mode == LOOP_FORWARD && sample.loop_length > 0;
    const bool ping_pong = sample.loop_mode == LOOP_BIDI && sample.loop_length > 0;
    const int64_t loop_start = sample.loop_start;
    const int64_t loop_end = loop_start + static_cast<int64_t>(sample.loop_length);
    const int64_t whole = static_cast<int32_t>(voice.position);
    if (whole < -1 || whole > loop_end || (!forward && !ping_pong)) return false;
    const uint64_t position = ToFixed(voice.position) | voice.position_fraction;
    const Wide travel = static_cast<Wide>(step) * static_cast<uint32_t>(frames);

    uint64_t moved;  // the position the runs leave
    int32_t direction = voice.direction;
    bool stop = false;
    if (ping_pong) {
        // Unfolded, the ping-pong motion always advances: t runs from the
        // loop start forward (t = u, the distance past the start) and then
        // back (t = 2L - 1 - u) over a period of 2L, L the loop's length. A
        // turn at the end maps u >= L to 2L - 1 - u, one at the start maps
        // u <= 0 to -1 - u; both keep t moving on, so t's remainder tells
        // where and which way the voice stands.
        const Wide length = static_cast<Wide>(ToFixed(sample.loop_length));
        const Wide u = static_cast<Wide>(static_cast<int64_t>(position)) - static_cast<Wide>(ToFixed(loop_start));
        if (!forward && (u < 0 || u > length - 1)) return false;
        const Wide t = (forward ? u : 2 * length - 1 - u) + travel;
        Wide moved_u;
        if (forward && t < length) {
            moved_u = t;
        } else if (!forward && t < 2 * length - 1) {
            moved_u = 2 * length - 1 - t;
        } else {
            const Wide phase = (t + 1) % (2 * length);
            bool now_forward = phase < length + 1;
            moved_u = now_forward ? phase - 1 : 2 * length - phase;
            // Exactly at the loop start the label depends on how it was
            // reached: a run moving backward onto it turns (-1, forward), but
            // a turn at the end landing on it stays (0, backward). The last
            // frame came from the same backward stretch only if the step is
            // shorter than the loop.
            if (phase == 0 && static_cast<Wide>(step) >= length) {
                moved_u = 0;
                now_forward = false;
            }
            direction = now_forward ? DIRECTION_FORWARD : DIRECTION_BACKWARD;
        }
        moved = ToFixed(loop_start) + static_cast<uint64_t>(static_cast<int64_t>(moved_u));
    } else {
        if (whole < 0) return false;
        const Wide end = static_cast<Wide>(position) + travel;
        const uint64_t loop_end_fixed = ToFixed(loop_end);
        if (end < static_cast<Wide>(loop_end_fixed)) {
            moved = static_cast<uint64_t>(end);
        } else if (looping) {
            // Each wrap takes whole loop lengths off the integer part until
            // the position lies inside the loop again: the remainder of the
            // distance past the loop start.
            const uint64_t start_fixed = ToFixed(loop_start);
            const Wide span = static_cast<Wide>(ToFixed(sample.loop_length));
            moved = start_fixed + static_cast<uint64_t>((end - static_cast<Wide>(start_fixed)) % span);
        } else {
            stop = true;
            moved = 0;
        }
    }

    // What every run's ramp planning leaves: no ramp, steps 0.
    voice.planned_left_gain = voice.left_gain;
    voice.planned_right_gain = voice.right_gain;
    voice.left_step = 0.0f;
    voice.right_step = 0.0f;
    voice.ramp_frames_left = 0;
    if (stop) {
        StopVoice(voice);
    } else {
        voice.position = static_cast<uint32_t>(moved >> 32);
        voice.position_fraction = static_cast<uint32_t>(moved);
        voice.direction = direction;
    }
    return true;
}

}  // namespace
#endif

// A voice without a ramp in this call: its runs would only move its position
// (and, when silent, add zeros), so it moves straight to where they would
// leave it. In 64 bits where they suffice (loops below 2^29 entries, steps
// below 2^8 entries, calls below 2^20 frames: all the replay makes). A
// released voice without a ramp is silent for good: it ends instead.
#if defined(__GNUC__)
__attribute__((noinline))
#endif
bool JumpVoiceWithoutRamp(Voice& voice, int32_t frames) {
    if (voice.released && voice.ramp_frames_left == 0 && voice.left_gain == 0 && voice.right_gain == 0 &&
        (voice.current_left_gain >> 8) == 0 && (voice.current_right_gain >> 8) == 0) {
        StopVoice(voice);
        return true;
    }
#if defined(__SIZEOF_INT128__)
    const Sample& sample = *voice.sample;
    if (uint64_t(sample.loop_start) + sample.loop_length < (uint64_t(1) << 29) && voice.step_integer < (1u << 8) &&
        frames < (1 << 20))
        return JumpVoiceIn<int64_t>(voice, frames);
    return JumpVoiceIn<__int128>(voice, frames);
#else
    (void)voice;
    (void)frames;
    return false;
#endif
}

}  // namespace vinto
