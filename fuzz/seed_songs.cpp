#include "fuzz/seed_songs.h"

namespace seeds {
namespace {

using xm::Cell;
using xm::SongSpec;

// SimpleSong with every note of the keymap on its sample and a few notes.
SongSpec Playing(int channels = 4, int rows = 16) {
    SongSpec song = xm::SimpleSong(channels, rows);
    song.patterns[0].At(0, 0, channels) = Cell{49, 1, 0, 0, 0};
    return song;
}

Cell& At(SongSpec& song, int pattern, int row, int channel) {
    return song.patterns[size_t(pattern)].At(row, channel, song.channels);
}

xm::SampleSpec Wave(int frames, bool sixteen_bit, uint8_t loop_type, uint32_t loop_start,
                    uint32_t loop_length) {
    xm::SampleSpec s;
    for (int i = 0; i < frames; i++) {
        int v = (i * 37) % 200 - 100;
        s.pcm.push_back(int16_t(sixteen_bit ? v * 250 : v));
    }
    s.sixteen_bit = sixteen_bit;
    s.loop_type = loop_type;
    s.loop_start = loop_start;
    s.loop_length = loop_length;
    return s;
}

}  // namespace

std::vector<SeedSong> SeedSongs() {
    std::vector<SeedSong> out;
    auto add = [&](const char* name, const SongSpec& song) { out.push_back({name, song}); };

    add("simple", Playing());

    {  // every effect the engine acts on, on the row tick and between rows
        SongSpec s = Playing(4, 32);
        const uint8_t effects[][2] = {{0, 0x37}, {1, 0x08}, {2, 0x08}, {3, 0x10}, {5, 0x21}, {8, 0x40},
                                      {10, 0x0F}, {10, 0xF0}, {15, 0x03}, {15, 0x90}, {20, 0},
                                      {27, 0x32}, {1, 0}, {2, 0}, {10, 0}, {27, 0}};
        int row = 0;
        for (const auto& e : effects) {
            At(s, 0, row, row % 4) = Cell{uint8_t(37 + row), 1, 0, e[0], e[1]};
            row += 2;
        }
        At(s, 0, 31, 0) = Cell{0, 0, 0, 13, 0x05};
        add("effects", s);
    }
    {  // volume-column commands
        SongSpec s = Playing(2, 32);
        const uint8_t commands[] = {0x10, 0x50, 0x55, 0x65, 0x75, 0x85, 0x95, 0xA3,
                                    0xB3, 0xC8, 0xD4, 0xE4, 0xF5, 0xF0, 0x05};
        for (int i = 0; i < 15; i++) At(s, 0, 2 * i, i % 2) = Cell{uint8_t(40 + i), 1, commands[i], 0, 0};
        add("volume-column", s);
    }
    {  // unpacked and empty patterns, several orders and a restart position
        SongSpec s = Playing(3, 8);
        s.patterns[0].packing = xm::Packing::Unpacked;
        xm::PatternSpec empty;
        empty.rows = 4;
        empty.packing = xm::Packing::NoData;
        s.patterns.push_back(empty);
        s.orders = {0, 1, 0, 2};  // pattern 2 is named but missing
        s.restart_position = 1;
        add("orders", s);
    }
    {  // 16-bit and 8-bit samples with every loop type
        SongSpec s = Playing(4, 16);
        xm::InstrumentSpec in;
        in.samples.push_back(Wave(64, true, xm::NO_LOOP, 0, 0));
        in.samples.push_back(Wave(64, true, xm::FORWARD_LOOP, 8, 40));
        in.samples.push_back(Wave(64, false, xm::PINGPONG_LOOP, 0, 64));
        in.samples.push_back(Wave(48, true, xm::PINGPONG_LOOP, 16, 16));
        for (int k = 0; k < 96; k++) in.keymap[k] = uint8_t(k % 4);
        s.instruments.push_back(in);
        for (int c = 0; c < 4; c++) At(s, 0, 0, c) = Cell{uint8_t(25 + 12 * c + c), 2, 0, 0, 0};
        add("samples", s);
    }
    {  // envelopes with sustain, loop, fade-out and key-off
        SongSpec s = Playing(2, 32);
        xm::InstrumentSpec& in = s.instruments[0];
        in.volume_envelope.points = {{0, 0}, {4, 64}, {10, 32}, {20, 48}, {40, 0}};
        in.volume_envelope.type = 1 | 2 | 4;
        in.volume_envelope.sustain = 2;
        in.volume_envelope.loop_start = 1;
        in.volume_envelope.loop_end = 3;
        in.pan_envelope.points = {{0, 32}, {8, 0}, {16, 64}};
        in.pan_envelope.type = 1 | 4;
        in.pan_envelope.loop_start = 0;
        in.pan_envelope.loop_end = 2;
        in.fadeout = 0x400;
        At(s, 0, 8, 0) = Cell{97, 0, 0, 0, 0};
        At(s, 0, 4, 1) = Cell{60, 1, 0, 20, 0};
        add("envelopes", s);
    }
    {  // Amiga frequencies, finetune and relative notes at both ends
        SongSpec s = Playing(4, 8);
        s.flags = 0;
        s.instruments[0].samples[0].finetune = -128;
        s.instruments[0].samples[0].relative_note = -96;
        At(s, 0, 1, 1) = Cell{96, 1, 0, 1, 0xFF};
        At(s, 0, 2, 2) = Cell{1, 1, 0, 2, 0xFF};
        add("amiga", s);
    }
    {  // 32 channels, 256 rows, many instruments
        SongSpec s = xm::SimpleSong(32, 256);
        for (int i = 1; i < 8; i++) s.instruments.push_back(s.instruments[0]);
        for (int c = 0; c < 32; c++) At(s, 0, c, c) = Cell{uint8_t(20 + c), uint8_t(1 + c % 8), 0, 0, 0};
        add("wide", s);
    }
    // Hostile values: each must load safely (or be refused) and play safely.
    {  // a break to row 63 of a pattern of 4 rows; a break on the last order
        SongSpec s = Playing(2, 4);
        At(s, 0, 1, 0) = Cell{0, 0, 0, 13, 0x63};
        xm::PatternSpec short_pattern;
        short_pattern.rows = 2;
        s.patterns.push_back(short_pattern);
        s.orders = {0, 1};
        add("break-beyond-rows", s);
    }
    {  // notes beyond the keymap, instruments beyond the song, keymap beyond the samples
        SongSpec s = Playing(4, 8);
        s.instruments[0].keymap[10] = 15;
        s.instruments[0].keymap[11] = 200;
        At(s, 0, 1, 0) = Cell{98, 1, 0, 0, 0};
        At(s, 0, 2, 1) = Cell{254, 1, 0, 0, 0};
        At(s, 0, 3, 2) = Cell{40, 99, 0, 0, 0};
        At(s, 0, 4, 3) = Cell{11, 1, 0, 0, 0};
        At(s, 0, 5, 3) = Cell{12, 1, 0, 0, 0};
        add("notes-beyond", s);
    }
    {  // envelopes with bad indices, too many points, decreasing ticks, big values
        SongSpec s = Playing(2, 16);
        xm::InstrumentSpec& in = s.instruments[0];
        in.volume_envelope.points = {{10, 64}, {5, 0}, {0, 40}, {65535, 65535}};
        in.volume_envelope.point_count = 200;
        in.volume_envelope.type = 7;
        in.volume_envelope.sustain = 90;
        in.volume_envelope.loop_start = 3;
        in.volume_envelope.loop_end = 1;
        in.pan_envelope.points = {{0, 64}, {0, 0}, {0, 64}};
        in.pan_envelope.type = 5;
        in.pan_envelope.loop_start = 2;
        in.pan_envelope.loop_end = 2;
        add("envelopes-bad", s);
    }
    {  // portamento without bound: speed FF on every row, down and up
        SongSpec s = Playing(2, 64);
        s.speed = 31;
        for (int r = 0; r < 64; r++) At(s, 0, r, 0) = Cell{0, 0, 0, 2, 0xFF};
        for (int r = 0; r < 64; r++) At(s, 0, r, 1) = Cell{0, 0, 0, 1, 0xFF};
        At(s, 0, 0, 1) = Cell{96, 1, 0, 1, 0xFF};
        add("portamento-unbounded", s);
    }
    {  // loop points outside the sample, zero-length loops, odd 16-bit sizes
        SongSpec s = Playing(4, 8);
        xm::InstrumentSpec in;
        xm::SampleSpec a = Wave(32, false, xm::FORWARD_LOOP, 0, 0);
        a.raw_sizes = true;
        a.raw_length = 32;
        a.raw_loop_start = 40;
        a.raw_loop_length = 10;
        xm::SampleSpec b = Wave(32, true, xm::PINGPONG_LOOP, 0, 0);
        b.raw_sizes = true;
        b.raw_length = 63;
        b.raw_loop_start = 9;
        b.raw_loop_length = 0xFFFFFFF0u;
        xm::SampleSpec c = Wave(16, false, 3, 0, 0);
        c.raw_sizes = true;
        c.raw_length = 16;
        c.raw_loop_start = 15;
        c.raw_loop_length = 1;
        in.samples = {a, b, c};
        for (int k = 0; k < 96; k++) in.keymap[k] = uint8_t(k % 3);
        s.instruments.push_back(in);
        for (int c2 = 0; c2 < 3; c2++) At(s, 0, 0, c2) = Cell{uint8_t(49 + c2), 2, 0, 0, 0};
        add("loops-outside", s);
    }
    {  // restart position outside the song, song length beyond the orders
        SongSpec s = Playing(2, 4);
        s.orders = {0, 0, 3};
        s.restart_position = 200;
        add("restart-outside", s);
        SongSpec t = Playing(2, 4);
        t.song_length = 300;
        add("song-length-300", t);
    }
    {  // zero and odd sizes: 0-row pattern, tempo 0, speed 0, empty instrument
        SongSpec s = Playing(1, 4);
        xm::PatternSpec none;
        none.rows = 0;
        s.patterns.push_back(none);
        s.orders = {1, 0};
        s.bpm = 0;
        s.speed = 0;
        xm::InstrumentSpec empty;
        s.instruments.push_back(empty);
        add("zero-sizes", s);
        SongSpec t = Playing(2, 4);
        t.bpm = 0xFFFF;
        t.speed = 0xFFFF;
        t.header_size = 20;  // patterns start inside the order table
        add("header-extremes", t);
    }
    {  // counts the file does not hold: patterns and instruments past its end
        SongSpec s = Playing(2, 4);
        s.instruments.clear();
        s.declared_patterns = 40;
        s.declared_instruments = 300;
        add("counts-beyond", s);
    }
    {  // retrigger and tempo extremes: every tick a row tick, fastest tempo
        SongSpec s = Playing(4, 8);
        At(s, 0, 0, 1) = Cell{50, 1, 0, 27, 0xF1};
        At(s, 0, 0, 2) = Cell{0, 0, 0, 15, 0xFF};
        At(s, 0, 1, 2) = Cell{0, 0, 0, 15, 0x00};
        At(s, 0, 2, 3) = Cell{0, 0, 0, 13, 0x99};
        add("tempo-extremes", s);
    }
    {  // ping-pong and forward loops far shorter than one step: many turns per frame
        SongSpec s = Playing(4, 16);
        xm::InstrumentSpec in;
        in.samples.push_back(Wave(8, false, xm::PINGPONG_LOOP, 7, 1));
        in.samples.push_back(Wave(8, true, xm::PINGPONG_LOOP, 0, 3));
        in.samples.push_back(Wave(8, false, xm::FORWARD_LOOP, 5, 2));
        for (auto& sample : in.samples) sample.relative_note = 23;
        for (int k = 0; k < 96; k++) in.keymap[k] = uint8_t(k % 3);
        s.instruments.push_back(in);
        for (int c = 0; c < 3; c++) At(s, 0, 0, c) = Cell{uint8_t(94 + c), 2, 0, 1, 0xFF};
        At(s, 0, 0, 3) = Cell{96, 2, 0, 0, 0xFF};  // arpeggio on top of the highest note
        add("loops-fast", s);
    }
    {  // every multi-retrigger volume code
        SongSpec s = Playing(4, 16);
        for (int code = 0; code < 16; code++)
            At(s, 0, code, code % 4) = Cell{49, 1, 0x30, 27, uint8_t(code << 4 | (1 + code % 3))};
        add("retrigger-codes", s);
    }
    return out;
}

}  // namespace seeds
