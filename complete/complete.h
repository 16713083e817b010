// The complete replay: every XM effect as FastTracker 2 plays it, its quirks
// included. It shares the song data, the voices and the mixer with the exact
// replay and keeps its own channel records, row and later ticks, envelopes and
// sequencer; the exact replay knows nothing of it.
//
// Periods: linear songs use linear periods (64 a semitone, 7680 at note index
// 0, lower is higher); Amiga songs Amiga periods (1712 at C-4), both in the
// units where portamento moves 4 per unit of speed.
#pragma once

#include <stdint.h>

#include "module/module.h"
#include "replay/modes.h"
#include "replay/replay.h"

namespace vinto {

struct Voice;

constexpr int32_t COMPLETE_PERIOD_MIN = 1;       // portamento up stops here
constexpr int32_t COMPLETE_PERIOD_MAX = 31999;   // portamento down stops here
constexpr int32_t VOLUME_MAX = 64;
constexpr int32_t ENVELOPE_UNIT = 256;           // envelope values are kept x 256
constexpr int32_t FADE_NONE = 65536;             // fade_volume of a note that is not fading
constexpr double AMIGA_CLOCK = 14317456.0;       // Hz x Amiga period: 8363 Hz at 1712

// XM effect numbers ('0'..'9', then 'A' = 10 .. 'Z' = 35).
enum : uint8_t {
    FX_ARPEGGIO = 0x00, FX_PORTA_UP = 0x01, FX_PORTA_DOWN = 0x02, FX_TONE_PORTA = 0x03,
    FX_VIBRATO = 0x04, FX_TONE_PORTA_SLIDE = 0x05, FX_VIBRATO_SLIDE = 0x06, FX_TREMOLO = 0x07,
    FX_PANNING = 0x08, FX_SAMPLE_OFFSET = 0x09, FX_VOLUME_SLIDE = 0x0A, FX_POSITION_JUMP = 0x0B,
    FX_SET_VOLUME = 0x0C, FX_PATTERN_BREAK = 0x0D, FX_EXTENDED = 0x0E, FX_SPEED_TEMPO = 0x0F,
    FX_GLOBAL_VOLUME = 0x10, FX_GLOBAL_SLIDE = 0x11, FX_KEY_OFF = 0x14, FX_ENVELOPE_POSITION = 0x15,
    FX_PANNING_SLIDE = 0x19, FX_MULTI_RETRIGGER = 0x1B, FX_TREMOR = 0x1D, FX_EXTRA_FINE_PORTA = 0x21,
};

// Exy sub-effects (x).
enum : uint8_t {
    EX_FINE_PORTA_UP = 0x1, EX_FINE_PORTA_DOWN = 0x2, EX_GLISSANDO = 0x3, EX_VIBRATO_WAVE = 0x4,
    EX_FINETUNE = 0x5, EX_PATTERN_LOOP = 0x6, EX_TREMOLO_WAVE = 0x7, EX_RETRIGGER = 0x9,
    EX_FINE_VOLUME_UP = 0xA, EX_FINE_VOLUME_DOWN = 0xB, EX_NOTE_CUT = 0xC, EX_NOTE_DELAY = 0xD,
    EX_PATTERN_DELAY = 0xE,
};

// A channel's progress through one instrument envelope.
struct EnvelopeProgress {
    int32_t tick;     // envelope time in ticks, compared with the points' ticks
    int32_t point;    // the point reached next (or held on); the point count once past the last
    int32_t value;    // current value x 256: volume 0..64, panning 0..64 with 32 the centre
    int32_t delta;    // change per tick x 256 on the current segment
    uint8_t holding;  // 1 while held on the sustain point (until key off)
};

struct CompleteChannel {
    Voice* voice;                  // pool slot i or its twin i + 32; null: the channel drives no voice
    const Instrument* instrument;  // of the last note started: envelopes, fade-out, auto-vibrato
    Sample* sample;                // of the last note started
    uint8_t instrument_number;     // last instrument a cell named, 1-based; 0 none yet
    uint8_t note;                  // last note started, 1..96; 0 none yet
    int8_t relative_note;          // semitones, of the last note's sample
    int8_t finetune;               // -128..127, 128 a semitone; the sample's or E5x's
    uint8_t default_volume;        // the last note's sample volume 0..64: what an instrument number restores
    uint8_t default_pan;           // the last note's sample panning 0..255

    // The current row's cell, kept for the later ticks (note delay and retrigger start from it).
    uint8_t cell_note;
    uint8_t cell_instrument;
    uint8_t volume_command;  // volume-column byte
    uint8_t effect;
    uint8_t param;

    int32_t period;           // base period
    int32_t out_period;       // period heard: the base moved by vibrato, arpeggio or glissando
    int32_t porta_target;     // tone-portamento target period
    uint8_t porta_direction;  // 0 no target, 1 towards higher periods (or arrived), 2 towards lower
    int32_t volume;           // 0..64
    int32_t out_volume;       // 0..64: volume heard, after tremolo and tremor
    int32_t pan;              // 0..255, 0 left, 128 centre
    EnvelopeProgress volume_env;
    EnvelopeProgress pan_env;
    int32_t fade_volume;      // 65536 no fade .. 0 silent
    uint8_t key_off;          // 1 once the note is released

    uint8_t auto_vibrato_pos;     // phase, 256 a cycle
    int32_t auto_vibrato_amp;     // amplitude reached, depth x 256
    int32_t auto_vibrato_sweep;   // amplitude added per tick while it sweeps in; 0 when done
    int32_t auto_vibrato_offset;  // period offset of the current tick

    // Effect memories: a zero parameter reuses the last non-zero one of its own kind.
    uint8_t porta_up_speed;       // 1xx
    uint8_t porta_down_speed;     // 2xx
    uint8_t fine_porta_up;        // E1x
    uint8_t fine_porta_down;      // E2x
    uint8_t extra_fine_up;        // X1x
    uint8_t extra_fine_down;      // X2x
    int32_t porta_speed;          // tone portamento, period units per tick: 3xx x 4, volume column Fx x 64
    uint8_t volume_slide;         // Axy, shared by 5xy and 6xy
    uint8_t fine_volume_up;       // EAx
    uint8_t fine_volume_down;     // EBx
    uint8_t global_slide;         // Hxy
    uint8_t pan_slide;            // Pxy
    uint8_t vibrato_pos;          // phase, 256 a cycle; the second half lowers the period
    uint8_t vibrato_speed;        // phase step per tick (4xy x times 4)
    uint8_t vibrato_depth;        // 0..15
    uint8_t tremolo_pos;
    uint8_t tremolo_speed;
    uint8_t tremolo_depth;
    uint8_t wave_control;         // low nibble vibrato, high tremolo: 0 sine, 1 ramp, 2-3 square; +4 keep phase
    uint8_t glissando;            // E3x: 1 tone portamento moves in semitones
    uint8_t tremor_pos;           // bit 7 sound on, low bits ticks left in the phase
    uint8_t tremor_param;         // Txy
    uint8_t retrig_counter;       // later ticks since the last multi retrigger
    uint8_t retrig_interval;      // Rxy y
    uint8_t retrig_volume;        // Rxy x
    uint8_t sample_offset;        // 9xx, units of 256 frames
    uint8_t loop_row;             // E60 row
    uint8_t loop_count;           // E6x passes still to play, 0 none

    uint8_t tremolo_ended;    // 1: the previous row's tremolo lets go of the volume on the next later tick
    uint8_t trigger;          // 1: the voice starts the sample on this tick
    uint32_t start_position;  // frame the triggered sample starts at
};

extern CompleteChannel complete_channels[MAX_CHANNELS];

// --- The replay's entries ---------------------------------------------------
void CompleteTick(Module* module);
void ResetCompleteChannels(Module& module, const ReplayTables& tables, bool link_voices);

// --- Notes (channel.cpp) -----------------------------------------------------
int32_t CompleteNotePeriod(const Module& module, int32_t note_index, int32_t finetune);
// The period of the note nearest to `period` with the channel's finetune, moved by semitones.
int32_t NoteGridPeriod(const Module& module, const CompleteChannel& channel, int32_t period, int32_t semitones);
// Starts a note (1..96) with the cell's effect (E5x, 9xx).
void StartTone(const Module& module, CompleteChannel& channel, uint8_t note, uint8_t effect, uint8_t param);
void SetPortaTarget(const Module& module, CompleteChannel& channel, uint8_t note);
// A retrigger: the channel's sample from its start, at the pitch it has now.
void RestartSample(CompleteChannel& channel);
void ResetVolumes(CompleteChannel& channel);
void TriggerInstrument(CompleteChannel& channel);
void KeyOff(CompleteChannel& channel);
int32_t ClampVolume(int32_t volume);
// Frames per tick at a tempo in beats per minute.
void SetTempo(Module& module, int32_t bpm);

// --- Row tick (row.cpp) and later ticks (effects.cpp) -----------------------
void CompleteRowChannel(Module& module, CompleteChannel& channel, const PatternCell& cell);
void CompleteLaterChannel(Module& module, CompleteChannel& channel);
void MultiRetrigger(CompleteChannel& channel);
void SetVibratoParameters(CompleteChannel& channel);
void VibratoOnRowTick(CompleteChannel& channel);
void SetVolume(CompleteChannel& channel, int32_t volume);
void ApplyVolumeColumnNoteStart(CompleteChannel& channel);

// --- Envelopes, fade-out, auto-vibrato (envelope.cpp) ----------------------
void StepInstrument(CompleteChannel& channel);
void SetEnvelopePosition(CompleteChannel& channel, int32_t tick);

// --- The one door to the mixer (voice.cpp) ----------------------------------
void UpdateCompleteVoice(const Module& module, CompleteChannel& channel);

}  // namespace vinto
