// Hostile and broken songs played end to end: the points the format leaves
// open, files cut anywhere, the fuzzers' seed songs, and the fuzzers' findings
// on memory (a kilobyte of file must not buy more than the loader's cap).
#include <gtest/gtest.h>
#include <malloc.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "fuzz/seed_songs.h"
#include "mixer/mixer.h"
#include "module/module.h"
#include "replay/replay.h"
#include "tests/support/xm_builder.h"

using namespace vinto;

namespace {

struct ModuleRelease {
    void operator()(Module* module) const { FreeModule(module); }
};
using ModulePtr = std::unique_ptr<Module, ModuleRelease>;
using Song = xm::SongSpec;

struct Report {
    std::string faults;      // the first broken promise; "" when none
    uint32_t positions = 0;  // distinct (order, row) pairs at block ends
    uint32_t time_ms = 0;    // song time after the last block
    bool sounds = false;     // some output value was not 0
};

bool In(int64_t value, int64_t low, int64_t high) { return value >= low && value <= high; }

// Renders `blocks` blocks offline and checks after each: a whole block came
// back; the tick has frames; song time runs forward, never ahead of the
// frames; order and row lie in the song; channel and voice values lie in their
// ranges, voices inside their samples and moving. Stops at the first fault.
Report Play(Module* module, int blocks) {
    Report r;
    if (!StartRendering(module)) return {"not started"};
    const int32_t frames = GetBlockFrames();
    std::vector<int16_t> out(size_t(frames) * 2);
    std::set<std::pair<int32_t, int32_t>> seen;
    const Module& m = *module;
    for (int b = 0; b < blocks && r.faults.empty(); b++) {
        auto need = [&](bool ok, const std::string& what) {
            if (!ok && r.faults.empty()) r.faults = "block " + std::to_string(b) + ": " + what;
        };
        need(RenderNextBlock(out.data(), frames) == frames, "short block");
        for (int16_t v : out) r.sounds = r.sounds || v != 0;
        const uint32_t time = GetPlayTime(module);
        need(time >= r.time_ms && time <= uint64_t(b + 1) * uint64_t(frames) * 1000 / 44100,
             "time " + std::to_string(time));
        r.time_ms = time;
        need(m.samples_per_tick >= 1 && In(m.tick_samples_left, 0, m.samples_per_tick), "tick length");
        need(In(m.order, 0, m.song_length - 1) && m.orders[m.order] < m.pattern_count,
             "order " + std::to_string(m.order));
        if (!r.faults.empty()) break;
        need(In(m.row, 0, m.patterns[m.orders[m.order]].row_count - 1), "row " + std::to_string(m.row));
        need(In(m.global_volume, 0, 64), "global volume");
        for (int i = 0; i < m.channel_count; i++) {
            const Channel& c = channels[i];
            need(In(c.volume, 0, 64) && In(c.volume_env.value, 0, 64) && In(c.pan_env.value, 0, 64) &&
                     In(c.fade_volume, 0, 65536) && c.note < KEYMAP_NOTES && c.transposed_note <= 119 &&
                     c.volume_env.point <= FILE_ENVELOPE_POINTS && c.pan_env.point <= FILE_ENVELOPE_POINTS,
                 "channel " + std::to_string(i));
        }
        for (int i = 0; i < MIXED_VOICE_COUNT; i++) {
            const Voice& v = VoicePool[i];
            if (!v.sample) continue;
            const uint64_t end = uint64_t(v.sample->loop_start) + v.sample->loop_length;
            // From the entry in front of the data (-1) to the loop end.
            need(end <= v.sample->length && (v.position == 0xFFFFFFFFu || v.position <= end) &&
                     In(v.volume, 0, 127) && In(v.left_gain, 0, 255) && In(v.right_gain, 0, 255) &&
                     In(v.pan, 0, 255) && (v.step_integer | v.step_fraction) != 0,
                 "voice " + std::to_string(i) + " at " + std::to_string(v.position));
        }
        seen.insert({m.order, m.row});
    }
    r.positions = uint32_t(seen.size());
    StopPlayback(module);
    return r;
}

void Put(Song& s, int row, int channel, xm::Cell cell, int pattern = 0) {
    s.patterns[size_t(pattern)].At(row, channel, s.channels) = cell;
}

// The points the format leaves open, each in a small song played through the
// checker, with what else can be said of it (silence, positions reached). The
// seed songs, played below, hold more: loops outside or far shorter than a
// step, linear portamento, tempo and speed 0 and 65535, counts beyond the file.
TEST(Hardening, PointsTheFormatLeavesOpenPlayInRange) {
    enum Sound { ANY, SILENT, SOUNDS };
    const struct {
        const char* what;
        void (*edit)(Song&);  // applied to SimpleSong(4, 16) with note 49 on row 0, channel 0
        Sound sound = ANY;
        uint32_t positions = 0;  // distinct (order, row) pairs; 0: not checked
        int blocks = 100;        // of 884 frames, 20 ms
    } cases[] = {
        // Order 0 (4 rows) breaks on row 1 to row 63 of order 1 (2 rows), which
        // breaks to "99": both missing, so only rows 0-1 of each are reached.
        {"pattern breaks to missing rows",
         [](Song& s) {
             s = xm::SimpleSong(2, 4);
             s.patterns.push_back(xm::PatternSpec{});
             s.patterns[1].rows = 2;
             s.orders = {0, 1};
             s.speed = 1;
             Put(s, 1, 0, {49, 1, 0, 13, 0x63});
             Put(s, 1, 1, {0, 0, 0, 13, 0x99}, 1);
         },
         SOUNDS, 4},
        // Keymap slots 1, 15 and 200 of a one-sample instrument; instrument 2 of 1.
        {"notes beyond the keymap or its samples",
         [](Song& s) {
             const uint8_t notes[] = {98, 200, 254}, slots[] = {1, 15, 200};
             for (int k = 0; k < 3; k++) {
                 s.instruments[0].keymap[48 + k] = slots[k];
                 Put(s, 2 * k, k, {notes[k], 1, 0, 0, 0});
                 Put(s, 2 * k + 1, k, {uint8_t(49 + k), 1, 0, 0, 0});
             }
             Put(s, 7, 3, {49, 2, 0, 27, 0x11});
         },
         SILENT},
        // Volume: 12 points of which 10 are (0, 0), the loop beyond them;
        // panning: values past 64, tick 65535, loop start after loop end.
        // Released on row 6 while sustained, and faded at once.
        {"broken envelopes, released",
         [](Song& s) {
             // Points, count, sustain, loop start and end, type.
             s.instruments[0].volume_envelope = {{{0, 0}, {8, 64}}, 200, 1, 30, 200, 1 | 2 | 4};
             s.instruments[0].pan_envelope = {{{0, 65535}, {2, 40000}, {65535, 0}}, 3, 0, 2, 1, 1 | 4};
             s.instruments[0].fadeout = 0xFFFF;
             Put(s, 0, 1, {52, 1, 0, 0, 0});
             Put(s, 6, 1, {97, 0, 0, 0, 0});
         }},
        // Speed 31 and parameter FF on every row: down on channel 0 (0 on odd
        // rows reuses FF), up on channel 1, far past any audible pitch.
        {"portamento without bound, Amiga frequencies",
         [](Song& s) {
             s.flags = 0;
             s.speed = 31;
             for (int r = 0; r < 16; r++) {
                 Put(s, r, 0, {uint8_t(r ? 0 : 60), 1, 0, 2, uint8_t(r % 2 ? 0 : 0xFF)});
                 Put(s, r, 1, {uint8_t(r ? 0 : 60), 1, 0, 1, 0xFF});
             }
         },
         SOUNDS},
        {"speed 32767, tempo 1 (2.5 s ticks)", [](Song& s) { s.speed = 0x7FFF; s.bpm = 1; }, SOUNDS},
        {"tempo 32767, 32 from row 3", [](Song& s) { s.bpm = 0x7FFF; Put(s, 3, 1, {0, 0, 0, 15, 32}); }, SOUNDS},
        // Orders: a pattern of 0 rows and one neither stored nor declared (64
        // empty rows each) around pattern 0; an instrument without samples, an
        // empty looping sample.
        {"empty patterns, instruments and samples",
         [](Song& s) {
             s.patterns.push_back(xm::PatternSpec{});
             s.patterns[1].rows = 0;
             s.orders = {1, 0, 5};
             s.speed = 1;
             s.instruments.resize(3);
             s.instruments[2].samples.resize(1);
             s.instruments[2].samples[0].loop_type = xm::FORWARD_LOOP;
             Put(s, 0, 0, {49, 2, 0, 0, 0});
             Put(s, 1, 1, {49, 3, 0, 27, 0x11});
             Put(s, 2, 2, {49, 3, 0, 3, 0x10});
         },
         SILENT, 144, 200},
        {"song length 65535 with 256 orders, restart position 300",
         [](Song& s) {
             s = xm::SimpleSong(1, 1);
             s.song_length = 0xFFFF;
             s.orders.assign(256, 0);
             s.restart_position = 300;
             s.speed = 1;
         },
         SILENT, 256, 300},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Song song = xm::SimpleSong(4, 16);
        Put(song, 0, 0, {49, 1, 0, 0, 0});
        c.edit(song);
        ModulePtr module(xm::Load(song));
        ASSERT_TRUE(module) << GetLoadError();
        const Report r = Play(module.get(), c.blocks);
        EXPECT_EQ(r.faults, "");
        EXPECT_GE(r.time_ms, 10u * c.blocks);  // each tick's slice drops under a millisecond
        EXPECT_TRUE(c.sound == ANY || r.sounds == (c.sound == SOUNDS)) << "sounds " << r.sounds;
        EXPECT_TRUE(!c.positions || r.positions == c.positions) << "positions " << r.positions;
    }
}

// Loads `bytes` cut at every multiple of `stride` and whole, and plays what
// loads: missing bytes read as zeros, which refuse nothing after the header.
void CutAndPlay(const std::vector<uint8_t>& bytes, size_t stride, int blocks) {
    std::vector<size_t> lengths;
    for (size_t length = 0; length < bytes.size(); length += stride) lengths.push_back(length);
    lengths.push_back(bytes.size());
    for (size_t length : lengths) {
        SCOPED_TRACE("cut at " + std::to_string(length));
        ModulePtr module(xm::Load(std::vector<uint8_t>(bytes.begin(), bytes.begin() + long(length))));
        if (!module) {
            EXPECT_LT(length, 70u) << GetLoadError();
            continue;
        }
        const Report r = Play(module.get(), blocks);
        ASSERT_EQ(r.faults, "");
        EXPECT_GE(r.time_ms, 10u * blocks);
    }
}

TEST(Hardening, SeedSongsPlayAndLoadCutAnywhere) {
    EXPECT_GE(seeds::SeedSongs().size(), 15u);
    for (const seeds::SeedSong& seed : seeds::SeedSongs()) {
        SCOPED_TRACE(seed.name);
        const std::vector<uint8_t> bytes = xm::Build(seed.song);
        ModulePtr module(xm::Load(bytes));
        ASSERT_TRUE(module) << GetLoadError();
        const Report r = Play(module.get(), 256);
        EXPECT_EQ(r.faults, "");
        EXPECT_GT(r.positions, 1u);  // the song moves on
        // Small songs at every byte; odd strides reach every place within cells and fields.
        CutAndPlay(bytes, bytes.size() / 256 | 1, 8);
    }
}

TEST(Hardening, CorpusSongsCutAnywherePlay) {
    const char* dir = getenv("VINTO_CORPUS");
    if (!dir || !*dir) GTEST_SKIP() << "VINTO_CORPUS not set";
    std::vector<std::pair<uintmax_t, std::filesystem::path>> songs;  // cut the three smallest
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        if (entry.path().extension() == ".xm") songs.push_back({entry.file_size(), entry.path()});
    std::sort(songs.begin(), songs.end());
    for (size_t i = 0; i < songs.size() && i < 3; i++) {
        std::ifstream file(songs[i].second, std::ios::binary);
        const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        CutAndPlay(bytes, bytes.size() / 150 | 1, 25);
    }
}

// ---- Hostile sizes: files of under a kilobyte that declare all they can ----

// From the AddressSanitizer runtime when it is linked in; its allocator
// bypasses mallinfo2.
extern "C" size_t __sanitizer_get_current_allocated_bytes(void) __attribute__((weak));

constexpr size_t CAP = size_t(256) << 20;
constexpr size_t MARGIN = size_t(16) << 10;  // the module record, the file handle and the like

size_t HeldBytes() {
    if (__sanitizer_get_current_allocated_bytes) return __sanitizer_get_current_allocated_bytes();
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

size_t ResidentBytes() {
    std::ifstream statm("/proc/self/statm");
    size_t pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * size_t(sysconf(_SC_PAGESIZE));
}

// Loads the song's bytes (under a kilobyte); `held` gets what the module holds.
ModulePtr LoadSmall(const Song& song, size_t& held) {
    const std::vector<uint8_t> bytes = xm::Build(song);
    EXPECT_LT(bytes.size(), 1024u);
    xm::InstallMemoryFile(bytes);
    const size_t before = HeldBytes();
    ModulePtr module(LoadModule("hostile.xm", nullptr));
    held = HeldBytes() - before;
    return module;
}

TEST(Hardening, DeclaredPatternsAndInstrumentsCountAgainstTheCap) {
    const struct {
        int patterns, instruments;  // 64 empty rows of 32 channels: 10240 bytes a pattern
        bool loads;
    } cases[] = {{26000, 0, true}, {26000, 32767, false}, {65535, 0, false}, {0, 32767, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.patterns) + " patterns, " + std::to_string(c.instruments) + " instruments");
        Song song;
        song.channels = 32;
        song.declared_patterns = c.patterns;
        song.declared_instruments = c.instruments;
        size_t held = 0;
        ModulePtr module = LoadSmall(song, held);
        EXPECT_EQ(module != nullptr, c.loads) << GetLoadError();
        EXPECT_LE(held, CAP + MARGIN);
        EXPECT_STREQ(GetLoadError(), c.loads ? "" : "module too large (patterns and samples need more than 256 MiB)");
    }
}

TEST(Hardening, KilobyteFilesDeclaringHugeSamplesLoadBoundedAndPlay) {
    // The fuzzer's slowest loads: tens of millions of frames declared. The
    // missing bytes read as zero deltas, so the last value carries on to the
    // end; when it is 0, the storage past the file is never touched.
    const struct {
        bool sixteen_bit;
        uint8_t loop_type;
        uint32_t declared_bytes;
        std::vector<int16_t> pcm;  // what the file holds
        int16_t tail;              // every frame past the file
    } cases[] = {
        {false, xm::NO_LOOP, 64u << 20, {5, -7, 0}, 0},
        {false, xm::FORWARD_LOOP, 125862016, {10, 20, 30}, 30 * 256},
        {true, xm::NO_LOOP, 250u << 20, {10, 20, 30}, 30},
        {true, xm::PINGPONG_LOOP, 250u << 20, {1000, 0}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.declared_bytes) + " bytes, loop type " + std::to_string(c.loop_type));
        Song song = xm::SimpleSong(1, 1);
        xm::SampleSpec& s = song.instruments[0].samples[0];
        s.sixteen_bit = c.sixteen_bit;
        s.pcm = c.pcm;
        s.loop_type = c.loop_type;
        s.raw_sizes = true;
        s.raw_length = s.raw_loop_length = c.declared_bytes;
        const size_t resident_before = ResidentBytes();
        size_t held = 0;
        ModulePtr module = LoadSmall(song, held);
        ASSERT_TRUE(module) << GetLoadError();
        EXPECT_LE(held, CAP + MARGIN);
        if (c.tail == 0) {
            EXPECT_LT(ResidentBytes() - resident_before, size_t(64) << 20);
        }
        const Sample& loaded = *module->instruments[0].samples[0];
        const uint32_t frames = c.declared_bytes / (c.sixteen_bit ? 2 : 1);
        ASSERT_EQ(loaded.length, frames);
        EXPECT_EQ(loaded.data[c.pcm.size() - 1], c.pcm.back() * (c.sixteen_bit ? 1 : 256));
        for (uint32_t k : {uint32_t(c.pcm.size()), 1000000u, frames / 2, frames - 1})
            EXPECT_EQ(loaded.data[k], c.tail) << "frame " << k;
        EXPECT_EQ(Play(module.get(), 10).faults, "");
    }
}

}  // namespace
