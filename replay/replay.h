// The replay engine: per-channel state, tempo, the row tick, the later ticks,
// envelopes and fade-out, and the one door to the mixer (ApplyChannelToVoice).
#pragma once

#include <stdint.h>

#include "module/module.h"

namespace vinto {

struct Voice;

constexpr int MAX_CHANNELS = 32;

// Change flags: what a tick changed on a channel; ApplyChannelToVoice acts on them.
constexpr uint8_t CHANNEL_FREQ = 1;
constexpr uint8_t CHANNEL_VOLUME = 2;
constexpr uint8_t CHANNEL_PAN = 4;
constexpr uint8_t CHANNEL_TRIGGER = 8;

constexpr int32_t LINEAR_PERIOD_BASE = 7680;  // linear period of note index 0
constexpr int32_t PERIODS_PER_SEMITONE = 64;
constexpr int32_t BPM_SPEED_THRESHOLD = 32;   // effect 15: below sets speed, from here tempo
constexpr int32_t PERIOD_MIN = 56;            // lowest period portamento up reaches
constexpr int32_t PORTA_UNITS_PER_SPEED = 4;  // period units per unit of portamento speed
constexpr int32_t MAX_BREAK_ROW = 63;         // a pattern break to a higher row goes to row 0
constexpr int32_t MAX_TRANSPOSED_NOTE = 119;  // highest note index after the relative note
constexpr int32_t MIN_FREQUENCY = 100;        // Hz; lower pitches play at this rate
constexpr int32_t FALLBACK_BPM = 125;         // tempo used for a bpm below 1
constexpr int32_t ENVELOPE_FULL_VOLUME = 64;  // volume envelope value of a restarted envelope
constexpr int32_t ENVELOPE_CENTRE_PAN = 32;   // panning envelope value of a restarted envelope
constexpr int32_t FADE_FULL = 65536;          // fade_volume of a note that is not fading
constexpr int32_t MAX_VOLUME = 64;

// XM effect numbers the engine acts on.
enum : uint8_t {
    EFFECT_ARPEGGIO = 0,
    EFFECT_PORTA_UP = 1,
    EFFECT_PORTA_DOWN = 2,
    EFFECT_TONE_PORTA = 3,
    EFFECT_TONE_PORTA_VOLUME_SLIDE = 5,  // only marks the cell as a tone-portamento cell
    EFFECT_SET_PANNING = 8,
    EFFECT_VOLUME_SLIDE = 10,
    EFFECT_PATTERN_BREAK = 13,
    EFFECT_SPEED_TEMPO = 15,
    EFFECT_KEY_OFF = 20,
    EFFECT_MULTI_RETRIGGER = 27,
};

struct EnvelopeState {
    int32_t tick;         // envelope time in ticks, compared with the points' ticks
    int32_t point;        // index of the point where the current segment starts
    int32_t fixed_value;  // current value, 16.16 fixed point
    int32_t value;        // current value 0..64 (volume: 64 full; panning: 32 centre)
    int32_t step;         // 16.16 change per tick on the current segment
    uint8_t finished;     // 1 once the last point has been reached
};

// The instrument and sample a channel plays; never null (placeholders stand in).
struct ChannelSound {
    const Instrument* instrument;
    Sample* sample;
};

struct Channel {
    uint8_t note;     // 0..95 = cell note - 1; index into the instrument's keymap
    uint8_t flags;    // change flags of the current tick (CHANNEL_*)
    Voice* voice;     // pool slot i or its twin i + 32
    int32_t period;   // linear units, 64 per semitone, lower is higher (Amiga period in Amiga songs)
    int32_t volume;   // 0..64
    int32_t pan;      // 0..255, 128 centre (slides may leave the range; clamped at the voice)
    int32_t period_offset;  // arpeggio offset of the current tick in period units, positive is higher
    EnvelopeState volume_env;
    EnvelopeState pan_env;
    int32_t fade_volume;  // 65536 no fade .. 0 silent
    uint8_t key_off;      // 1 once the note is released
    uint8_t instrument;   // 0-based instrument number
    uint8_t transposed_note;  // cell note - 1 + relative_note, 0..119
    int32_t note_period;      // period of the last note; tone-portamento targets come from it
    uint8_t porta_down_speed;    // remembered effect 2 parameter
    uint8_t porta_up_speed;      // remembered effect 1 parameter
    uint8_t volume_slide_param;  // remembered effect 10 parameter
    uint8_t retrig_volume_code;  // 0..15
    uint8_t retrig_interval;     // ticks between retriggers, 0 off
    int32_t tone_porta_target;   // period tone portamento moves towards
    uint8_t tone_porta_speed;    // the period moves 4 units per unit per tick
    ChannelSound sound;          // SelectSound's answer for instrument and note, kept up to date
};

extern Channel channels[MAX_CHANNELS];

// --- Operations ---------------------------------------------------------------

void SetBpm(Module& module, int32_t bpm);
void ProcessRow(Module& module);
void ResetChannelForSample(Channel& channel, const Sample& sample);
void ApplyVolumeColumn(Channel& channel, uint8_t command);
void ProcessTickEffects(Module& module);
void StepTonePortamento(Channel& channel);
void ApplyChannelToVoice(Channel& channel, Sample* sample, const Module& module);
void ModuleTick(Module* module);
// The exact replay's entry in the table of modes: channel i zeroed, on voice slot i or none.
struct ReplayTables;
void ResetExactChannels(Module& module, const ReplayTables& tables, bool link_voices);

// --- Pieces shared by the row tick and the later ticks --------------------------

ChannelSound SelectSound(const Module& module, const Channel& channel);

// The pattern of the current order, or null when the order names no pattern.
const Pattern* CurrentPattern(const Module& module);
// The first cell of the current row, or null when the pattern has no cells or
// the row lies outside it.
const PatternCell* CurrentRowCells(const Module& module);
// Number of channels to process: channel_count limited to 0..MAX_CHANNELS.
int32_t ActiveChannelCount(const Module& module);

// A cell note that starts a note: 1..96. 0, key-off and every other value are no note.
inline bool IsPlayableNote(uint8_t note) { return note >= 1 && note <= KEYMAP_NOTES; }

// (cell note - 1) + relative note, limited to 0..119.
int32_t TransposeNote(uint8_t cell_note, int8_t relative_note);
// Period of a note index 0..119 with a sample finetune, in linear units.
int32_t LinearNotePeriod(int32_t transposed_note, int8_t finetune);
// The same pitch as an Amiga period (1712 at the linear period 4608).
int32_t AmigaNotePeriod(int32_t transposed_note, int8_t finetune);
// Frequency in Hz before the lower limit of 100 Hz. Linear: 8363 Hz at period
// 4608, a positive offset raises the pitch. Amiga: 14317056 / (period + offset),
// 0 for a sum of 0.
int32_t LinearFrequency(int32_t period, int32_t period_offset);
int32_t AmigaFrequency(int64_t period_sum);
// Frames per tick for a tempo at an output rate.
int32_t SamplesPerTick(int32_t bpm, int32_t mix_rate);

// Volume slides limited to 0..64 and the unclamped (saturating) panning slide;
// each raises its change flag.
void VolumeSlideDown(Channel& channel, int32_t amount);
void VolumeSlideUp(Channel& channel, int32_t amount);
void PanningSlide(Channel& channel, int32_t amount);

// Multi-retrigger volume change for code 1..15 (0 leaves the volume), limited to 0..64.
int32_t RetriggerVolume(uint8_t code, int32_t volume);

// The per-tick envelope and fade-out step; the row-tick form also silences a
// released note that has no volume envelope.
void StepEnvelopesOnRowTick(Channel& channel, const Instrument& instrument);
void StepEnvelopesOnLaterTick(Channel& channel, const Instrument& instrument);

// a + b without leaving the 32-bit signed range.
inline int32_t SaturatingAdd(int32_t a, int64_t b) {
    int64_t sum = (int64_t)a + b;
    if (sum > INT32_MAX) return INT32_MAX;
    if (sum < INT32_MIN) return INT32_MIN;
    return (int32_t)sum;
}

}  // namespace vinto
