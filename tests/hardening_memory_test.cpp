// Hostile sizes: files of a few hundred bytes that declare as much as their
// fields allow. Whatever they declare, what the loader holds stays within its
// 256 MiB cap; beyond it the file is refused.
#include <gtest/gtest.h>
#include <malloc.h>
#include <stdio.h>
#include <unistd.h>

#include <vector>

#include "module/module.h"
#include "tests/hardening_check.h"
#include "tests/support/xm_builder.h"

#if defined(__SANITIZE_ADDRESS__)
#define VINTO_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VINTO_ASAN 1
#endif
#endif
#ifdef VINTO_ASAN
// From the sanitizer runtime (GCC ships no header for it).
extern "C" size_t __sanitizer_get_current_allocated_bytes(void);
#endif

namespace {

using hardening::ModulePtr;

constexpr size_t CAP = size_t(256) << 20;
constexpr size_t MARGIN = size_t(16) << 10;  // the module record, the file handle and the like

// Bytes the allocator hands out at the moment.
size_t HeldBytes() {
#ifdef VINTO_ASAN
    return __sanitizer_get_current_allocated_bytes();
#else
    struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
#endif
}

// Loads `bytes`; returns the bytes the loaded module holds (0 when refused).
size_t HeldByModule(const std::vector<uint8_t>& bytes, ModulePtr& module) {
    xm::InstallMemoryFile(bytes);
    size_t before = HeldBytes();
    module.reset(LoadModule("hostile.xm", nullptr));
    size_t after = HeldBytes();
    return module && after > before ? after - before : 0;
}

xm::SongSpec HeaderOnly(int channels) {
    xm::SongSpec song;
    song.channels = channels;
    song.orders = {0};
    return song;
}

TEST(HostileSizes, DeclaredPatternsAndInstrumentsCountAgainstTheCap) {
    struct Case {
        const char* what;
        int patterns, instruments;
        bool loads;
    } cases[] = {
        // 64 empty rows of 32 channels each: 10240 bytes a pattern.
        {"26000 patterns", 26000, 0, true},
        {"26000 patterns and 32767 instruments", 26000, 32767, false},
        {"65535 patterns", 65535, 0, false},
        {"32767 instruments", 0, 32767, true},
    };
    for (const Case& c : cases) {
        xm::SongSpec song = HeaderOnly(32);
        song.declared_patterns = c.patterns;
        song.declared_instruments = c.instruments;
        std::vector<uint8_t> bytes = xm::Build(song);
        ASSERT_LT(bytes.size(), 1024u);
        ModulePtr module;
        size_t held = HeldByModule(bytes, module);
        EXPECT_EQ(module != nullptr, c.loads) << c.what << ": " << GetLoadError();
        EXPECT_LE(held, CAP + MARGIN) << c.what;
        if (!module) {
            EXPECT_STREQ(GetLoadError(), "module too large (patterns and samples need more than 256 MiB)") << c.what;
        }
    }
}

// Resident memory of this process now.
size_t ResidentBytes() {
    FILE* statm = fopen("/proc/self/statm", "r");
    if (!statm) return 0;
    unsigned long pages = 0, resident = 0;
    int fields = fscanf(statm, "%lu %lu", &pages, &resident);
    fclose(statm);
    return fields == 2 ? size_t(resident) * size_t(sysconf(_SC_PAGESIZE)) : 0;
}

TEST(HostileSizes, ASampleTheFileLacksKeepsItsLengthAndCostsOnlyWhatIsRead) {
    // Shapes the fuzzer found slow (0.5 to 0.9 s to load, optimised): a file of
    // about a kilobyte declaring tens of millions of frames. The missing bytes
    // read as zero deltas, so the last value carries on to the end; when that
    // value is 0, storage past the file is left as allocated, never touched.
    struct Case {
        const char* what;
        bool sixteen_bit;
        uint8_t loop_type;
        uint32_t declared_bytes;
        std::vector<int16_t> pcm;  // what the file holds
        int16_t tail;              // every frame past the file
    } cases[] = {
        {"8-bit, 64 Mi frames, ends on 0", false, xm::NO_LOOP, 67108864, {5, -7, 0}, 0},
        {"8-bit, 120 Mi frames, forward loop, ends on 30", false, xm::FORWARD_LOOP, 125862016, {10, 20, 30}, 30 * 256},
        {"16-bit, 125 Mi frames, ends on 30", true, xm::NO_LOOP, 250u << 20, {10, 20, 30}, 30},
        {"16-bit, 125 Mi frames, ends on 0", true, xm::PINGPONG_LOOP, 250u << 20, {1000, 0}, 0},
    };
    for (const Case& c : cases) {
        xm::SongSpec song = xm::SimpleSong(1, 1);
        xm::SampleSpec& s = song.instruments[0].samples[0];
        s.sixteen_bit = c.sixteen_bit;
        s.pcm = c.pcm;
        s.loop_type = c.loop_type;
        s.raw_sizes = true;
        s.raw_length = c.declared_bytes;
        s.raw_loop_start = 0;
        s.raw_loop_length = c.declared_bytes;
        std::vector<uint8_t> bytes = xm::Build(song);
        ASSERT_LT(bytes.size(), 1024u);
        size_t resident_before = ResidentBytes();
        ModulePtr module;
        size_t held = HeldByModule(bytes, module);
        ASSERT_NE(module, nullptr) << c.what << ": " << GetLoadError();
        size_t resident_growth = ResidentBytes() - resident_before;
        EXPECT_LE(held, CAP + MARGIN) << c.what;
        const Sample& loaded = *module->instruments[0].samples[0];
        uint32_t frames = c.declared_bytes / (c.sixteen_bit ? 2 : 1);
        ASSERT_EQ(loaded.length, frames) << c.what;
        int16_t last = int16_t(c.pcm.back() * (c.sixteen_bit ? 1 : 256));
        EXPECT_EQ(loaded.data[c.pcm.size() - 1], last) << c.what;
        for (uint32_t k : {uint32_t(c.pcm.size()), 1000000u, frames / 2, frames - 1})
            EXPECT_EQ(loaded.data[k], c.tail) << c.what << ", frame " << k;
        EXPECT_EQ(loaded.data[-1], 0) << c.what;
        if (c.tail == 0) {
            EXPECT_LT(resident_growth, size_t(64) << 20) << c.what;
        }
        // And it plays: the voices stay inside the sample.
        auto report = hardening::Play(module.get(), 10);
        EXPECT_EQ(report.faults, "") << c.what;
    }
}

}  // namespace
