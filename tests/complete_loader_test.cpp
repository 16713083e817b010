// The complete-mode loader reads the layout a file declares (pattern and sample header sizes, the 0x0102 and 0x0103
// layouts: instruments first, 0x0102 with rows less one in a byte) into the module the standard file gives; and
// instruments with more than 16 samples.
#include <gtest/gtest.h>
#include <string.h>

#include <vector>

#include "module/module.h"
#include "tests/support/xm_builder.h"

using namespace vinto;

namespace {

using Bytes = std::vector<uint8_t>;

xm::ModulePtr Load(const Bytes& bytes, int32_t mode) { return {xm::Load(bytes, nullptr, mode), FreeModule}; }

// The first 150 blocks a file plays in complete mode (the song's patterns, notes and both instruments).
std::vector<int16_t> Played(const Bytes& bytes) {
    std::vector<int16_t> frames(150 * 884 * 2);
    xm::ModulePtr module = Load(bytes, VINTO_MODE_COMPLETE);
    if (!module || !StartRendering(module.get())) return {};
    for (int b = 0; b < 150; b++) RenderNextBlock(&frames[size_t(b) * 884 * 2], 884);
    return frames;
}

xm::SongSpec TwoPatternsTwoInstruments() {
    xm::SongSpec song = xm::SimpleSong(2, 16);
    song.patterns.push_back(song.patterns[0]);
    song.patterns[1].rows = 5;
    song.orders = {0, 1, 0};
    song.patterns[0].At(3, 1, 2) = {61, 2, 0x40, 0x0A, 0x12};
    song.patterns[1].At(4, 0, 2) = {97, 1, 0, 0x0F, 0x05};
    xm::InstrumentSpec second = song.instruments[0];
    second.samples[0].relative_note = -5;
    second.samples.push_back(second.samples[0]);
    second.samples[1].pcm.assign(77, -20), second.samples[1].sixteen_bit = true;
    second.keymap[60] = 1;
    second.volume_envelope = {{{0, 64}, {10, 0}}, 0xFF, 0, 0, 0, ENVELOPE_ON};
    second.fadeout = 300;
    song.instruments.push_back(second);
    return song;
}

TEST(CompleteLoader, ReadsTheLayoutTheFileDeclares) {
    xm::SongSpec song = TwoPatternsTwoInstruments();
    const std::vector<int16_t> reference = Played(xm::Build(song));
    ASSERT_NE(reference, std::vector<int16_t>(reference.size(), 0));
    const struct { uint16_t version; uint32_t pattern_header, sample_header; } layouts[] = {
        {0x0104, 13, 40}, // a longer pattern header
        {0x0104, 9, 48},  // longer sample headers (their extra bytes are not zero)
        {0x0103, 9, 40},  // instruments first
        {0x0102, 8, 40},  // instruments first, one byte of rows less one
        {0x0102, 11, 44},
    };
    for (const auto& layout : layouts) {
        SCOPED_TRACE(testing::Message() << std::hex << layout.version << std::dec << " " << layout.pattern_header << " "
                                        << layout.sample_header);
        song.version = layout.version, song.pattern_header = layout.pattern_header, song.sample_header = layout.sample_header;
        EXPECT_TRUE(Played(xm::Build(song)) == reference);
        EXPECT_EQ(xm::ModuleFaults(Load(xm::Build(song), VINTO_MODE_COMPLETE).get()), "");
    }
    // Exact mode keeps reading the fixed layout: the longer pattern header misreads, quietly.
    xm::ModulePtr plain = Load(xm::Build(TwoPatternsTwoInstruments()), VINTO_MODE_EXACT);
    song.version = 0x0104, song.pattern_header = 13, song.sample_header = 40;
    xm::ModulePtr exact = Load(xm::Build(song), VINTO_MODE_EXACT);
    ASSERT_TRUE(exact && plain);
    EXPECT_NE(memcmp(exact->patterns[0].cells, plain->patterns[0].cells, 16 * 2 * sizeof(PatternCell)), 0);
}

TEST(CompleteLoader, InstrumentsWithMoreThan16Samples) {
    // 17 samples (which exact mode refuses): complete mode keeps them all and the keymap reaches the 17th; of 40, the
    // first 32 are kept and the next instrument still reads right.
    for (int count : {17, 40}) {
        SCOPED_TRACE(count);
        xm::SongSpec song = TwoPatternsTwoInstruments();
        xm::InstrumentSpec& many = song.instruments[0];
        for (int j = 1; j < count; j++) {
            many.samples.push_back(many.samples[0]);
            many.samples.back().pcm.assign(size_t(10 + j), int16_t(j));
        }
        many.keymap[48] = 16;
        xm::ModulePtr module = xm::Loaded(song, VINTO_MODE_COMPLETE);
        ASSERT_TRUE(module) << GetLoadError();
        EXPECT_EQ(xm::ModuleFaults(module.get()), "");
        const Instrument& instrument = module->instruments[0];
        EXPECT_EQ(instrument.sample_count, count < INSTRUMENT_SAMPLE_SLOTS ? count : INSTRUMENT_SAMPLE_SLOTS);
        EXPECT_EQ(instrument.samples[instrument.keymap[48]]->length, 26u);  // sample 16: 10 + 16 frames
        EXPECT_EQ(instrument.samples[instrument.sample_count - 1]->data[0], (instrument.sample_count - 1) * 256);
        EXPECT_EQ(module->instruments[1].samples[1]->length, 77u);
        EXPECT_EQ(module->instruments[1].fadeout, 600);
    }
}

}  // namespace
