// The XM loader: cells, samples, loops and guard entries, the sample loader, refusals, clamps; the file access table.
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "module/file_io.h"
#include "module/module.h"
#include "module/resource_file.h"
#include "tests/support/xm_builder.h"

using namespace vinto;

namespace {

// Distinct values, so a copied entry shows where it came from; the first two are the extremes (their deltas wrap).
std::vector<int16_t> Ramp(int frames, bool sixteen_bit) {
    std::vector<int16_t> pcm;
    for (int k = 0; k < frames; k++) {
        int v = k == 0 ? -128 : k == 1 ? 127 : (k * 37) % 200 - 100;
        pcm.push_back(int16_t(sixteen_bit ? v * 256 + (v > 0 ? 255 : 0) : v));
    }
    return pcm;
}

TEST(Loader, CellsAndPatternsWithoutCellsOrMissing) {
    // Pattern 0: a row of cells as raw bytes. No cell data: R empty rows; 0 rows (with or without cell data), or
    // named but missing (6..8): 64 empty rows.
    const struct { std::vector<uint8_t> bytes; PatternCell cell; } cases[] = {
        {{0x31, 0x02, 0x40, 0x0A, 0x20}, {49, 2, 0x40, 0x0A, 0x20}},      // unpacked
        {{0x61, 0x81, 0, 0, 0}, {KEY_OFF_NOTE, 0, 0, 0, 0}},              // key off; instrument above 128
        {{0x9F, 96, 0xC8, 0xFF, 0x21, 0x07}, {96, 0, 0xFF, 0x21, 0x07}},  // packed, every field
        {{0xE1, 0x30}, {0x30, 0, 0, 0, 0}},                                // bits 5 and 6 set, only a note
        {{0x80}, {0, 0, 0, 0, 0}},
        {{0x9A, 0x80, 0x0A, 0xFF}, {0, 128, 0, 0x0A, 0xFF}},
    };
    xm::SongSpec song = xm::SimpleSong(6, 1);
    for (const auto& c : cases) song.patterns[0].raw_cells.insert(song.patterns[0].raw_cells.end(), c.bytes.begin(), c.bytes.end());
    song.patterns.resize(6);
    song.orders = {0, 1, 2, 3, 4, 5, 8};
    const int rows[] = {1, 5, 0, 1, 0, 1}, expected_rows[] = {1, 5, 64, 1, 64, 1, 64, 64, 64};
    for (int i = 0; i < 6; i++) song.patterns[size_t(i)].rows = rows[i];
    song.patterns[1].packing = song.patterns[2].packing = xm::Packing::NoData;
    song.patterns[3].packing = xm::Packing::Unpacked;
    for (int i : {3, 5}) song.patterns[size_t(i)].At(0, 1, 6) = {uint8_t(7 + i)};
    song.instruments.insert(song.instruments.begin(), xm::InstrumentSpec());
    song.instruments[0].header_size = 29;  // no samples: exactly its header is read
    xm::ModulePtr module = xm::Loaded(song);
    ASSERT_TRUE(module) << GetLoadError();
    for (int k = 0; k < 6; k++) EXPECT_EQ(memcmp(&module->patterns[0].cells[k], &cases[k].cell, sizeof(PatternCell)), 0) << k;
    for (int i = 0; i < 9; i++) EXPECT_EQ(module->patterns[i].row_count, expected_rows[i]) << i;
    for (int i : {3, 5}) EXPECT_EQ(module->patterns[i].cells[1].note, 7 + i) << i;
    EXPECT_EQ(module->instruments[1].samples[0]->length, 32u);  // found where the cells ended
    EXPECT_EQ(xm::ModuleFaults(module.get()), "");
}

TEST(Loader, DeltasLoopsAndGuardEntries) {
    const uint32_t cases[][8] = {
        // 16-bit, loop bits of the type byte, frames, loop start and length in bytes; what the loader made of them
        {0, 0, 100, 30, 20, LOOP_NONE, 0, 100},         // no loop ignores the stored loop points
        {0, 1, 100, 10, 20, LOOP_FORWARD, 10, 20},      {0, 3, 100, 10, 20, LOOP_BIDI, 10, 20},  // type 3 is ping-pong
        {1, 2, 60, 40, 80, LOOP_BIDI, 20, 40},          // 16-bit, to the end
        {0, 1, 100, 40, 0, LOOP_NONE, 0, 100},          // a loop of length 0 is none
        {0, 1, 100, 100, 5, LOOP_NONE, 0, 100},         // a loop starting at the end too
        {0, 1, 100, 80, 50, LOOP_FORWARD, 80, 20},      // a loop past the end is shortened
        {0, 2, 100, 10, 0xFFFFFFFF, LOOP_BIDI, 10, 90},
        {1, 1, 60, 21, 41, LOOP_FORWARD, 10, 20},       // 16-bit: bytes halved
        {1, 1, 60, 20, 1, LOOP_NONE, 0, 60},            // 16-bit loop of one byte
    };
    for (const auto& c : cases) {
        xm::SampleSpec s;
        s.pcm = Ramp(int(c[2]), c[0]), s.sixteen_bit = c[0], s.loop_type = uint8_t(c[1]);
        s.raw_sizes = true, s.raw_length = c[2] * (c[0] + 1), s.raw_loop_start = c[3], s.raw_loop_length = c[4];
        xm::SongSpec song = xm::SimpleSong(1, 1);
        song.instruments[0].samples = {s};
        xm::ModulePtr module = xm::Loaded(song);
        ASSERT_TRUE(module) << GetLoadError();
        const Sample& sample = *module->instruments[0].samples[0];
        EXPECT_EQ((std::vector<uint32_t>{sample.length, sample.loop_mode, sample.loop_start, sample.loop_length}),
                  (std::vector<uint32_t>{c[2], c[5], c[6], c[7]})) << c[1] << " " << c[3] << " " << c[4];
        for (uint32_t k = 0; k < c[2]; k++)  // a loop ending inside holds its guard entry at its end
            ASSERT_EQ(sample.data[k], k == c[6] + c[7] ? sample.data[k] : s.pcm[k] * (c[0] ? 1 : 256)) << k;
        EXPECT_EQ(xm::ModuleFaults(module.get()), "");  // guard entries and the zeros around the data
    }
}

std::vector<std::string> loader_calls;  // "bytes bits instrument sample", "zeroed" when all of the buffer was

void SupplySamples(uint8_t* buffer, uint32_t byte_count, uint32_t bits, int32_t instrument, uint32_t sample) {
    bool zero = true;
    for (uint32_t k = 0; k < (bits == 16 ? byte_count : 2 * byte_count) + 16; k++) zero = zero && buffer[k] == 0;
    loader_calls.push_back(std::to_string(byte_count) + " " + std::to_string(bits) + " " + std::to_string(instrument) +
                           " " + std::to_string(sample) + (zero ? " zeroed" : ""));
    for (uint32_t k = 0; k < byte_count; k++) buffer[k] = uint8_t(k + 1);  // plain PCM, not delta-coded
}

TEST(Loader, SampleLoaderSuppliesPlainPcmAndTheFileIsSkipped) {
    xm::SongSpec song = xm::SimpleSong(1, 1);
    xm::SampleSpec wide, narrow;
    wide.pcm = Ramp(250, true), wide.sixteen_bit = true, wide.loop_type = xm::FORWARD_LOOP;
    wide.loop_start = 10, wide.loop_length = 100;
    narrow.pcm = std::vector<int16_t>(6, 5);
    song.instruments[0].samples = {wide, xm::SampleSpec(), narrow};  // length 0: no call
    song.instruments.resize(2);
    song.instruments[1].samples = {narrow};  // found only when the file's data was skipped
    xm::ModulePtr module = xm::Loaded(song, VINTO_MODE_EXACT, SupplySamples);
    ASSERT_TRUE(module) << GetLoadError();
    EXPECT_EQ(loader_calls, (std::vector<std::string>{"500 16 0 0 zeroed", "6 8 0 2 zeroed", "6 8 1 0 zeroed"}));
    const Sample& w = *module->instruments[0].samples[0];
    for (int k = 0; k < 250; k++)  // little-endian 0x0201, 0x0403, ...; 110 is the guard entry
        EXPECT_EQ(w.data[k], k == 110 ? w.data[10] : int16_t(uint8_t(2 * k + 2) << 8 | uint8_t(2 * k + 1))) << k;
    for (int k = 0; k < 6; k++) EXPECT_EQ(module->instruments[0].samples[2]->data[k], (k + 1) * 256) << k;
    EXPECT_EQ(xm::ModuleFaults(module.get()), "");
}

const char* const TOO_LARGE = "module too large (patterns and samples need more than 256 MiB)";
// What the song below leaves of the 256 MiB for a first sample's frames (and its nine extra entries): two patterns of
// 8 x 4 cells, one instrument and two sample records.
constexpr uint32_t FITTING_FRAMES = uint32_t(
    ((256ull << 20) - 2 * sizeof(Pattern) - 64 * sizeof(PatternCell) - sizeof(Instrument) - 2 * sizeof(Sample)) / 2 - 9);

xm::SampleSpec DeclaredSample(uint32_t bytes, bool sixteen_bit = false) {
    xm::SampleSpec s;  // a header only: the file holds none of the data
    s.sixteen_bit = sixteen_bit, s.raw_sizes = true, s.raw_length = bytes;
    return s;
}

// Both envelopes of the first instrument: 12 points, then the given count, sustain and loop points, and type bits.
void Envelopes(xm::SongSpec& song, uint8_t count, uint8_t sustain, uint8_t loop_start, uint8_t loop_end, uint8_t type) {
    xm::EnvelopeSpec& e = song.instruments[0].volume_envelope;
    for (int k = 0; k < 12; k++) e.points.push_back({uint16_t(k * 4), k == 1 ? 65 : 32});  // 65 becomes 64
    e.point_count = count, e.sustain = sustain, e.loop_start = loop_start, e.loop_end = loop_end, e.type = type;
    song.instruments[0].pan_envelope = e;
}

// What a load gave: the refusal's reason, or the loaded numbers that may be clamped.
std::string Outcome(const Module* m) {
    if (!m) return GetLoadError();
    const Instrument& i = m->instruments[0];
    char text[128];
    snprintf(text, sizeof text, "length %d, restart %d, bpm %d, used %d, envelopes %d/%d %d/%d", m->song_length,
             m->restart_position, m->default_bpm, m->used_pattern_count, i.volume_point_count, i.volume_envelope_type,
             i.pan_point_count, i.pan_envelope_type);
    return text;
}

TEST(Loader, RefusalsAndClamps) {
    using Song = xm::SongSpec;
    using Bytes = std::vector<uint8_t>;
    const std::string plain = "length 3, restart 0, bpm 125, used 1, envelopes ", usual = plain + "0/0 0/0";
    const struct { const char* what; void (*song)(Song&); void (*bytes)(Bytes&); std::string outcome; } cases[] = {
        {"empty file", nullptr, [](Bytes& b) { b.clear(); }, "not an XM module"},
        {"17th byte differs", nullptr, [](Bytes& b) { b[16] = '_'; }, "not an XM module"},
        {"no channels", [](Song& s) { s.channels = 0; }, nullptr, "no channels"},
        {"33 channels", [](Song& s) { s.channels = 33; }, nullptr, "too many channels (33, at most 32)"},
        {"song length 0", [](Song& s) { s.song_length = 0; }, nullptr, "empty song (song length 0)"},
        {"257 rows", [](Song& s) { s.patterns[1].rows = 257; }, nullptr, "pattern with too many rows (257, at most 256)"},
        {"40000 instruments", [](Song& s) { s.declared_instruments = 40000; }, nullptr,
         "too many instruments (40000, at most 32767)"},
        {"17 samples", [](Song& s) { s.instruments[0].samples.resize(17, s.instruments[0].samples[0]); }, nullptr,
         "too many samples in an instrument (17, at most 16)"},
        {"16-bit sample of 2^31 - 1 frames",
         [](Song& s) { s.instruments[0].samples.push_back(DeclaredSample(0xFFFFFFFFu, true)); }, nullptr, TOO_LARGE},
        // Patterns and instruments missing from a short file: 64 empty rows each, 10240 bytes at 32 channels.
        {"65535 patterns of 32 channels", [](Song& s) { s.channels = 32, s.declared_patterns = 65535, s.instruments.clear(); },
         nullptr, TOO_LARGE},
        {"26000 patterns and 32767 instruments",
         [](Song& s) { s.channels = 32, s.declared_patterns = 26000, s.instruments.clear(), s.declared_instruments = 32767; },
         nullptr, TOO_LARGE},
        {"26000 patterns of 32 channels",
         [](Song& s) { s.channels = 32, s.declared_patterns = 26000, s.instruments.clear(), s.declared_instruments = 1; }, nullptr, usual},
        {"32767 instruments", [](Song& s) { s.declared_instruments = 32767; }, nullptr, usual},
        // The second sample is refused on its header: the reason shows whether the first fit.
        {"a first sample that just fits",
         [](Song& s) { s.instruments[0].samples = {DeclaredSample(FITTING_FRAMES), DeclaredSample(0x80000000u)}; },
         nullptr, "sample too long (2147483648 frames, at most 2147483647)"},
        {"a frame more",
         [](Song& s) { s.instruments[0].samples = {DeclaredSample(FITTING_FRAMES + 1), DeclaredSample(0x80000000u)}; },
         nullptr, TOO_LARGE},
        // The limits themselves load; clamps.
        {"32 channels", [](Song& s) { s.channels = 32; }, nullptr, usual},
        {"256 rows", [](Song& s) { s.patterns[1].rows = 256; }, nullptr, usual},
        {"16 samples", [](Song& s) { s.instruments[0].samples.resize(16, s.instruments[0].samples[0]); }, nullptr, usual},
        {"song length 300, restart 255", [](Song& s) { s.song_length = 300, s.restart_position = 255; }, nullptr,
         "length 256, restart 255, bpm 125, used 2, envelopes 0/0 0/0"},
        {"restart at the song length", [](Song& s) { s.restart_position = 3; }, nullptr, usual},
        {"bpm 0", [](Song& s) { s.bpm = 0; }, nullptr, usual},
        {"bpm 1", [](Song& s) { s.bpm = 1; }, nullptr, "length 3, restart 0, bpm 1, used 1, envelopes 0/0 0/0"},
        {"bpm 0x8000 reads as negative", [](Song& s) { s.bpm = 0x8000; }, nullptr, usual},
        {"envelopes valid", [](Song& s) { Envelopes(s, 4, 3, 0, 3, 7); }, nullptr, plain + "4/7 4/7"},
        {"14 points become 12", [](Song& s) { Envelopes(s, 14, 11, 2, 11, 7); }, nullptr, plain + "12/7 12/7"},
        {"sustain 12 of 12", [](Song& s) { Envelopes(s, 255, 12, 0, 11, 7); }, nullptr, plain + "12/5 12/5"},
        {"one point: off", [](Song& s) { Envelopes(s, 1, 0, 0, 0, 7); }, nullptr, plain + "1/0 1/0"},
        {"two points stay on", [](Song& s) { Envelopes(s, 2, 0, 0, 1, 7); }, nullptr, plain + "2/7 2/7"},
        {"loop end beyond", [](Song& s) { Envelopes(s, 4, 0, 0, 4, 7); }, nullptr, plain + "4/3 4/3"},
        {"loop start beyond", [](Song& s) { Envelopes(s, 4, 0, 9, 9, 5); }, nullptr, plain + "4/1 4/1"},
        {"loop start after loop end", [](Song& s) { Envelopes(s, 4, 0, 3, 2, 7); }, nullptr, plain + "4/3 4/3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Song song = xm::SimpleSong(4, 8);
        song.header_size = 400;  // 124 bytes the loader does not know
        song.orders.assign(256, 0), song.orders[255] = 1;  // in the song only when it has 256 orders
        song.song_length = 3;
        song.patterns.resize(2, song.patterns[0]);
        song.patterns[0].At(0, 1, 4) = {50, 1};
        if (c.song) c.song(song);
        Bytes bytes = xm::Build(song);
        if (c.bytes) c.bytes(bytes);
        SetLoadError("stale");
        xm::ModulePtr module(xm::Load(bytes), FreeModule);
        EXPECT_EQ(xm::OpenMemoryStreams(), 0) << "the file must be closed";
        EXPECT_EQ(Outcome(module.get()), c.outcome);
        if (!module) continue;
        EXPECT_STREQ(GetLoadError(), "");
        EXPECT_EQ(module->channel_count, song.channels);
        EXPECT_EQ(module->patterns[0].cells[1].note, 50);  // found behind the longer header
        EXPECT_EQ(xm::ModuleFaults(module.get()), "");
    }
}

std::string calls;  // what was opened and closed
void* RecordOpen(const char* name) { return calls += std::string("open ") + name + ";", nullptr; }
void RecordClose(void*) { calls += "close;"; }

TEST(FileIo, TableIsInstalledWholeOrNotAtAll) {
    SetFileIo(RecordOpen, RecordClose, ResourceFileRead, ResourceFileSeek, ResourceFileTell);
    EXPECT_EQ(LoadModule("missing.xm", nullptr), nullptr);
    EXPECT_STREQ(GetLoadError(), "cannot open the file");
    SetFileIo(RecordOpen, RecordClose, ResourceFileRead, ResourceFileSeek, nullptr);  // one missing: none installed
    EXPECT_EQ(LoadModule("0.xm", nullptr), nullptr);
    EXPECT_STREQ(GetLoadError(), "no file callbacks installed");
    EXPECT_EQ(calls, "open missing.xm;");
}

TEST(ResourceFile, SeeksAndReadsStayInsideTheBlock) {
    static uint8_t bytes[100], buffer[128];
    for (int k = 0; k < 100; k++) bytes[k] = uint8_t(k + 1);
    ResourceFile file = {100, 0, bytes}, empty = {0, 0, nullptr};  // empty: a resource that was not found
    const int32_t seeks[][4] = {  // from, offset, origin, position
        {40, -4, SEEK_FROM_END, 96}, {40, 500, SEEK_FROM_START, 100}, {40, -3, SEEK_FROM_CURRENT, 37}, {40, 5, 3, 40},
        {40, -101, SEEK_FROM_END, 0}, {99, INT32_MAX, SEEK_FROM_CURRENT, 100}, {0, INT32_MIN, SEEK_FROM_END, 0}};
    for (const auto& c : seeks) {
        file.position = c[0];
        ResourceFileSeek(&file, c[1], uint8_t(c[2]));
        EXPECT_EQ(ResourceFileTell(&file), c[3]) << c[0] << " " << c[1] << " " << c[2];
    }
    file.position = 10;  // nothing asked, nothing read; position + size does not fit 32 bits: what remains is copied
    EXPECT_EQ(ResourceFileRead(buffer, 0, &file) + file.position, 10u);
    EXPECT_EQ(ResourceFileRead(buffer, 0xFFFFFFFFu, &file), 90u);
    EXPECT_EQ(buffer[0] + buffer[89] + file.position + ResourceFileRead(buffer + 100, 4, &file) + buffer[100], 211u);
    ResourceFileSeek(&empty, 10, SEEK_FROM_START);
    EXPECT_EQ(ResourceFileRead(buffer, 4, &empty) + uint32_t(ResourceFileTell(&empty)), 0u);
}

}  // namespace
