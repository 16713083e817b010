// The replay engine: per-channel state, tempo, the row tick, the later ticks,
// envelopes and fade-out, and the one door to the mixer (ApplyChannelToVoice).
#pragma once

#include <stdint.h>

#include "module/module.h"

struct Voice;

constexpr int MAX_CHANNELS = 32;

// Change flags: what a tick changed on a channel; ApplyChannelToVoice acts on them.
constexpr uint8_t CHANNEL_FREQ = 1;
constexpr uint8_t CHANNEL_VOLUME = 2;
constexpr uint8_t CHANNEL_PAN = 4;
constexpr uint8_t CHANNEL_TRIGGER = 8;

constexpr int32_t LINEAR_PERIOD_BASE = 7680;  // linear period of note index 0
constexpr int32_t BPM_SPEED_THRESHOLD = 32;   // effect 15: below sets speed, from here tempo
constexpr int32_t PERIOD_MIN = 56;            // lowest period portamento up reaches

struct EnvelopeState {
    int32_t tick;         // envelope time in ticks
    int32_t point;        // index of the point where the current segment starts
    int32_t fixed_value;  // 16.16 fixed point
    int32_t value;        // 0..64 (volume: 64 full; panning: 32 centre)
    int32_t step;         // 16.16 change per tick on the current segment
    uint8_t finished;     // 1 once the last point has been reached
};

struct Channel {
    uint8_t note;     // 0..95 = cell note - 1
    uint8_t flags;    // change flags of the current tick
    Voice* voice;     // pool slot i or its twin i + 32
    int32_t period;   // linear units, 64 per semitone, lower is higher
    int32_t volume;   // 0..64
    int32_t pan;      // 0..255, 128 centre (slides may leave the range; clamped at the voice)
    int32_t period_offset;  // arpeggio offset of the current tick, positive is higher
    EnvelopeState volume_env;
    EnvelopeState pan_env;
    int32_t fade_volume;  // 65536 no fade .. 0 silent
    uint8_t key_off;      // 1 once the note is released
    uint8_t instrument;   // 0-based
    uint8_t transposed_note;  // cell note - 1 + relative_note, 0..119
    int32_t note_period;      // period of the last note; tone-portamento targets come from it
    uint8_t porta_down_speed;
    uint8_t porta_up_speed;
    uint8_t volume_slide_param;
    uint8_t retrig_volume_code;  // 0..15
    uint8_t retrig_interval;     // ticks between retriggers, 0 off
    int32_t tone_porta_target;
    uint8_t tone_porta_speed;    // period moves 4 units per unit per tick
};

extern Channel channels[MAX_CHANNELS];

void SetBpm(Module& module, int32_t bpm);
void ProcessRow(Module& module);
void ResetChannelForSample(Channel& channel, const Sample& sample);
void ApplyVolumeColumn(Channel& channel, uint8_t command);
void ProcessTickEffects(Module& module);
void StepTonePortamento(Channel& channel);
void StepEnvelope(Channel& channel, EnvelopeState& state, uint8_t type, uint8_t point_count,
                  const EnvelopePoint* points, uint8_t loop_end, uint8_t loop_start, uint8_t sustain,
                  uint8_t flag);
void ApplyChannelToVoice(Channel& channel, Sample* sample, const Module& module);
void ModuleTick(Module* module);
