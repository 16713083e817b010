// Hostile and broken songs played end to end: the fuzzers' seed songs (each leaning on a point the format leaves
// open) whole and cut anywhere; a kilobyte of file buys no more than the loader's cap; a module gives back all it held.
#include <gtest/gtest.h>
#include <malloc.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "fuzz/seed_songs.h"
#include "mixer/mixer.h"
#include "module/module.h"
#include "replay/replay.h"

using namespace vinto;

namespace {

bool In(int64_t value, int64_t low, int64_t high) { return value >= low && value <= high; }

// Renders blocks offline, checking after each: a whole block; song time forward, never ahead of the frames; ticks with
// frames; order and row in the song; channel and voice values in range, voices inside their samples and moving.
// Gives the first fault ("" when none) and how many distinct (order, row) pairs the blocks ended on.
std::pair<std::string, size_t> Play(Module* module, int blocks) {
    if (!StartRendering(module)) return {"not started", 0};
    std::vector<int16_t> out(884 * 2);
    std::set<int32_t> seen;
    const Module& m = *module;
    uint32_t time = 0;
    std::string fault;
    for (int b = 0; b < blocks && fault.empty(); b++) {
        auto need = [&](bool ok, const std::string& what) {
            if (!ok && fault.empty()) fault = "block " + std::to_string(b) + ": " + what;
        };
        need(RenderNextBlock(out.data(), 884) == 884 && GetPlayTime(module) >= time &&
                 GetPlayTime(module) <= uint64_t(b + 1) * 884 * 1000 / 44100,
             "short block or time " + std::to_string(GetPlayTime(module)));
        time = GetPlayTime(module);
        if (fault.empty()) need(m.samples_per_tick >= 1 && In(m.tick_samples_left, 0, m.samples_per_tick), "tick length");
        if (fault.empty()) need(In(m.order, 0, m.song_length - 1) && m.orders[m.order] < m.pattern_count, "order");
        if (fault.empty()) need(In(m.row, 0, m.patterns[m.orders[m.order]].row_count - 1) && In(m.global_volume, 0, 64), "row");
        for (int i = 0; i < m.channel_count && fault.empty(); i++) {
            const Channel& c = channels[i];
            const Voice& twin = VoicePool[c.voice == &VoicePool[i] ? i + 32 : i];  // silent while the other plays
            need(In(c.volume, 0, 64) && In(c.volume_env.value, 0, 64) && In(c.pan_env.value, 0, 64) &&
                     In(c.fade_volume, 0, 65536) && c.note < KEYMAP_NOTES && c.transposed_note <= 119 &&
                     c.volume_env.point <= FILE_ENVELOPE_POINTS && c.pan_env.point <= FILE_ENVELOPE_POINTS &&
                     (c.voice == &VoicePool[i] || c.voice == &VoicePool[i + 32]) &&
                     twin.volume + twin.left_gain + twin.right_gain == 0,
                 "channel " + std::to_string(i));
        }
        for (int i = 0; i < MIXED_VOICE_COUNT && fault.empty(); i++) {
            const Voice& v = VoicePool[i];
            if (!v.sample) continue;
            const uint64_t end = uint64_t(v.sample->loop_start) + v.sample->loop_length;
            // From the entry in front of the data (-1) to the loop end.
            need(end <= v.sample->length && (v.position == 0xFFFFFFFFu || v.position <= end) && In(v.volume, 0, 127) &&
                     In(v.left_gain, 0, 255) && In(v.right_gain, 0, 255) && v.left_gain + v.right_gain <= v.volume &&
                     In(v.pan, 0, 255) && (v.step_integer | v.step_fraction) != 0,
                 "voice " + std::to_string(i) + " at " + std::to_string(v.position));
        }
        seen.insert(m.order << 8 | m.row);
    }
    StopPlayback(module);
    return {fault, seen.size()};
}

// Heap bytes held: from AddressSanitizer's runtime when linked in (its allocator bypasses mallinfo2), else from the C
// library, which also counts freed blocks in its caches unless GLIBC_TUNABLES turns them off (as CTest does here).
extern "C" size_t __sanitizer_get_current_allocated_bytes(void) __attribute__((weak));
size_t HeldBytes() {
    if (__sanitizer_get_current_allocated_bytes) return __sanitizer_get_current_allocated_bytes();
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}
const bool held_bytes_exact = __sanitizer_get_current_allocated_bytes ||
                              (getenv("GLIBC_TUNABLES") && strstr(getenv("GLIBC_TUNABLES"), "tcache_count=0"));

TEST(Hardening, SeedSongsPlayInRangeGiveBackAllTheyHeldAndLoadCutAnywhere) {
    EXPECT_GE(seeds::SeedSongs().size(), 20u);
    for (const seeds::SeedSong& seed : seeds::SeedSongs()) {
        SCOPED_TRACE(seed.name);
        const std::vector<uint8_t> bytes = xm::Build(seed.song);
        xm::InstallMemoryFile(bytes);
        const size_t before = HeldBytes();
        Module* module = LoadModule("seed.xm", nullptr);
        ASSERT_TRUE(module) << GetLoadError();
        const std::string faults = xm::ModuleFaults(module);
        const std::pair<std::string, size_t> played = Play(module, 256);
        EXPECT_TRUE(FreeModule(module));
        EXPECT_TRUE(!held_bytes_exact || HeldBytes() == before) << "not all given back";
        EXPECT_EQ(faults + played.first, "");
        EXPECT_GT(played.second, 1u);  // the song moves on
        // Cut at every multiple of an odd stride (reaching every place within cells and fields) and whole, and played
        // where it loads: missing bytes read as zeros, which refuse nothing after the header.
        const size_t stride = bytes.size() / 256 | 1;
        for (size_t length = 0; length < bytes.size() + stride && !HasFailure(); length += stride) {
            const size_t cut = std::min(length, bytes.size());
            SCOPED_TRACE("cut at " + std::to_string(cut));
            Module* piece = xm::Load(std::vector<uint8_t>(bytes.begin(), bytes.begin() + long(cut)));
            const std::string reason = GetLoadError(), warning = GetLoadWarning(), at = std::to_string(cut);
            EXPECT_EQ(xm::OpenMemoryStreams(), 0) << "the file must be closed";
            if (!piece) {
                EXPECT_TRUE(cut < 70 && (reason == "not an XM module" ||
                                         reason == "file is cut short at byte " + at + " (header incomplete)"))
                    << reason;
                continue;
            }  // the warning when the loader missed a byte it needed
            EXPECT_TRUE(warning.empty() || warning == "file ends at byte " + at + "; the rest plays as silence") << warning;
            EXPECT_EQ(xm::ModuleFaults(piece), "");
            EXPECT_EQ(Play(piece, 8).first, "");
            FreeModule(piece);
        }
    }
}

// ---- Hostile sizes: files of under a kilobyte that declare all they can ----

constexpr size_t CAP = (size_t(256) << 20) + (size_t(16) << 10);  // and the module record, file handle and the like

size_t ResidentBytes() {
    std::ifstream statm("/proc/self/statm");
    size_t pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * size_t(sysconf(_SC_PAGESIZE));
}

TEST(Hardening, KilobyteFilesDeclaringHugeSamplesLoadBoundedAndPlay) {
    // The fuzzer's slowest loads: tens of millions of frames declared. The missing bytes read as zero deltas, so the
    // last value carries on to the end; when it is 0, the storage past the file is never touched.
    const struct { bool sixteen_bit; uint8_t loop_type; uint32_t declared; std::vector<int16_t> pcm; int16_t tail; }
        cases[] = {  // pcm: what the file holds; tail: every frame past it
        {false, xm::NO_LOOP, 64u << 20, {5, -7, 0}, 0},
        {false, xm::FORWARD_LOOP, 125862016, {10, 20, 30}, 30 * 256},
        {true, xm::NO_LOOP, 250u << 20, {10, 20, 30}, 30},
        {true, xm::PINGPONG_LOOP, 250u << 20, {1000, 0}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.declared) + " bytes, loop type " + std::to_string(c.loop_type));
        xm::SongSpec song = xm::SimpleSong(1, 1);
        xm::SampleSpec& s = song.instruments[0].samples[0];
        s.sixteen_bit = c.sixteen_bit, s.pcm = c.pcm, s.loop_type = c.loop_type;
        s.raw_sizes = true, s.raw_length = s.raw_loop_length = c.declared;
        const std::vector<uint8_t> bytes = xm::Build(song);
        EXPECT_LT(bytes.size(), 1024u);
        xm::InstallMemoryFile(bytes);
        const size_t resident_before = ResidentBytes(), held_before = HeldBytes();
        Module* module = LoadModule("hostile.xm", nullptr);
        ASSERT_TRUE(module) << GetLoadError();
        EXPECT_LE(HeldBytes() - held_before, CAP);
        EXPECT_TRUE(c.tail != 0 || ResidentBytes() - resident_before < size_t(64) << 20);
        const Sample& loaded = *module->instruments[0].samples[0];
        const uint32_t frames = c.declared / (c.sixteen_bit ? 2 : 1);
        EXPECT_EQ(loaded.length, frames);
        EXPECT_EQ(loaded.data[c.pcm.size() - 1], c.pcm.back() * (c.sixteen_bit ? 1 : 256));
        for (uint32_t k : {uint32_t(c.pcm.size()), 1000000u, frames / 2, frames - 1}) EXPECT_EQ(loaded.data[k], c.tail) << k;
        EXPECT_EQ(Play(module, 10).first, "");
        FreeModule(module);
    }
}

}  // namespace
