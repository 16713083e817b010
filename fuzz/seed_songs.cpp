#include "fuzz/seed_songs.h"

namespace seeds {
namespace {

using xm::Cell;
using xm::SongSpec;

xm::SampleSpec Wave(int frames, bool sixteen_bit, uint8_t loop_type, uint32_t loop_start, uint32_t loop_length) {
    xm::SampleSpec s;
    s.sixteen_bit = sixteen_bit, s.loop_type = loop_type, s.loop_start = loop_start, s.loop_length = loop_length;
    for (int i = 0; i < frames; i++) s.pcm.push_back(int16_t(((i * 37) % 200 - 100) * (sixteen_bit ? 250 : 1)));
    return s;
}

// A sample whose header states sizes in bytes that need not match its data.
xm::SampleSpec Raw(xm::SampleSpec s, uint32_t length, uint32_t loop_start, uint32_t loop_length) {
    s.raw_sizes = true, s.raw_length = length, s.raw_loop_start = loop_start, s.raw_loop_length = loop_length;
    return s;
}

Cell& At(SongSpec& s, int row, int channel) { return s.patterns[0].At(row, channel, s.channels); }

// A second instrument of these samples, the keymap cycling through them.
void AddInstrument(SongSpec& s, std::vector<xm::SampleSpec> samples) {
    xm::InstrumentSpec in;
    in.samples = samples;
    for (int k = 0; k < 96; k++) in.keymap[k] = uint8_t(k % samples.size());
    s.instruments.push_back(in);
}

}  // namespace

std::vector<SeedSong> SeedSongs() {
    std::vector<SeedSong> out;
    // SimpleSong of the given size with a note on row 0, changed by edit.
    auto add = [&out](const char* name, int channels, int rows, void (*edit)(SongSpec&)) {
        SongSpec s = xm::SimpleSong(channels, rows);
        s.patterns[0].At(0, 0, channels) = Cell{49, 1};
        edit(s);
        out.push_back({name, s});
    };
    add("simple", 4, 16, [](SongSpec&) {});  // the corpus songs seed every effect and column command
    add("orders", 3, 8, [](SongSpec& s) {  // unpacked and empty patterns, orders, a restart position
        s.patterns[0].packing = xm::Packing::Unpacked, s.patterns.push_back({4, xm::Packing::NoData, {}, {}});
        s.orders = {0, 1, 0, 2}, s.restart_position = 1;  // pattern 2 is named but missing
    });
    add("samples", 4, 16, [](SongSpec& s) {  // 16-bit and 8-bit samples with every loop type
        AddInstrument(s, {Wave(64, true, xm::NO_LOOP, 0, 0), Wave(64, true, xm::FORWARD_LOOP, 8, 40),
                          Wave(64, false, xm::PINGPONG_LOOP, 0, 64), Wave(48, true, xm::PINGPONG_LOOP, 16, 16)});
        for (int c = 0; c < 4; c++) At(s, 0, c) = Cell{uint8_t(25 + 13 * c), 2};
    });
    add("envelopes", 2, 32, [](SongSpec& s) {  // sustain, loop, fade-out and key-off
        s.instruments[0].volume_envelope = {{{0, 0}, {4, 64}, {10, 32}, {20, 48}, {40, 0}}, 0xFF, 2, 1, 3, 1 | 2 | 4};
        s.instruments[0].pan_envelope = {{{0, 32}, {8, 0}, {16, 64}}, 0xFF, 0, 0, 2, 1 | 4};
        s.instruments[0].fadeout = 0x400, At(s, 8, 0) = Cell{97}, At(s, 4, 1) = Cell{60, 1, 0, 20, 0};
    });
    add("amiga", 4, 8, [](SongSpec& s) {  // Amiga frequencies, finetune and relative notes at both ends
        s.flags = 0;
        s.instruments[0].samples[0].finetune = -128, s.instruments[0].samples[0].relative_note = -96;
        At(s, 1, 1) = Cell{96, 1, 0, 1, 0xFF}, At(s, 2, 2) = Cell{1, 1, 0, 2, 0xFF};
    });
    add("wide", 32, 256, [](SongSpec& s) {  // 32 channels, 256 rows, 8 instruments
        s.instruments.resize(8, s.instruments[0]);
        for (int c = 0; c < 32; c++) At(s, c, c) = Cell{uint8_t(20 + c), uint8_t(1 + c % 8)};
    });
    // Hostile values: each must load safely (or be refused) and play safely.
    add("break-beyond-rows", 2, 4, [](SongSpec& s) {  // to row 63 of 4; a break on the last order
        At(s, 1, 0) = Cell{0, 0, 0, 13, 0x63}, s.orders = {0, 1};
        s.patterns.push_back({2, xm::Packing::Packed, {}, {}});
        s.patterns[1].At(1, 1, 2) = Cell{0, 0, 0, 13, 0x99};
    });
    add("notes-beyond", 4, 8, [](SongSpec& s) {  // notes beyond the keymap, instruments beyond the song and the samples
        s.instruments[0].keymap[10] = 15, s.instruments[0].keymap[11] = 200;
        At(s, 1, 0) = Cell{98, 1}, At(s, 2, 1) = Cell{254, 1}, At(s, 3, 2) = Cell{40, 99};
        At(s, 4, 3) = Cell{11, 1}, At(s, 5, 3) = Cell{12, 1, 0, 27, 0x11};
    });
    add("envelopes-bad", 2, 16, [](SongSpec& s) {  // bad indices, too many points, decreasing ticks, big values
        s.instruments[0].volume_envelope = {{{10, 64}, {5, 0}, {0, 40}, {65535, 65535}}, 200, 90, 3, 1, 7};
        s.instruments[0].pan_envelope = {{{0, 64}, {0, 0}, {0, 64}}, 0xFF, 0, 2, 2, 5};
        s.instruments[0].fadeout = 0xFFFF, At(s, 6, 0) = Cell{97};
    });
    add("portamento-unbounded", 2, 64, [](SongSpec& s) {  // speed FF on every row, down and up
        for (int r = 0; r < 64; r++) At(s, r, 0) = Cell{uint8_t(r ? 0 : 49), 0, 0, 2, 0xFF}, At(s, r, 1) = Cell{0, 0, 0, 1, 0xFF};
        At(s, 0, 1) = Cell{96, 1, 0, 1, 0xFF}, s.speed = 31;
    });
    add("loops-outside", 4, 8, [](SongSpec& s) {  // loop points outside the sample, zero-length loops, odd 16-bit sizes
        AddInstrument(s, {Raw(Wave(32, false, xm::FORWARD_LOOP, 0, 0), 32, 40, 10),
                          Raw(Wave(32, true, xm::PINGPONG_LOOP, 0, 0), 63, 9, 0xFFFFFFF0u), Raw(Wave(16, false, 3, 0, 0), 16, 15, 1)});
        for (int c = 0; c < 3; c++) At(s, 0, c) = Cell{uint8_t(49 + c), 2};
    });
    add("loops-fast", 4, 16, [](SongSpec& s) {  // loops far shorter than a step: many turns per frame
        AddInstrument(s, {Wave(8, false, xm::PINGPONG_LOOP, 7, 1), Wave(8, true, xm::PINGPONG_LOOP, 0, 3),
                          Wave(8, false, xm::FORWARD_LOOP, 5, 2)});
        for (auto& sample : s.instruments[1].samples) sample.relative_note = 23;
        for (int c = 0; c < 3; c++) At(s, 0, c) = Cell{uint8_t(94 + c), 2, 0, 1, 0xFF};
        At(s, 0, 3) = Cell{96, 2, 0, 0, 0xFF};  // arpeggio on top of the highest note
    });
    add("restart-outside", 2, 4, [](SongSpec& s) { s.orders = {0, 0, 3}, s.restart_position = 200; });
    add("song-length-65535", 1, 1, [](SongSpec& s) { s.song_length = 0xFFFF, s.orders.assign(256, 0), s.restart_position = 300; });
    add("zero-sizes", 1, 4, [](SongSpec& s) {  // a pattern of 0 rows, tempo and speed 0, an instrument without samples
        s.patterns.push_back({0, xm::Packing::Packed, {}, {}});
        s.orders = {1, 0, 5}, s.bpm = s.speed = 0, s.instruments.resize(3);
        s.instruments[2].samples = {Wave(0, false, xm::FORWARD_LOOP, 0, 0)};  // an empty looping sample
        At(s, 1, 0) = Cell{49, 2}, At(s, 2, 0) = Cell{49, 3, 0, 3, 0x10};
    });
    add("header-extremes", 2, 4, [](SongSpec& s) {  // patterns start inside the order table
        s.bpm = s.speed = 0xFFFF, s.header_size = 20;
    });
    add("tempo-extremes", 4, 8, [](SongSpec& s) {  // every tick a row tick; fastest and slowest tempo
        At(s, 0, 1) = Cell{50, 1, 0, 27, 0xF1}, At(s, 0, 2) = Cell{0, 0, 0, 15, 0xFF}, At(s, 1, 2) = Cell{0, 0, 0, 15, 0};
        At(s, 2, 3) = Cell{0, 0, 0, 13, 0x99}, At(s, 3, 2) = Cell{0, 0, 0, 15, 0x20};
    });
    add("tempo-1", 1, 2, [](SongSpec& s) { s.bpm = 1, s.speed = 1; });  // ticks of 2.5 s
    add("counts-beyond", 2, 4, [](SongSpec& s) {  // patterns and instruments past the file's end
        s.instruments.clear(), s.declared_patterns = 40, s.declared_instruments = 300;
    });
    add("retrigger-codes", 4, 16, [](SongSpec& s) {
        for (int code = 0; code < 16; code++) At(s, code, code % 4) = Cell{49, 1, 0x30, 27, uint8_t(code << 4 | (1 + code % 3))};
    });
    return out;
}

}  // namespace seeds
