// The loader on files it must not trust: refusals (with their reasons), clamps,
// the memory budget, and files that end early at every possible byte.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "module/module.h"
#include "tests/support/xm_builder.h"

namespace {

struct ModuleRelease {
    void operator()(Module* module) const { FreeModule(module); }
};
using ModulePtr = std::unique_ptr<Module, ModuleRelease>;

constexpr uint32_t MIB = 1u << 20;

xm::SampleSpec DeclaredSample(uint32_t bytes, bool sixteen_bit = false) {
    xm::SampleSpec s;  // a header only: the file holds none of the data
    s.sixteen_bit = sixteen_bit;
    s.raw_sizes = true;
    s.raw_length = bytes;
    return s;
}

struct Refusal {
    const char* what;
    std::function<std::vector<uint8_t>()> file;
    const char* reason;
};

std::vector<uint8_t> Song(const std::function<void(xm::SongSpec&)>& change) {
    xm::SongSpec song = xm::SimpleSong(4, 8);
    change(song);
    return xm::Build(song);
}

TEST(Refusal, EachReasonAndNothingLeftOpen) {
    const Refusal cases[] = {
        {"empty file", [] { return std::vector<uint8_t>(); }, "not an XM module"},
        {"16 bytes of the identification",
         [] {
             std::vector<uint8_t> bytes = xm::Build(xm::SimpleSong());
             bytes.resize(16);
             return bytes;
         },
         "not an XM module"},
        {"17th byte differs",
         [] {
             std::vector<uint8_t> bytes = xm::Build(xm::SimpleSong());
             bytes[16] = '_';
             return bytes;
         },
         "not an XM module"},
        {"no channels", [] { return Song([](xm::SongSpec& s) { s.channels = 0; }); }, "no channels"},
        {"33 channels", [] { return Song([](xm::SongSpec& s) { s.channels = 33; }); },
         "too many channels (33, at most 32)"},
        {"65535 channels", [] { return Song([](xm::SongSpec& s) { s.channels = 65535; }); },
         "too many channels (65535, at most 32)"},
        {"song length 0", [] { return Song([](xm::SongSpec& s) { s.song_length = 0; }); },
         "empty song (song length 0)"},
        {"257 rows",
         [] {
             return Song([](xm::SongSpec& s) {
                 s.patterns.push_back(s.patterns[0]);
                 s.patterns[1].rows = 257;
             });
         },
         "pattern with too many rows (257, at most 256)"},
        {"40000 instruments", [] { return Song([](xm::SongSpec& s) { s.declared_instruments = 40000; }); },
         "too many instruments (40000, at most 32767)"},
        {"17 samples in the second instrument",
         [] {
             return Song([](xm::SongSpec& s) {
                 xm::InstrumentSpec crowded;
                 crowded.samples.assign(17, s.instruments[0].samples[0]);
                 s.instruments.push_back(crowded);
             });
         },
         "too many samples in an instrument (17, at most 16)"},
        {"65535 samples declared",
         [] { return Song([](xm::SongSpec& s) { s.instruments[0].declared_samples = 65535; }); },
         "too many samples in an instrument (65535, at most 16)"},
        {"8-bit sample of 2^31 frames",
         [] { return Song([](xm::SongSpec& s) { s.instruments[0].samples.push_back(DeclaredSample(0x80000000u)); }); },
         "sample too long (2147483648 frames, at most 2147483647)"},
        {"8-bit sample of 2^32 - 1 frames",
         [] { return Song([](xm::SongSpec& s) { s.instruments[0].samples.push_back(DeclaredSample(0xFFFFFFFFu)); }); },
         "sample too long (4294967295 frames, at most 2147483647)"},
        {"16-bit sample of 2^31 - 1 frames is too large",
         [] {
             return Song([](xm::SongSpec& s) { s.instruments[0].samples.push_back(DeclaredSample(0xFFFFFFFFu, true)); });
         },
         "module too large (patterns and samples need more than 256 MiB)"},
        {"two samples of 200 MiB together",
         [] {
             return Song([](xm::SongSpec& s) {
                 xm::InstrumentSpec big;
                 big.samples = {DeclaredSample(100 * MIB), DeclaredSample(100 * MIB, true)};
                 s.instruments.push_back(big);
             });
         },
         "module too large (patterns and samples need more than 256 MiB)"},
        {"65535 patterns of 32 channels in a short file",
         [] {
             return Song([](xm::SongSpec& s) {
                 s.channels = 32;
                 s.declared_patterns = 65535;  // the file ends after the first
                 s.instruments.clear();
             });
         },
         "module too large (patterns and samples need more than 256 MiB)"},
    };
    for (const Refusal& c : cases) {
        SetLoadError("stale");
        ModulePtr module(xm::Load(c.file()));
        EXPECT_EQ(module, nullptr) << c.what;
        EXPECT_STREQ(GetLoadError(), c.reason) << c.what;
        EXPECT_EQ(xm::OpenMemoryStreams(), 0) << c.what << ": the file must be closed";
    }
}

TEST(Refusal, LimitsThemselvesAreAccepted) {
    const std::function<void(xm::SongSpec&)> cases[] = {
        [](xm::SongSpec& s) { s.channels = 32; },
        [](xm::SongSpec& s) { s.patterns[0].rows = 256; },
        [](xm::SongSpec& s) { s.instruments[0].samples.assign(16, s.instruments[0].samples[0]); },
        [](xm::SongSpec& s) {
            s.declared_instruments = 300;  // instruments the file lacks read as empty
        },
    };
    int index = 0;
    for (const auto& change : cases) {
        ModulePtr module(xm::Load(Song(change)));
        ASSERT_NE(module, nullptr) << "case " << index << ": " << GetLoadError();
        EXPECT_STREQ(GetLoadError(), "");
        EXPECT_EQ(xm::ModuleFaults(module.get()), "") << "case " << index;
        index++;
    }
}

TEST(Refusal, MemoryBudgetBoundary) {
    // One channel, one row: the patterns take one record and one cell of the
    // 256 MiB, the instrument its record and each sample its record; a sample's
    // data takes its frames plus nine entries of two bytes. A second sample of
    // 2^31 frames is refused on its header, before any data is decoded: which
    // reason comes shows whether the first one fit.
    const uint64_t budget =
        256ull * MIB - sizeof(Pattern) - sizeof(PatternCell) - sizeof(Instrument) - 2 * sizeof(Sample);
    const uint32_t fitting_frames = uint32_t(budget / 2 - 9);
    for (uint32_t frames : {fitting_frames, fitting_frames + 1}) {
        xm::SongSpec song = xm::SimpleSong(1, 1);
        song.instruments[0].samples = {DeclaredSample(frames), DeclaredSample(0x80000000u)};
        ModulePtr module(xm::Load(song));
        EXPECT_EQ(module, nullptr);
        EXPECT_STREQ(GetLoadError(), frames == fitting_frames
                                         ? "sample too long (2147483648 frames, at most 2147483647)"
                                         : "module too large (patterns and samples need more than 256 MiB)")
            << frames << " frames";
    }
}

TEST(Clamp, HeaderValues) {
    struct Case {
        const char* what;
        int song_length;
        uint16_t restart;
        uint16_t bpm;
        int16_t expected_length, expected_restart, expected_bpm;
    } cases[] = {
        {"well-formed", 3, 2, 140, 3, 2, 140},
        {"song length 300 becomes 256", 300, 255, 125, 256, 255, 125},
        {"song length 65535 becomes 256", 65535, 0, 125, 256, 0, 125},
        {"restart at the song length", 3, 3, 125, 3, 0, 125},
        {"restart far beyond", 3, 0xFFFF, 125, 3, 0, 125},
        {"bpm 0", 3, 0, 0, 3, 0, 125},
        {"bpm 1 is kept", 3, 0, 1, 3, 0, 1},
        {"bpm 0x8000 reads as negative", 3, 0, 0x8000, 3, 0, 125},
        {"bpm 999 is kept", 3, 0, 999, 3, 0, 999},
    };
    for (const Case& c : cases) {
        xm::SongSpec song = xm::SimpleSong(2, 4);
        song.orders.assign(256, 0);
        song.orders[2] = 1;
        song.orders[255] = 2;  // only in the song when it has 256 orders
        song.patterns.resize(3, song.patterns[0]);
        song.song_length = c.song_length;
        song.restart_position = c.restart;
        song.bpm = c.bpm;
        ModulePtr module(xm::Load(song));
        ASSERT_NE(module, nullptr) << c.what << ": " << GetLoadError();
        EXPECT_EQ(module->song_length, c.expected_length) << c.what;
        EXPECT_EQ(module->restart_position, c.expected_restart) << c.what;
        EXPECT_EQ(module->default_bpm, c.expected_bpm) << c.what;
        EXPECT_EQ(module->used_pattern_count, c.expected_length == 256 ? 3 : 2) << c.what;
        EXPECT_EQ(xm::ModuleFaults(module.get()), "") << c.what;
    }
}

// A song with a bit of everything, to be cut short.
xm::SongSpec RichSong() {
    xm::SongSpec song = xm::SimpleSong(3, 4);
    song.orders = {0, 1, 2};
    song.patterns.resize(2, song.patterns[0]);
    song.patterns[0].At(0, 0, 3) = {49, 1, 0x40, 0x0A, 0x20};
    song.patterns[0].At(3, 2, 3) = {97, 2, 0, 0x0F, 3};
    song.patterns[1].packing = xm::Packing::Unpacked;
    song.patterns[1].At(1, 1, 3) = {60, 2, 0x10, 1, 2};
    xm::InstrumentSpec second;
    second.volume_envelope.points = {{0, 64}, {8, 32}, {16, 0}};
    second.volume_envelope.type = ENVELOPE_ON | ENVELOPE_SUSTAIN;
    second.volume_envelope.sustain = 1;
    second.fadeout = 300;
    xm::SampleSpec wide;
    for (int k = 0; k < 40; k++) wide.pcm.push_back(int16_t(k * 700 - 14000));
    wide.sixteen_bit = true;
    wide.loop_type = xm::PINGPONG_LOOP;
    wide.loop_start = 4;
    wide.loop_length = 30;
    xm::SampleSpec narrow;
    for (int k = 0; k < 30; k++) narrow.pcm.push_back(int16_t(k * 5 - 70));
    narrow.loop_type = xm::FORWARD_LOOP;
    narrow.loop_start = 10;
    narrow.loop_length = 20;
    second.samples = {wide, narrow};
    song.instruments.push_back(second);
    return song;
}

TEST(Truncation, EveryCutPointLoadsSafelyOrIsRefusedAtTheHeader) {
    const std::vector<uint8_t> full = xm::Build(RichSong());
    ModulePtr whole(xm::Load(full));
    ASSERT_NE(whole, nullptr) << GetLoadError();
    const std::set<std::string> header_reasons = {"not an XM module", "no channels", "empty song (song length 0)"};
    for (size_t cut = 0; cut < full.size(); cut++) {
        std::vector<uint8_t> bytes(full.begin(), full.begin() + long(cut));
        ModulePtr module(xm::Load(bytes));
        EXPECT_EQ(xm::OpenMemoryStreams(), 0) << "cut at " << cut;
        if (!module) {
            // Only the header can be refused: missing bytes read as zeros, and
            // zeros refuse nothing later on.
            EXPECT_LT(cut, 70u) << GetLoadError();
            EXPECT_EQ(header_reasons.count(GetLoadError()), 1u) << "cut at " << cut << ": " << GetLoadError();
            continue;
        }
        ASSERT_EQ(xm::ModuleFaults(module.get()), "") << "cut at " << cut;
        if (cut < 83) continue;  // the counts or the orders are incomplete
        EXPECT_EQ(module->channel_count, 3);
        EXPECT_EQ(module->instrument_count, 2);
        EXPECT_EQ(module->pattern_count, 3) << "cut at " << cut;
    }
}

TEST(Truncation, SampleKeepsItsLengthAndReadsZeroDeltas) {
    xm::SongSpec song = xm::SimpleSong(1, 1);
    xm::SampleSpec s;
    for (int k = 0; k < 100; k++) s.pcm.push_back(int16_t(k));
    song.instruments[0].samples = {s};
    std::vector<uint8_t> bytes = xm::Build(song);
    bytes.resize(bytes.size() - 60);  // 40 of the 100 frames are present
    ModulePtr module(xm::Load(bytes));
    ASSERT_NE(module, nullptr) << GetLoadError();
    const Sample& sample = *module->instruments[0].samples[0];
    EXPECT_EQ(sample.length, 100u);
    EXPECT_EQ(sample.data[39], 39 * 256);
    for (int k = 40; k < 100; k++) ASSERT_EQ(sample.data[k], 39 * 256) << "missing deltas read as 0, frame " << k;
    EXPECT_EQ(sample.data[100], 0);
}

TEST(Truncation, NothingSurvivesFromAnEarlierRead) {
    // The second instrument's header is cut after the low byte of its sample
    // count: the high byte reads as zero, not as whatever the read before left.
    xm::SongSpec song = xm::SimpleSong(1, 1);
    xm::InstrumentSpec second;
    second.samples = {song.instruments[0].samples[0]};
    second.declared_samples = 0x0101;
    song.instruments.push_back(second);
    std::vector<uint8_t> bytes = xm::Build(song);
    std::vector<uint8_t> first_only = xm::Build(xm::SimpleSong(1, 1));
    bytes.resize(first_only.size() + 28);  // S + 27 is the count's low byte
    ModulePtr module(xm::Load(bytes));
    ASSERT_NE(module, nullptr) << GetLoadError();
    EXPECT_EQ(module->instruments[1].sample_count, 1);
    const Sample& sample = *module->instruments[1].samples[0];
    EXPECT_EQ(sample.length, 0u);
    EXPECT_EQ(sample.data, nullptr);
    EXPECT_EQ(xm::ModuleFaults(module.get()), "");
}

}  // namespace
