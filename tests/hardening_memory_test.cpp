// Hostile sizes: files of a few hundred bytes that declare as much as their
// fields allow. Whatever they declare, what the loader holds stays within its
// 256 MiB cap; beyond it the file is refused.
#include <gtest/gtest.h>
#include <malloc.h>

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

TEST(HostileSizes, ASampleTheFileLacksKeepsItsLengthWithinTheCap) {
    // 8-bit and 16-bit samples of nearly the whole cap with a few bytes of
    // data: the rest reads as zero deltas, so the last value carries on.
    for (bool sixteen_bit : {false, true}) {
        xm::SongSpec song = xm::SimpleSong(1, 1);
        xm::SampleSpec& s = song.instruments[0].samples[0];
        s.sixteen_bit = sixteen_bit;
        s.pcm = {10, 20, 30};
        s.loop_type = xm::NO_LOOP;
        s.raw_sizes = true;
        s.raw_length = (250u << 20) / (sixteen_bit ? 1 : 2);  // 125 Mi frames
        std::vector<uint8_t> bytes = xm::Build(song);
        ASSERT_LT(bytes.size(), 1024u);
        ModulePtr module;
        size_t held = HeldByModule(bytes, module);
        ASSERT_NE(module, nullptr) << GetLoadError();
        EXPECT_LE(held, CAP + MARGIN);
        const Sample& loaded = *module->instruments[0].samples[0];
        ASSERT_EQ(loaded.length, 125u << 20);
        int16_t last = int16_t(sixteen_bit ? 30 : 30 * 256);
        EXPECT_EQ(loaded.data[2], last);
        for (uint32_t k : {3u, 4u, 1000000u, loaded.length / 2, loaded.length - 1})
            EXPECT_EQ(loaded.data[k], last) << "frame " << k << (sixteen_bit ? " (16-bit)" : " (8-bit)");
        EXPECT_EQ(loaded.data[-1], 0);
    }
}

}  // namespace
