// Complete replay: the channel table, notes and their periods, instrument
// triggers and key off.
#include <math.h>
#include <string.h>

#include "complete/complete.h"
#include "mixer/mixer.h"
#include "output/output.h"

namespace vinto {

CompleteChannel complete_channels[MAX_CHANNELS];

void ResetCompleteChannels(Module& module, const ReplayTables& tables, bool link_voices) {
    module.complete_channels = tables.complete_channels;
    SetTempo(module, module.default_bpm);
    if (!tables.complete_channels) return;
    for (int32_t i = 0; i < module.channel_count; i++) {
        CompleteChannel& channel = tables.complete_channels[i];
        memset(&channel, 0, sizeof(CompleteChannel));
        channel.voice = link_voices ? &VoicePool[i] : nullptr;
        channel.instrument = &EmptyInstrument;
        channel.sample = &EmptySample;
        channel.pan = channel.default_pan = 128;
        channel.fade_volume = FADE_NONE;
        channel.volume_env.value = VOLUME_MAX * ENVELOPE_UNIT;
        channel.pan_env.value = 32 * ENVELOPE_UNIT;
    }
}

void SetTempo(Module& module, int32_t bpm) {
    if (bpm < 1) bpm = 1;
    // A tick lasts 2.5 / bpm seconds, in whole frames (rounded down, exactly).
    module.samples_per_tick = (int32_t)(((int64_t)output.mix_rate * 5) / (2 * (int64_t)bpm));
    if (module.samples_per_tick < 1) module.samples_per_tick = 1;
}

int32_t ClampVolume(int32_t volume) { return volume < 0 ? 0 : volume > VOLUME_MAX ? VOLUME_MAX : volume; }

// --- Periods --------------------------------------------------------------------

// Finetune counts in 16 steps a semitone (the low three bits are dropped, rounding down).
static int32_t LinearPeriod(int32_t note_index, int32_t finetune) {
    return 7680 - 64 * note_index - 4 * (finetune >> 3);
}

static int32_t AmigaPeriod(int32_t note_index, int32_t finetune) {
    return (int32_t)floor(1712.0 * pow(2.0, (LinearPeriod(note_index, finetune) - 4608) / 768.0) + 0.5);
}

int32_t CompleteNotePeriod(const Module& module, int32_t note_index, int32_t finetune) {
    return (module.flags & MODULE_LINEAR_FREQUENCY) ? LinearPeriod(note_index, finetune)
                                                    : AmigaPeriod(note_index, finetune);
}

int32_t NoteGridPeriod(const Module& module, const CompleteChannel& channel, int32_t period, int32_t semitones) {
    if (period <= 0) return period;
    double notes;  // semitones above note index 0 with the channel's finetune
    if (module.flags & MODULE_LINEAR_FREQUENCY)
        notes = (LinearPeriod(0, channel.finetune) - period) / 64.0;
    else
        notes = 12.0 * log2((double)AmigaPeriod(0, channel.finetune) / period);
    // Nearest note; exactly half way the pitch stays with the lower note, as heard in libopenmpt.
    int32_t index = (int32_t)ceil(notes - 0.5) + semitones;
    if (index < 0) index = 0;
    if (index > 119) index = 119;
    return CompleteNotePeriod(module, index, channel.finetune);
}

// --- Notes ------------------------------------------------------------------------

static const Instrument& InstrumentOf(const Module& module, uint8_t number) {
    if (number == 0 || !module.instruments || number > module.instrument_count) return EmptyInstrument;
    return module.instruments[number - 1];
}

void StartTone(const Module& module, CompleteChannel& channel, uint8_t note, uint8_t effect, uint8_t param) {
    if (note == 0 || note > KEYMAP_NOTES) return;
    channel.note = note;
    const Instrument& instrument = InstrumentOf(module, channel.instrument_number);
    channel.instrument = &instrument;
    uint8_t slot = instrument.keymap[note - 1];
    Sample* sample = slot < INSTRUMENT_SAMPLE_SLOTS && instrument.samples[slot] ? instrument.samples[slot] : &EmptySample;
    channel.sample = sample;
    channel.relative_note = sample->relative_note;
    channel.default_volume = sample->volume;
    channel.default_pan = (uint8_t)sample->pan;
    bool set_finetune = effect == FX_EXTENDED && (param >> 4) == EX_FINETUNE;
    channel.finetune = set_finetune ? (int8_t)((param & 0x0F) * 16 - 128) : sample->finetune;
    int32_t index = note - 1 + channel.relative_note;
    if (index >= 0 && index < 120) {
        channel.period = CompleteNotePeriod(module, index, channel.finetune);
        channel.out_period = channel.period;
    }
    channel.trigger = 1;
    channel.start_position = 0;
    if (effect == FX_SAMPLE_OFFSET) {
        if (param) channel.sample_offset = param;
        channel.start_position = (uint32_t)channel.sample_offset * 256;
    }
}

void RestartSample(CompleteChannel& channel) {
    channel.trigger = 1;
    channel.start_position = 0;
}

void SetPortaTarget(const Module& module, CompleteChannel& channel, uint8_t note) {
    // The target keeps the playing sample's relative note and finetune.
    int32_t index = note - 1 + channel.relative_note;
    if (index < 0 || index >= 120) return;
    channel.porta_target = CompleteNotePeriod(module, index, channel.finetune);
    if (channel.porta_target == channel.period)
        channel.porta_direction = 0;
    else
        channel.porta_direction = channel.porta_target > channel.period ? 1 : 2;
}

// An instrument number restores the last note's sample volume and panning.
void ResetVolumes(CompleteChannel& channel) {
    channel.volume = channel.out_volume = channel.default_volume;
    channel.pan = channel.default_pan;
}

static void RestartEnvelope(EnvelopeProgress& envelope, int32_t start_value) {
    envelope.tick = 0;
    envelope.point = 0;
    envelope.delta = 0;
    envelope.holding = 0;
    envelope.value = start_value;
}

void TriggerInstrument(CompleteChannel& channel) {
    if (!(channel.wave_control & 0x04)) channel.vibrato_pos = 0;
    if (!(channel.wave_control & 0x40)) channel.tremolo_pos = 0;
    channel.retrig_counter = 0;
    channel.tremor_pos = 0;
    channel.key_off = 0;
    const Instrument& instrument = *channel.instrument;
    RestartEnvelope(channel.volume_env, VOLUME_MAX * ENVELOPE_UNIT);
    RestartEnvelope(channel.pan_env, 32 * ENVELOPE_UNIT);
    channel.fade_volume = FADE_NONE;
    if (instrument.vibrato_depth) {
        channel.auto_vibrato_pos = 0;
        if (instrument.vibrato_sweep) {
            channel.auto_vibrato_amp = 0;
            channel.auto_vibrato_sweep = (instrument.vibrato_depth << 8) / instrument.vibrato_sweep;
        } else {
            channel.auto_vibrato_amp = instrument.vibrato_depth << 8;
            channel.auto_vibrato_sweep = 0;
        }
    }
}

void KeyOff(CompleteChannel& channel) {
    channel.key_off = 1;
    // Without a volume envelope the release silences the channel's volume
    // itself: a later set-volume brings the note back.
    if (!(channel.instrument->volume_envelope_type & ENVELOPE_ON)) channel.volume = channel.out_volume = 0;
    channel.volume_env.holding = 0;
    channel.pan_env.holding = 0;
}

}  // namespace vinto
