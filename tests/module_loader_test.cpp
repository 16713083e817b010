// The XM loader on well-formed files: header fields, patterns and cells,
// instruments and envelopes, samples with their guard entries, sample loaders.
#include <gtest/gtest.h>
#include <string.h>

#include <memory>
#include <vector>

#include "module/module.h"
#include "replay/replay.h"
#include "tests/support/xm_builder.h"

namespace {

struct ModuleRelease {
    void operator()(Module* module) const { FreeModule(module); }
};
using ModulePtr = std::unique_ptr<Module, ModuleRelease>;

ModulePtr LoadSong(const xm::SongSpec& song, SampleLoader loader = nullptr) {
    ModulePtr module(xm::Load(song, loader));
    EXPECT_EQ(xm::OpenMemoryStreams(), 0) << "the loader must close its file";
    return module;
}

xm::SongSpec OneSampleSong(const xm::SampleSpec& sample) {
    xm::SongSpec song = xm::SimpleSong(1, 1);
    song.instruments[0].samples = {sample};
    return song;
}

// A ramp of distinct values, so that a copied entry shows where it came from.
std::vector<int16_t> Ramp(int frames, bool sixteen_bit) {
    std::vector<int16_t> pcm;
    for (int k = 0; k < frames; k++) {
        int v = (k * 37) % 200 - 100;
        pcm.push_back(int16_t(sixteen_bit ? v * 300 + 7 : v));
    }
    return pcm;
}

TEST(Loader, HeaderFields) {
    xm::SongSpec song = xm::SimpleSong(6, 8);
    song.patterns.resize(3, song.patterns[0]);
    song.orders = {0, 1, 0, 2, 0, 0, 9};  // entries beyond the song length are not looked at
    song.song_length = 4;
    song.restart_position = 1;
    song.flags = 1;
    song.speed = 3;
    song.bpm = 140;
    ModulePtr module = LoadSong(song);
    ASSERT_TRUE(module) << GetLoadError();
    EXPECT_STREQ(GetLoadError(), "");
    EXPECT_EQ(module->song_length, 4);
    EXPECT_EQ(module->restart_position, 1);
    EXPECT_EQ(module->channel_count, 6);
    EXPECT_EQ(module->used_pattern_count, 3);
    EXPECT_EQ(module->pattern_count, 3);
    EXPECT_EQ(module->instrument_count, 1);
    EXPECT_EQ(module->flags, MODULE_LINEAR_FREQUENCY);
    EXPECT_EQ(module->default_speed, 3);
    EXPECT_EQ(module->default_bpm, 140);
    EXPECT_EQ(module->orders[3], 2);
    EXPECT_EQ(module->orders[6], 9);
    EXPECT_EQ(module->default_global_volume, 64);
    EXPECT_EQ(module->tick_handler, ModuleTick);
    EXPECT_EQ(module->sample_loader, nullptr);
    EXPECT_EQ(xm::ModuleFaults(module.get()), "");
}

TEST(Loader, LargerHeaderIsSkipped) {
    xm::SongSpec song = xm::SimpleSong(2, 4);
    song.header_size = 400;  // 124 bytes the loader does not know
    song.patterns[0].At(1, 1, 2) = {50, 1, 0x40, 0x0A, 0x20};
    ModulePtr module = LoadSong(song);
    ASSERT_TRUE(module) << GetLoadError();
    EXPECT_EQ(module->patterns[0].cells[3].note, 50);
    EXPECT_EQ(module->instruments[0].samples[0]->length, 32u);
}

// ---- patterns -------------------------------------------------------------------

TEST(Loader, CellsUnpackedAndPacked) {
    xm::SongSpec song = xm::SimpleSong(4, 4);
    song.patterns.resize(3);
    song.orders = {0, 1, 2};
    xm::PatternSpec& unpacked = song.patterns[0];
    unpacked.rows = 4;
    unpacked.packing = xm::Packing::Unpacked;
    unpacked.At(2, 3, 4) = {0x31, 0x02, 0x40, 0x0A, 0x20};
    unpacked.At(0, 1, 4) = {97, 0x81, 0, 0, 0};  // key off; instrument above 128
    unpacked.At(1, 0, 4) = {12, 128, 0, 0x0F, 0};
    xm::PatternSpec& packed = song.patterns[1];
    packed.rows = 2;
    packed.At(1, 2, 4) = {97, 5, 0, 0, 0};  // written as 0x83 0x61 0x05
    packed.At(0, 0, 4) = {1, 0, 0x10, 0, 0xFF};
    // Raw cell bytes: every field, then bits 5 and 6 set with only a note.
    xm::PatternSpec& raw = song.patterns[2];
    raw.rows = 1;
    raw.raw_cells = {0x9F, 96, 0xC8, 0xFF, 0x21, 0x07, 0xE1, 0x30, 0x80, 0x83, 0x61, 0x05};
    ModulePtr module = LoadSong(song);
    ASSERT_TRUE(module) << GetLoadError();

    const PatternCell* cells = module->patterns[0].cells;
    const PatternCell& c = cells[2 * 4 + 3];
    EXPECT_EQ(c.note, 49);
    EXPECT_EQ(c.instrument, 2);
    EXPECT_EQ(c.volume, 0x40);
    EXPECT_EQ(c.effect, 10);
    EXPECT_EQ(c.param, 0x20);
    EXPECT_EQ(cells[1].note, KEY_OFF_NOTE);
    EXPECT_EQ(cells[1].instrument, 0);
    EXPECT_EQ(cells[4].instrument, 128);
    EXPECT_EQ(cells[4].effect, 0x0F);

    const PatternCell* p = module->patterns[1].cells;
    EXPECT_EQ(p[6].note, KEY_OFF_NOTE);
    EXPECT_EQ(p[6].instrument, 5);
    EXPECT_EQ(p[6].volume + p[6].effect + p[6].param, 0);
    EXPECT_EQ(p[0].note, 1);
    EXPECT_EQ(p[0].volume, 0x10);
    EXPECT_EQ(p[0].param, 0xFF);

    const PatternCell* r = module->patterns[2].cells;
    EXPECT_EQ(r[0].note, 96);
    EXPECT_EQ(r[0].instrument, 0);  // 0xC8 = 200 is above 128
    EXPECT_EQ(r[0].volume, 0xFF);
    EXPECT_EQ(r[0].effect, 0x21);
    EXPECT_EQ(r[0].param, 0x07);
    EXPECT_EQ(r[1].note, 0x30);
    EXPECT_EQ(r[1].instrument + r[1].volume + r[1].effect + r[1].param, 0);
    EXPECT_EQ(r[2].note + r[2].instrument, 0);  // 0x80: an empty packed cell
    EXPECT_EQ(r[3].note, KEY_OFF_NOTE);
    EXPECT_EQ(r[3].instrument, 5);
    // The instrument after the patterns was found where the cells ended.
    EXPECT_EQ(module->instruments[0].samples[0]->length, 32u);
}

TEST(Loader, PatternsWithoutCellData) {
    // Packed size 0: R empty rows and only the 9 header bytes consumed. Zero
    // rows, with or without a cell size: kept as 64 empty rows, no cells read.
    // In every case the next pattern still decodes.
    xm::SongSpec song = xm::SimpleSong(2, 4);
    song.patterns.resize(6);
    song.orders = {0, 1, 2, 3, 4, 5};
    song.patterns[0].rows = 5;
    song.patterns[0].packing = xm::Packing::NoData;
    song.patterns[1].rows = 2;
    song.patterns[1].At(1, 1, 2) = {7, 1, 0, 0, 0};
    song.patterns[2].rows = 0;
    song.patterns[2].packing = xm::Packing::NoData;
    song.patterns[3].rows = 1;
    song.patterns[3].At(0, 0, 2) = {8, 0, 0, 0, 0};
    song.patterns[4].rows = 0;  // the builder declares a non-zero cell size
    song.patterns[5].rows = 1;
    song.patterns[5].At(0, 1, 2) = {9, 0, 0, 0, 0};
    ModulePtr module = LoadSong(song);
    ASSERT_TRUE(module) << GetLoadError();
    EXPECT_EQ(module->patterns[0].row_count, 5);
    for (int k = 0; k < 10; k++) EXPECT_EQ(module->patterns[0].cells[k].note, 0);
    EXPECT_EQ(module->patterns[1].row_count, 2);
    EXPECT_EQ(module->patterns[1].cells[3].note, 7);
    EXPECT_EQ(module->patterns[2].row_count, 64);
    EXPECT_EQ(module->patterns[3].cells[0].note, 8);
    EXPECT_EQ(module->patterns[4].row_count, 64);
    EXPECT_EQ(module->patterns[5].cells[1].note, 9);
    EXPECT_EQ(xm::ModuleFaults(module.get()), "");
}

TEST(Loader, PatternsTheSongNamesButTheFileLacks) {
    xm::SongSpec song = xm::SimpleSong(3, 32);
    song.patterns.resize(15, song.patterns[0]);
    song.orders = {0, 20, 3};
    ModulePtr module = LoadSong(song);
    ASSERT_TRUE(module) << GetLoadError();
    EXPECT_EQ(module->used_pattern_count, 21);
    EXPECT_EQ(module->pattern_count, 21);
    for (int i = 15; i <= 20; i++) {
        EXPECT_EQ(module->patterns[i].row_count, 64) << i;
        ASSERT_NE(module->patterns[i].cells, nullptr);
        for (int k = 0; k < 64 * 3; k++) EXPECT_EQ(module->patterns[i].cells[k].note, 0);
    }
    EXPECT_EQ(module->patterns[14].row_count, 32);
    EXPECT_EQ(xm::ModuleFaults(module.get()), "");
}

TEST(Loader, StoredPatternsBeyondTheOrdersAreKept) {
    xm::SongSpec song = xm::SimpleSong(2, 8);
    song.patterns.resize(5, song.patterns[0]);
    song.patterns[4].rows = 3;
    ModulePtr module = LoadSong(song);
    ASSERT_TRUE(module) << GetLoadError();
    EXPECT_EQ(module->used_pattern_count, 1);
    EXPECT_EQ(module->pattern_count, 5);
    EXPECT_EQ(module->patterns[4].row_count, 3);
}

// ---- instruments ----------------------------------------------------------------

TEST(Loader, SampleSlots) {
    xm::SongSpec song = xm::SimpleSong(1, 1);
    xm::InstrumentSpec none;  // no samples
    xm::InstrumentSpec full;
    for (int j = 0; j < 16; j++) {
        xm::SampleSpec s;
        s.pcm = std::vector<int16_t>{int16_t(j), int16_t(-j)};
        full.samples.push_back(s);
    }
    song.instruments.push_back(none);
    song.instruments.push_back(full);
    ModulePtr module = LoadSong(song);
    ASSERT_TRUE(module) << GetLoadError();
    ASSERT_EQ(module->instrument_count, 3);
    const Instrument& one = module->instruments[0];
    EXPECT_EQ(one.sample_count, 1);
    EXPECT_NE(one.samples[0], &EmptySample);
    for (int j = 1; j < 16; j++) EXPECT_EQ(one.samples[j], &EmptySample) << j;
    const Instrument& empty = module->instruments[1];
    EXPECT_EQ(empty.sample_count, 0);
    for (int j = 0; j < 16; j++) EXPECT_EQ(empty.samples[j], &EmptySample) << j;
    const Instrument& sixteen = module->instruments[2];
    EXPECT_EQ(sixteen.sample_count, 16);
    for (int j = 0; j < 16; j++) {
        ASSERT_NE(sixteen.samples[j], &EmptySample);
        EXPECT_EQ(sixteen.samples[j]->data[1], -j * 256) << j;
    }
    EXPECT_EQ(xm::ModuleFaults(module.get()), "");
}

TEST(Loader, InstrumentFieldsAndEnvelopes) {
    xm::SongSpec song = xm::SimpleSong(1, 1);
    xm::InstrumentSpec& in = song.instruments[0];
    for (int k = 0; k < 96; k++) in.keymap[k] = uint8_t(k % 3);
    in.keymap[95] = 20;
    in.volume_envelope.points = {{0, 64}, {10, 32}, {20, 65}, {30, 0xFFFF}};
    in.volume_envelope.sustain = 1;
    in.volume_envelope.loop_start = 1;
    in.volume_envelope.loop_end = 3;
    in.volume_envelope.type = ENVELOPE_ON | ENVELOPE_SUSTAIN | ENVELOPE_LOOP;
    in.pan_envelope.points = {{0, 32}, {5, 0}, {9, 64}};
    in.pan_envelope.type = ENVELOPE_ON;
    in.fadeout = 0x8123;  // doubled in 16 bits
    in.vibrato_type = 1;
    in.vibrato_sweep = 2;
    in.vibrato_depth = 3;
    in.vibrato_rate = 4;
    ModulePtr module = LoadSong(song);
    ASSERT_TRUE(module) << GetLoadError();
    const Instrument& i = module->instruments[0];
    EXPECT_EQ(i.keymap[4], 1);
    EXPECT_EQ(i.keymap[95], 20);
    EXPECT_EQ(i.volume_point_count, 4);
    EXPECT_EQ(i.volume_envelope[1].tick, 10);
    EXPECT_EQ(i.volume_envelope[1].value, 32);
    EXPECT_EQ(i.volume_envelope[2].value, 64) << "values are limited to 64";
    EXPECT_EQ(i.volume_envelope[3].value, 64);
    EXPECT_EQ(i.volume_envelope[3].tick, 30);
    EXPECT_EQ(i.volume_sustain, 1);
    EXPECT_EQ(i.volume_loop_start, 1);
    EXPECT_EQ(i.volume_loop_end, 3);
    EXPECT_EQ(i.volume_envelope_type, ENVELOPE_ON | ENVELOPE_SUSTAIN | ENVELOPE_LOOP);
    EXPECT_EQ(i.pan_point_count, 3);
    EXPECT_EQ(i.pan_envelope[2].tick, 9);
    EXPECT_EQ(i.pan_envelope_type, ENVELOPE_ON);
    EXPECT_EQ(i.fadeout, 0x0246);
    EXPECT_EQ(i.vibrato_type, 1);
    EXPECT_EQ(i.vibrato_sweep, 2);
    EXPECT_EQ(i.vibrato_depth, 3);
    EXPECT_EQ(i.vibrato_rate, 4);
    for (int k = 12; k < ENVELOPE_POINTS; k++) EXPECT_EQ(i.volume_envelope[k].tick, 0);
}

TEST(Loader, EnvelopeFeaturesOutsideThePointsAreSwitchedOff) {
    struct Case {
        const char* what;
        uint8_t point_count;
        uint8_t sustain, loop_start, loop_end;
        uint8_t type;
        uint8_t expected_count;
        uint8_t expected_type;
    } cases[] = {
        {"all valid", 4, 3, 0, 3, 7, 4, 7},
        {"14 points become 12", 14, 11, 2, 11, 7, 12, 7},
        {"255 points become 12; sustain 12 is beyond", 255, 12, 0, 11, 7, 12, 5},
        {"one point: off", 1, 0, 0, 0, 7, 1, 0},
        {"no points: off", 0, 0, 0, 0, 1, 0, 0},
        {"sustain beyond", 4, 4, 0, 1, 7, 4, 5},
        {"loop end beyond", 4, 0, 0, 4, 7, 4, 3},
        {"loop start beyond", 4, 0, 9, 9, 5, 4, 1},
        {"loop start after loop end", 4, 0, 3, 2, 7, 4, 3},
        {"bits already clear stay clear", 4, 9, 9, 9, 1, 4, 1},
    };
    for (const Case& c : cases) {
        xm::SongSpec song = xm::SimpleSong(1, 1);
        xm::EnvelopeSpec envelope;
        for (int k = 0; k < 12; k++) envelope.points.push_back({uint16_t(k * 4), 32});
        envelope.point_count = c.point_count;
        envelope.sustain = c.sustain;
        envelope.loop_start = c.loop_start;
        envelope.loop_end = c.loop_end;
        envelope.type = c.type;
        song.instruments[0].volume_envelope = envelope;
        song.instruments[0].pan_envelope = envelope;
        ModulePtr module = LoadSong(song);
        ASSERT_TRUE(module) << c.what << ": " << GetLoadError();
        const Instrument& i = module->instruments[0];
        EXPECT_EQ(i.volume_point_count, c.expected_count) << c.what;
        EXPECT_EQ(i.volume_envelope_type, c.expected_type) << c.what;
        EXPECT_EQ(i.pan_point_count, c.expected_count) << c.what;
        EXPECT_EQ(i.pan_envelope_type, c.expected_type) << c.what;
        EXPECT_EQ(xm::ModuleFaults(module.get()), "") << c.what;
    }
}

TEST(Loader, InstrumentHeaderSizeFindsTheNextStructure) {
    // With no samples exactly I bytes are consumed, whatever I is; with samples
    // the sample headers start at I.
    for (uint32_t header_size : {29u, 33u, 263u, 600u}) {
        xm::SongSpec song = xm::SimpleSong(1, 1);
        xm::InstrumentSpec empty;
        empty.header_size = header_size;
        song.instruments.insert(song.instruments.begin(), empty);
        song.instruments[1].header_size = header_size < 241 ? 263 : header_size;
        ModulePtr module = LoadSong(song);
        ASSERT_TRUE(module) << header_size << ": " << GetLoadError();
        EXPECT_EQ(module->instruments[0].sample_count, 0) << header_size;
        ASSERT_EQ(module->instruments[1].sample_count, 1) << header_size;
        EXPECT_EQ(module->instruments[1].samples[0]->length, 32u) << header_size;
        EXPECT_EQ(module->instruments[1].samples[0]->data[0], 100 * 256) << header_size;
    }
}

// ---- samples --------------------------------------------------------------------

TEST(Loader, LoopsAndGuardEntries) {
    struct Case {
        const char* what;
        bool sixteen_bit;
        uint8_t type;  // loop bits of the type byte
        int frames;
        bool raw;  // sizes below are header bytes as written, else frames
        uint32_t loop_start, loop_length;
        uint8_t mode;
        uint32_t expected_start, expected_length;
    } cases[] = {
        {"no loop", false, 0, 100, false, 0, 0, LOOP_NONE, 0, 100},
        {"no loop ignores stored loop points", false, 0, 100, false, 30, 20, LOOP_NONE, 0, 100},
        {"forward", false, 1, 100, false, 10, 20, LOOP_FORWARD, 10, 20},
        {"ping-pong", false, 2, 100, false, 10, 20, LOOP_BIDI, 10, 20},
        {"type 3 is ping-pong", false, 3, 100, false, 10, 20, LOOP_BIDI, 10, 20},
        {"ping-pong from frame 0", false, 2, 100, false, 0, 7, LOOP_BIDI, 0, 7},
        {"forward to the end", false, 1, 100, false, 90, 10, LOOP_FORWARD, 90, 10},
        {"ping-pong to the end", false, 2, 100, false, 90, 10, LOOP_BIDI, 90, 10},
        {"16-bit forward", true, 1, 60, false, 12, 30, LOOP_FORWARD, 12, 30},
        {"16-bit ping-pong to the end", true, 2, 60, false, 20, 40, LOOP_BIDI, 20, 40},
        {"loop of length 0 is none", false, 1, 100, false, 40, 0, LOOP_NONE, 0, 100},
        {"loop start at the end", false, 1, 100, false, 100, 5, LOOP_NONE, 0, 100},
        {"loop start far beyond", false, 2, 100, false, 5000, 5, LOOP_NONE, 0, 100},
        {"loop past the end is shortened", false, 1, 100, false, 80, 50, LOOP_FORWARD, 80, 20},
        {"huge loop length is shortened", false, 2, 100, true, 10, 0xFFFFFFFF, LOOP_BIDI, 10, 90},
        {"16-bit bytes halved", true, 1, 60, true, 21, 41, LOOP_FORWARD, 10, 20},
        {"16-bit loop of one byte is none", true, 1, 60, true, 20, 1, LOOP_NONE, 0, 60},
        {"16-bit 1000 bytes, loop length 0", true, 1, 500, true, 200, 0, LOOP_NONE, 0, 500},
    };
    for (const Case& c : cases) {
        xm::SampleSpec s;
        s.pcm = Ramp(c.frames, c.sixteen_bit);
        s.sixteen_bit = c.sixteen_bit;
        s.loop_type = c.type;
        uint32_t width = c.sixteen_bit ? 2 : 1;
        s.raw_sizes = true;
        s.raw_length = uint32_t(c.frames) * width;
        s.raw_loop_start = c.raw ? c.loop_start : c.loop_start * width;
        s.raw_loop_length = c.raw ? c.loop_length : c.loop_length * width;
        ModulePtr module = LoadSong(OneSampleSong(s));
        ASSERT_TRUE(module) << c.what << ": " << GetLoadError();
        const Sample& sample = *module->instruments[0].samples[0];
        EXPECT_EQ(sample.length, uint32_t(c.frames)) << c.what;
        EXPECT_EQ(sample.loop_mode, c.mode) << c.what;
        EXPECT_EQ(sample.loop_start, c.expected_start) << c.what;
        EXPECT_EQ(sample.loop_length, c.expected_length) << c.what;
        EXPECT_EQ(sample.bits, 16) << c.what;
        const int16_t* data = sample.data;
        int scale = c.sixteen_bit ? 1 : 256;
        uint32_t end = c.expected_start + c.expected_length;
        for (int k = 0; k < c.frames; k++) {
            if (uint32_t(k) == end) continue;  // a loop ending inside holds its guard here
            ASSERT_EQ(data[k], s.pcm[size_t(k)] * scale) << c.what << " frame " << k;
        }
        int expected_guard = 0;  // behind a sample that does not loop
        if (c.mode == LOOP_FORWARD) expected_guard = s.pcm[c.expected_start] * scale;
        if (c.mode == LOOP_BIDI) expected_guard = s.pcm[end - 1] * scale;
        EXPECT_EQ(data[end], expected_guard) << c.what << ": guard entry";
        EXPECT_EQ(data[-1], 0) << c.what << ": the entry in front of the first frame";
        for (int k = c.frames + 1; k < c.frames + 8; k++) EXPECT_EQ(data[k], 0) << c.what << " entry " << k;
        EXPECT_EQ(xm::ModuleFaults(module.get()), "") << c.what;
    }
}

TEST(Loader, DeltaDecodingAndWidening) {
    struct Case {
        const char* what;
        bool sixteen_bit;
        std::vector<int16_t> pcm;
        std::vector<int16_t> expected;
    } cases[] = {
        {"8-bit deltas 10, -3, -7", false, {10, 7, 0}, {2560, 1792, 0}},
        {"8-bit deltas wrap around", false, {127, -128, 127, -1}, {32512, -32768, 32512, -256}},
        {"16-bit", true, {1000, -1000, 5}, {1000, -1000, 5}},
        {"16-bit deltas wrap around", true, {32767, -32768, 0, -1}, {32767, -32768, 0, -1}},
    };
    for (const Case& c : cases) {
        xm::SampleSpec s;
        s.pcm = c.pcm;
        s.sixteen_bit = c.sixteen_bit;
        ModulePtr module = LoadSong(OneSampleSong(s));
        ASSERT_TRUE(module) << c.what;
        const Sample& sample = *module->instruments[0].samples[0];
        ASSERT_EQ(sample.length, c.expected.size()) << c.what;
        for (size_t k = 0; k < c.expected.size(); k++) EXPECT_EQ(sample.data[k], c.expected[k]) << c.what << " " << k;
    }
}

TEST(Loader, ZeroLengthSampleConsumesNothing) {
    xm::SongSpec song = xm::SimpleSong(1, 1);
    xm::SampleSpec empty;
    empty.loop_type = xm::FORWARD_LOOP;
    empty.raw_sizes = true;
    empty.raw_loop_start = 4;
    empty.raw_loop_length = 4;
    xm::SampleSpec after;
    after.pcm = std::vector<int16_t>{10, 7, 0};
    song.instruments[0].samples = {empty, after};
    ModulePtr module = LoadSong(song);
    ASSERT_TRUE(module) << GetLoadError();
    const Sample& first = *module->instruments[0].samples[0];
    EXPECT_EQ(first.data, nullptr);
    EXPECT_EQ(first.length, 0u);
    EXPECT_EQ(first.loop_mode, LOOP_NONE);
    EXPECT_EQ(first.loop_length, 0u);
    const Sample& second = *module->instruments[0].samples[1];
    EXPECT_EQ(second.data[0], 2560);
    EXPECT_EQ(second.data[2], 0);
    EXPECT_EQ(xm::ModuleFaults(module.get()), "");
}

TEST(Loader, SampleHeaderFields) {
    xm::SampleSpec s;
    s.pcm = std::vector<int16_t>{1, 2};
    s.volume = 48;
    s.finetune = -100;
    s.pan = 200;
    s.relative_note = -12;
    s.extra_type_bits = 0x0C;  // bits the loader does not know
    ModulePtr module = LoadSong(OneSampleSong(s));
    ASSERT_TRUE(module) << GetLoadError();
    const Sample& sample = *module->instruments[0].samples[0];
    EXPECT_EQ(sample.volume, 48);
    EXPECT_EQ(sample.finetune, -100);
    EXPECT_EQ(sample.pan, 200u);
    EXPECT_EQ(sample.relative_note, -12);
    EXPECT_EQ(sample.loop_mode, LOOP_NONE);
}

// ---- the sample loader ------------------------------------------------------------

struct LoaderCall {
    uint32_t byte_count, bits;
    int32_t instrument;
    uint32_t sample;
    bool buffer_was_zero;
};
std::vector<LoaderCall> loader_calls;

void SupplySamples(uint8_t* buffer, uint32_t byte_count, uint32_t bits, int32_t instrument, uint32_t sample) {
    // The whole buffer (2 x frames + 16 bytes) must be zeroed space.
    uint32_t frames = bits == 16 ? byte_count / 2 : byte_count;
    bool zero = true;
    for (uint32_t k = 0; k < 2 * frames + 16; k++) zero = zero && buffer[k] == 0;
    loader_calls.push_back({byte_count, bits, instrument, sample, zero});
    // Plain PCM: 16-bit little-endian 100 x k; 8-bit 1, 2, -1, ...
    for (uint32_t k = 0; k < frames; k++) {
        if (bits == 16) {
            uint16_t v = uint16_t(int16_t(100 * int(k) - 300));
            buffer[2 * k] = uint8_t(v);
            buffer[2 * k + 1] = uint8_t(v >> 8);
        } else {
            buffer[k] = uint8_t(k % 3 == 2 ? 0xFF : k % 3 + 1);
        }
    }
}

TEST(Loader, SampleLoaderSuppliesPlainPcm) {
    loader_calls.clear();
    xm::SongSpec song = xm::SimpleSong(1, 1);
    xm::SampleSpec wide;
    wide.pcm = Ramp(250, true);
    wide.sixteen_bit = true;
    wide.loop_type = xm::FORWARD_LOOP;
    wide.loop_start = 10;
    wide.loop_length = 100;
    xm::SampleSpec none;  // length 0: no call
    xm::SampleSpec narrow;
    narrow.pcm = std::vector<int16_t>{5, 5, 5, 5, 5, 5};
    song.instruments[0].samples = {wide, none, narrow};
    xm::InstrumentSpec second;
    xm::SampleSpec last;
    last.pcm = std::vector<int16_t>{9, 9, 9};
    second.samples = {last};
    second.volume_envelope.points = {{0, 10}, {4, 20}};
    second.volume_envelope.type = ENVELOPE_ON;
    song.instruments.push_back(second);

    ModulePtr module = LoadSong(song, SupplySamples);
    ASSERT_TRUE(module) << GetLoadError();
    EXPECT_EQ(module->sample_loader, SupplySamples);
    ASSERT_EQ(loader_calls.size(), 3u);
    EXPECT_EQ(loader_calls[0].byte_count, 500u);
    EXPECT_EQ(loader_calls[0].bits, 16u);
    EXPECT_EQ(loader_calls[0].instrument, 0);
    EXPECT_EQ(loader_calls[0].sample, 0u);
    EXPECT_EQ(loader_calls[1].byte_count, 6u);
    EXPECT_EQ(loader_calls[1].bits, 8u);
    EXPECT_EQ(loader_calls[1].sample, 2u);
    EXPECT_EQ(loader_calls[2].byte_count, 3u);
    EXPECT_EQ(loader_calls[2].instrument, 1);
    EXPECT_EQ(loader_calls[2].sample, 0u);
    for (const LoaderCall& call : loader_calls) EXPECT_TRUE(call.buffer_was_zero);

    const Sample& w = *module->instruments[0].samples[0];
    for (int k = 0; k < 250; k++) {
        if (k == 110) continue;  // guard entry of the loop ending inside
        ASSERT_EQ(w.data[k], 100 * k - 300) << "not delta-decoded, frame " << k;
    }
    EXPECT_EQ(w.data[110], w.data[10]);
    const Sample& n = *module->instruments[0].samples[2];
    EXPECT_EQ(n.bits, 16);
    const int16_t widened[] = {256, 512, -256, 256, 512, -256};
    for (int k = 0; k < 6; k++) EXPECT_EQ(n.data[k], widened[k]) << k;
    // The file's own data was skipped: the next instrument is where it should be.
    const Instrument& i2 = module->instruments[1];
    EXPECT_EQ(i2.volume_point_count, 2);
    EXPECT_EQ(i2.volume_envelope[1].value, 20);
    EXPECT_EQ(i2.samples[0]->length, 3u);
    EXPECT_EQ(xm::ModuleFaults(module.get()), "");
}

TEST(Loader, FreeModule) {
    EXPECT_FALSE(FreeModule(nullptr));
    Module* module = xm::Load(xm::SimpleSong());
    ASSERT_NE(module, nullptr);
    EXPECT_TRUE(FreeModule(module));  // the sanitizer build checks that everything is released
}

}  // namespace
