// The in-memory song: plain records created zero-filled by the XM loader.
// Song data never changes after loading; only the playback fields of Module move.
#pragma once

#include <stdint.h>

#include "vinto/vinto.h"

namespace vinto {

constexpr int MAX_INSTRUMENT_SAMPLES = 16;  // what an exact-mode instrument may carry
constexpr int INSTRUMENT_SAMPLE_SLOTS = 32;  // slots of the record; complete mode loads up to this many
constexpr int KEYMAP_NOTES = 96;
constexpr int ORDER_TABLE_SIZE = 256;
constexpr int ENVELOPE_POINTS = 20;       // room in the record
constexpr int FILE_ENVELOPE_POINTS = 12;  // what an XM file supplies
constexpr uint8_t KEY_OFF_NOTE = 255;
constexpr uint8_t LOOP_NONE = 1;
constexpr uint8_t LOOP_FORWARD = 2;
constexpr uint8_t LOOP_BIDI = 4;
constexpr uint8_t ENVELOPE_ON = 1;
constexpr uint8_t ENVELOPE_SUSTAIN = 2;
constexpr uint8_t ENVELOPE_LOOP = 4;
constexpr uint16_t MODULE_LINEAR_FREQUENCY = 1;
constexpr uint32_t SONG_TITLE_SIZE = 20;       // bytes of the song name in the file
constexpr uint32_t INSTRUMENT_NAME_BYTES = 22;  // bytes of an instrument name in the file

// The Windows program is kept small: its loader stores no loop repeats
// (Sample.repeats stays null), and its mixer has no code for them.
#if !defined(_WIN32)
#define VINTO_LOOP_REPEATS 1
#endif

struct PatternCell {
    uint8_t note;        // 0 none, 1..96 semitones (1 lowest), KEY_OFF_NOTE; others as the file gives them
    uint8_t instrument;  // 0 none, 1..128 (1-based, may exceed instrument_count)
    uint8_t volume;      // volume-column byte as stored
    uint8_t effect;      // effect number as stored
    uint8_t param;       // effect parameter as stored
};

struct Pattern {
    int32_t row_count;
    PatternCell* cells;  // row_count x channel_count, row-major; owned
};

struct EnvelopePoint {
    uint16_t tick;   // ticks from the envelope's start
    uint16_t value;  // 0..64
};

struct Sample {
    int16_t* data;         // length + 8 entries (plus one zero entry in front of data[0]); null when length is 0
    uint32_t length;       // frames, below 2^31
    uint32_t loop_start;   // frames
    uint32_t loop_length;  // frames; equals length when the sample does not loop
    uint8_t volume;        // default volume 0..64
    int8_t finetune;       // -128..127
    uint32_t pan;          // default panning 0..255
    uint8_t bits;          // 8 or 16 while loading; 16 for every sample with data afterwards
    uint8_t loop_mode;     // LOOP_NONE, LOOP_FORWARD or LOOP_BIDI (0 only in EmptySample)
    int8_t relative_note;  // semitones added to the played note
    // A short forward loop stored once more, repeated, so that the mixer
    // crosses many of its ends in one run: repeats[j] = data[loop_start + j %
    // loop_length] for j = 0 .. repeat_entries (the last one the guard entry),
    // with one entry in front. Null when there are none; owned.
    int16_t* repeats;
    uint32_t repeat_entries;  // a multiple of loop_length
};

struct Instrument {
    int32_t sample_count;                           // 0..MAX_INSTRUMENT_SAMPLES (complete mode: ..INSTRUMENT_SAMPLE_SLOTS)
    Sample* samples[INSTRUMENT_SAMPLE_SLOTS];       // own samples below sample_count, EmptySample above; never null
    uint8_t keymap[KEYMAP_NOTES];                   // sample slot per note - 1; 16 or more selects EmptySample
    EnvelopePoint volume_envelope[ENVELOPE_POINTS];
    EnvelopePoint pan_envelope[ENVELOPE_POINTS];
    uint8_t volume_point_count;
    uint8_t pan_point_count;
    uint8_t volume_sustain;
    uint8_t volume_loop_start;
    uint8_t volume_loop_end;
    uint8_t pan_sustain;
    uint8_t pan_loop_start;
    uint8_t pan_loop_end;
    uint8_t volume_envelope_type;  // ENVELOPE_ON | ENVELOPE_SUSTAIN | ENVELOPE_LOOP
    uint8_t pan_envelope_type;
    // Instrument auto-vibrato: applied by the complete replay only.
    uint8_t vibrato_type;   // 0 sine, 1 square, 2 ramp up, 3 ramp down
    uint8_t vibrato_sweep;  // ticks until the full depth is reached, 0 at once
    uint8_t vibrato_depth;  // 0..15, period units at full amplitude
    uint8_t vibrato_rate;   // phase step per tick, 256 a full cycle
    uint16_t fadeout;       // subtracted per tick from fade_volume after key-off; twice the file's value
    char name[INSTRUMENT_NAME_BYTES + 1];  // as in the file up to a zero byte, trailing spaces dropped
};

struct Channel;          // the exact replay's per-channel record
struct CompleteChannel;  // the complete replay's per-channel record

// Song-level playback state of the complete replay; part of the Module record
// so that a copy of the record carries it. Reset with the other playback fields.
struct CompleteSongState {
    int32_t delay_passes;      // EEx on the current row: passes it asks for (x + 1), taken up at the row's end
    int32_t passes_left;       // passes of a delayed row still due, counting the one playing; 0 none
    int32_t break_row;         // row the next jump lands on (Bxx, Dxx, E6x)
    int32_t jump_order;        // order named by Bxx, -1 = the one after the current
    uint8_t loop_jump;         // E6x jumps back at the row's end: 1 to the loop start, 2 to the row itself
    uint8_t position_jump;     // 1: Bxx or Dxx leaves the pattern at the row's end
};

}  // namespace vinto

// The public header names this record; its layout is the engine's own.
struct Module {
    vinto::Pattern* patterns;        // pattern_count records; owned
    vinto::Instrument* instruments;  // instrument_count records; owned
    int32_t tick_samples_left;  // playback: frames still to render in the current tick
    int32_t samples_per_tick;   // playback: frames per tick at the current tempo
    int16_t song_length;        // entries of orders that make up the song, 1..256
    int16_t restart_position;   // order at which the song continues after its last order
    int16_t channel_count;      // 1..32
    int32_t used_pattern_count;  // highest pattern number in the song's orders, plus 1
    int32_t pattern_count;       // max(patterns stored, used_pattern_count)
    int16_t instrument_count;
    uint16_t flags;  // MODULE_LINEAR_FREQUENCY
    int16_t default_speed;  // ticks per row at song start
    int16_t default_bpm;    // beats per minute at song start
    uint8_t orders[vinto::ORDER_TABLE_SIZE];
    uint8_t default_global_volume;  // 64
    int32_t global_volume;  // playback: 0..64
    int32_t tick;           // playback: tick within the row, 0 = row tick
    int32_t speed;          // playback: ticks per row
    int32_t row;            // playback
    int32_t order;          // playback: index into orders
    int32_t next_row;       // playback: row of the next row tick, -1 = none
    int32_t next_order;     // playback: order of the next row tick, -1 = none
    uint32_t time_ms;       // playback: song time in milliseconds
    vinto::Channel* channels;  // playback: the exact replay's channel table (the global one while playing)
    vinto::CompleteChannel* complete_channels;  // playback: the complete replay's channel table
    vinto::CompleteSongState complete;          // playback: the complete replay's song state
    void (*tick_handler)(Module* module);  // the replay mode's tick (ModuleTick for exact)
    SampleLoader sample_loader;            // null: sample data comes from the file
    int32_t mode;                          // VINTO_MODE_EXACT or VINTO_MODE_COMPLETE, chosen at load time
    uint8_t from_memory;                   // 1: loaded by LoadModuleFromMemory, needing no file callbacks
    char title[vinto::SONG_TITLE_SIZE + 1];  // song name as in the file up to a zero byte, trailing spaces dropped
    // Controls the host sets; the playback or rendering of this module follows them.
    uint32_t muted_channels;  // bit i: channel i is advanced but not heard
    int32_t pass_limit;       // passes through the song to play, then silence; 0: for ever
    float master_volume;      // output gain 0..1, applied when volume_scaled is 1
    uint8_t volume_scaled;    // 0: full volume, the mix converted unscaled
};

namespace vinto {

// Shared placeholders; never released.
extern Sample EmptySample;
extern Instrument EmptyInstrument;

bool ParseXm(Module* module, struct FileHandle* handle);
// The complete mode's parser: reads the layout the file declares (version,
// header sizes, instruments of up to 32 samples). ParseXm calls it through
// the table of modes.
bool ParseXmInDeclaredLayout(Module* module, struct FileHandle* handle);

// Records why the current load failed; GetLoadError reports it.
void SetLoadError(const char* reason);

}  // namespace vinto
