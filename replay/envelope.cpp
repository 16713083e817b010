// Volume and panning envelopes and the fade-out of released notes.
#include "replay/replay.h"

namespace vinto {

static int32_t ClampToInt32(int64_t value) {
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return (int32_t)value;
}

// A point value in 16.16; values beyond the 16.16 range are held at its top.
static int32_t FixedPointValue(uint16_t value) {
    return (int32_t)(value > 32767 ? 32767 : value) * 65536;
}

// Plans the segment from point p to point p + 1. A segment whose end is not
// after its start never ends on its own: it holds its value (step 0).
static void StartSegment(EnvelopeState& state, const EnvelopePoint* points, int32_t p) {
    int32_t dx = (int32_t)points[p + 1].tick - (int32_t)points[p].tick;
    if (dx > 0) {
        int64_t rise = (int64_t)FixedPointValue(points[p + 1].value) - FixedPointValue(points[p].value);
        state.step = ClampToInt32(rise / dx);
    } else {
        state.step = 0;
    }
    state.fixed_value = FixedPointValue(points[p].value);
    state.point = p + 1;
}

// One tick of an envelope. Inlined into its two callers where the compiler
// sees fit: it runs for every channel with an envelope on every tick.
static inline void StepEnvelope(Channel& channel, EnvelopeState& state, uint8_t type, uint8_t point_count,
                                const EnvelopePoint* points, uint8_t loop_end, uint8_t loop_start, uint8_t sustain,
                                uint8_t flag) {
    // Never look beyond the points the record holds, whatever the counts say.
    int32_t count = point_count > ENVELOPE_POINTS ? ENVELOPE_POINTS : point_count;

    if (state.point < count) {
        if (state.tick != points[state.point].tick) {
            state.fixed_value = ClampToInt32((int64_t)state.fixed_value + state.step);
        } else {
            // The loop jump comes first: a loop ending on the last point never finishes.
            if ((type & ENVELOPE_LOOP) && state.point == loop_end && loop_start < count) {
                state.point = loop_start;
                state.tick = points[loop_start].tick;
            }
            int32_t p = state.point;
            if (p == count - 1) {
                state.value = points[p].value;
                state.finished = 1;
                channel.flags |= flag;
                return;
            }
            if ((type & ENVELOPE_SUSTAIN) && p == sustain && !channel.key_off) {
                state.value = points[p].value;  // held until the note is released
                channel.flags |= flag;
                return;
            }
            StartSegment(state, points, p);
        }
    }
    state.value = state.fixed_value >> 16;  // arithmetic shift: rounds toward minus infinity
    // Point ticks are 16-bit: once beyond them the time can stop counting.
    if (state.tick < INT32_MAX) state.tick++;
    channel.flags |= flag;
}

static void StepVolumeEnvelope(Channel& channel, const Instrument& instrument) {
    if (!(instrument.volume_envelope_type & ENVELOPE_ON) || channel.volume_env.finished) return;
    StepEnvelope(channel, channel.volume_env, instrument.volume_envelope_type, instrument.volume_point_count,
                 instrument.volume_envelope, instrument.volume_loop_end, instrument.volume_loop_start,
                 instrument.volume_sustain, CHANNEL_VOLUME);
}

static void StepPanEnvelope(Channel& channel, const Instrument& instrument) {
    if (!(instrument.pan_envelope_type & ENVELOPE_ON) || channel.pan_env.finished) return;
    StepEnvelope(channel, channel.pan_env, instrument.pan_envelope_type, instrument.pan_point_count,
                 instrument.pan_envelope, instrument.pan_loop_end, instrument.pan_loop_start,
                 instrument.pan_sustain, CHANNEL_PAN);
}

// Flags the volume on every tick of a released note, also once the fade is over.
static void StepFadeOut(Channel& channel, const Instrument& instrument) {
    if (!channel.key_off) return;
    int64_t fade = (int64_t)channel.fade_volume - instrument.fadeout;
    channel.fade_volume = fade < 0 ? 0 : ClampToInt32(fade);
    channel.flags |= CHANNEL_VOLUME;
}

void StepEnvelopesOnRowTick(Channel& channel, const Instrument& instrument) {
    StepVolumeEnvelope(channel, instrument);
    // Without a volume envelope a released note falls silent at once.
    if (!(instrument.volume_envelope_type & ENVELOPE_ON) && channel.key_off) channel.volume_env.value = 0;
    StepPanEnvelope(channel, instrument);
    StepFadeOut(channel, instrument);
}

void StepEnvelopesOnLaterTick(Channel& channel, const Instrument& instrument) {
    StepVolumeEnvelope(channel, instrument);
    StepPanEnvelope(channel, instrument);
    StepFadeOut(channel, instrument);
}

}  // namespace vinto
