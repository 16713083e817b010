// Complete replay: per tick, the released note's fade-out, the volume and
// panning envelopes and the instrument's auto-vibrato; Lxx's jump within the
// envelopes.
#include "complete/complete.h"

namespace vinto {

namespace {

// A quarter of a sine period, 0..64 in 65 steps; auto-vibrato's sine starts downwards.
constexpr int8_t QUARTER_SINE[65] = {0,  2,  3,  5,  6,  8,  9,  11, 12, 14, 16, 17, 19, 20, 22, 23, 24,
                                     26, 27, 29, 30, 32, 33, 34, 36, 37, 38, 39, 41, 42, 43, 44, 45, 46,
                                     47, 48, 49, 50, 51, 52, 53, 54, 55, 56, 56, 57, 58, 59, 59, 60, 60,
                                     61, 61, 62, 62, 62, 63, 63, 63, 64, 64, 64, 64, 64, 64};

int32_t AutoVibratoSine(uint8_t phase) {
    int32_t quarter = phase & 0x3F;
    int32_t value = (phase & 0x40) ? QUARTER_SINE[64 - quarter] : QUARTER_SINE[quarter];
    return (phase & 0x80) ? value : -value;
}

// -64..64 for types 0 sine, 1 square, 2 ramp up, 3 ramp down.
int32_t AutoVibratoValue(uint8_t type, uint8_t phase) {
    switch (type) {
        case 1: return phase > 127 ? 64 : -64;
        case 2: return (((phase >> 1) + 64) & 127) - 64;
        case 3: return ((64 - (phase >> 1)) & 127) - 64;
        default: return AutoVibratoSine(phase);
    }
}

struct EnvelopeShape {
    const EnvelopePoint* points;
    int32_t count;
    uint8_t type;
    uint8_t sustain, loop_start, loop_end;
};

EnvelopeShape VolumeShape(const Instrument& instrument) {
    return {instrument.volume_envelope, instrument.volume_point_count, instrument.volume_envelope_type,
            instrument.volume_sustain, instrument.volume_loop_start, instrument.volume_loop_end};
}

EnvelopeShape PanShape(const Instrument& instrument) {
    return {instrument.pan_envelope, instrument.pan_point_count, instrument.pan_envelope_type,
            instrument.pan_sustain, instrument.pan_loop_start, instrument.pan_loop_end};
}

void StartSegment(EnvelopeProgress& envelope, const EnvelopeShape& shape, int32_t p) {
    if (p + 1 >= shape.count) {  // the last point: the value stays
        envelope.delta = 0;
        envelope.point = shape.count;
        return;
    }
    int32_t ticks = shape.points[p + 1].tick - shape.points[p].tick;
    int32_t rise = (shape.points[p + 1].value - shape.points[p].value) * ENVELOPE_UNIT;
    envelope.delta = ticks > 0 ? rise / ticks : 0;
    envelope.point = p + 1;
}

// One tick: on reaching a point the loop end jumps back to the loop start
// (not while a sustain on that point holds), a sustain point holds until key
// off, and the value heads for the next point.
void StepEnvelope(EnvelopeProgress& envelope, const EnvelopeShape& shape, bool key_off) {
    if (envelope.holding) return;
    int32_t count = shape.count > ENVELOPE_POINTS ? ENVELOPE_POINTS : shape.count;
    if (envelope.point < count && envelope.tick == shape.points[envelope.point].tick) {
        int32_t p = envelope.point;
        bool sustained = (shape.type & ENVELOPE_SUSTAIN) && !key_off;
        if ((shape.type & ENVELOPE_LOOP) && p == shape.loop_end && !(sustained && p == shape.sustain)) {
            p = shape.loop_start < count ? shape.loop_start : p;
            envelope.tick = shape.points[p].tick;
        }
        envelope.value = shape.points[p].value * ENVELOPE_UNIT;
        if (sustained && p == shape.sustain) {
            envelope.point = p;
            envelope.delta = 0;
            envelope.holding = 1;
            return;
        }
        StartSegment(envelope, shape, p);
    } else if (envelope.point < count) {
        envelope.value += envelope.delta;
    }
    if (envelope.tick < INT32_MAX) envelope.tick++;  // point ticks are 16-bit: past them it may stop
}

// Leaves the envelope so that this tick's step shows its value at `tick`.
void SetPosition(EnvelopeProgress& envelope, const EnvelopeShape& shape, int32_t tick) {
    int32_t count = shape.count > ENVELOPE_POINTS ? ENVELOPE_POINTS : shape.count;
    if (!(shape.type & ENVELOPE_ON) || count < 1) return;
    int32_t p = 0;
    while (p + 1 < count && shape.points[p + 1].tick <= tick) p++;
    envelope.tick = tick;
    envelope.holding = 0;
    if (shape.points[p].tick == tick) {  // on a point: the step reaches it
        envelope.point = p;
        return;
    }
    StartSegment(envelope, shape, p);
    int32_t before = tick - 1 - shape.points[p].tick;  // the step adds the tick's delta
    envelope.value = shape.points[p].value * ENVELOPE_UNIT + (envelope.point < count ? envelope.delta * before : 0);
}

void StepAutoVibrato(CompleteChannel& channel) {
    const Instrument& instrument = *channel.instrument;
    if (!instrument.vibrato_depth) {
        channel.auto_vibrato_offset = 0;
        return;
    }
    int32_t amplitude = channel.auto_vibrato_amp;
    if (channel.auto_vibrato_sweep) {
        // While it sweeps in, a released note uses the sweep step alone.
        amplitude = channel.auto_vibrato_sweep;
        if (!channel.key_off) {
            amplitude += channel.auto_vibrato_amp;
            if ((amplitude >> 8) > instrument.vibrato_depth) {
                amplitude = instrument.vibrato_depth << 8;
                channel.auto_vibrato_sweep = 0;
            }
            channel.auto_vibrato_amp = amplitude;
        }
    }
    channel.auto_vibrato_pos = (uint8_t)(channel.auto_vibrato_pos + instrument.vibrato_rate);
    channel.auto_vibrato_offset = (AutoVibratoValue(instrument.vibrato_type, channel.auto_vibrato_pos) * amplitude) >> 14;
}

}  // namespace

void StepInstrument(CompleteChannel& channel) {
    const Instrument& instrument = *channel.instrument;
    if (channel.key_off) {
        channel.fade_volume -= instrument.fadeout;
        if (channel.fade_volume < 0) channel.fade_volume = 0;
    }
    if (instrument.volume_envelope_type & ENVELOPE_ON)
        StepEnvelope(channel.volume_env, VolumeShape(instrument), channel.key_off);
    if (instrument.pan_envelope_type & ENVELOPE_ON)
        StepEnvelope(channel.pan_env, PanShape(instrument), channel.key_off);
    StepAutoVibrato(channel);
}

// Lxx moves the volume envelope; the panning envelope moves only when the
// volume envelope has a sustain point, as in FastTracker 2.
void SetEnvelopePosition(CompleteChannel& channel, int32_t tick) {
    const Instrument& instrument = *channel.instrument;
    SetPosition(channel.volume_env, VolumeShape(instrument), tick);
    if (instrument.volume_envelope_type & ENVELOPE_SUSTAIN) SetPosition(channel.pan_env, PanShape(instrument), tick);
}

}  // namespace vinto
