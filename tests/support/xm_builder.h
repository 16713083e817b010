// Test support: XM files built in memory from a few lines of description, served through memory file callbacks.
#pragma once

#include <stdint.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "vinto/vinto.h"

namespace xm {

struct Cell {
    uint8_t note = 0, instrument = 0, volume = 0, effect = 0, param = 0;  // as stored in the file: note 97 is key off
};

enum class Packing { Packed, Unpacked, NoData };

struct PatternSpec {
    int rows = 64;
    Packing packing = Packing::Packed;
    std::vector<Cell> cells;         // rows x channels, row-major; padded with empty cells
    std::vector<uint8_t> raw_cells;  // when not empty: the cell data written exactly, instead of cells
    Cell& At(int row, int channel, int channels);  // the cell list grows as needed
};

enum LoopType : uint8_t { NO_LOOP = 0, FORWARD_LOOP = 1, PINGPONG_LOOP = 2 };

struct SampleSpec {
    std::vector<int16_t> pcm;  // plain values: -128..127 for 8-bit samples
    bool sixteen_bit = false;
    uint8_t loop_type = NO_LOOP;             // type byte bits 0-1 (3 also allowed)
    uint32_t loop_start = 0, loop_length = 0;  // frames
    uint8_t volume = 64, pan = 128;
    int8_t finetune = 0, relative_note = 0;
    bool raw_sizes = false;  // header sizes in bytes as written, when a test needs them to disagree with pcm:
    uint32_t raw_length = 0, raw_loop_start = 0, raw_loop_length = 0;
};

struct EnvelopeSpec {
    std::vector<std::pair<uint16_t, uint16_t>> points;  // (tick, value); up to 12 written
    uint8_t point_count = 0xFF;  // 0xFF: points.size()
    uint8_t sustain = 0, loop_start = 0, loop_end = 0;
    uint8_t type = 0;  // ENVELOPE_ON | ENVELOPE_SUSTAIN | ENVELOPE_LOOP
};

struct InstrumentSpec {
    std::vector<SampleSpec> samples;
    uint8_t keymap[96] = {};
    EnvelopeSpec volume_envelope, pan_envelope;
    uint16_t fadeout = 0;  // as in the file (the loader doubles it)
    uint8_t vibrato_type = 0, vibrato_sweep = 0, vibrato_depth = 0, vibrato_rate = 0;
    uint32_t header_size = 263;  // counted from the instrument's start; at least 241 with samples
};

struct SongSpec {
    int channels = 4;
    std::vector<uint8_t> orders = {0};
    int song_length = -1;  // -1: orders.size()
    uint16_t restart_position = 0, flags = 1, speed = 6, bpm = 125;  // flags 1: linear frequencies
    uint32_t header_size = 276;
    // The layout: 0x0102 and 0x0103 put instruments before patterns, 0x0102 stores rows less one in a byte; header
    // sizes as declared (pattern headers padded with zeros, sample headers with 0xEE).
    uint16_t version = 0x0104;
    uint32_t pattern_header = 9, sample_header = 40;
    std::vector<PatternSpec> patterns;
    int declared_patterns = -1;  // -1: patterns.size()
    std::vector<InstrumentSpec> instruments;
    int declared_instruments = -1;  // -1: instruments.size()
};

std::vector<uint8_t> Build(const SongSpec& song);  // the bytes of an XM file

// One instrument with one looping 8-bit square wave of 32 frames: the usual starting point for replay tests.
SongSpec SimpleSong(int channels = 4, int rows = 64);

void InstallMemoryFile(const std::vector<uint8_t>& bytes);  // file callbacks serving a copy under any name

// Installs the bytes and loads them; null when the loader refuses. Loaded: owned.
Module* Load(const std::vector<uint8_t>& bytes, SampleLoader loader = nullptr, int32_t mode = VINTO_MODE_EXACT);
Module* Load(const SongSpec& song, SampleLoader loader = nullptr, int32_t mode = VINTO_MODE_EXACT);
using ModulePtr = std::unique_ptr<Module, decltype(&FreeModule)>;
inline ModulePtr Loaded(const SongSpec& song, int32_t mode = VINTO_MODE_EXACT, SampleLoader loader = nullptr) {
    return {Load(song, loader, mode), FreeModule};
}
int OpenMemoryStreams();  // memory streams open (the loader must close its file)

// The loader's promises a module breaks (null slots, guard entries, loops outside samples, counts out of range, ...):
// a line each, "" when none. Reads every cell and sample entry, so the sanitizers catch storage that is too short.
std::string ModuleFaults(const Module* module);

}  // namespace xm
