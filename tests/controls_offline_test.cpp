// The controls against plain offline rendering: a seek equals the rendering
// from the start cut there; a muted channel equals the song without its
// cells; full volume changes no bit; passes end at the frames the song's
// timing gives; song information as the file has it.
#include <dirent.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#include <string>
#include <vector>

#include "tests/support/xm_builder.h"

namespace {

// Speed 3 at 125 BPM: 882 frames a tick, 2646 a row. Order 0 plays pattern 0
// (32 rows), order 1 pattern 1 (16 rows), the restart position is order 1: a
// first pass of 48 rows (127008 frames, 2880 ms), then passes of 16 rows
// (42336 frames). Channel 0 plays a looping square with a volume envelope
// (a ramp on every tick), channel 1 a ping-pong loop sliding its volume
// down every tick, channel 2 a sample without loop that ends.
constexpr int32_t BLOCK = 884, TICK = 882, ROW = 3 * TICK;
constexpr uint64_t FIRST_PASS = 48 * ROW, LATER_PASS = 16 * ROW;

xm::SongSpec ControlSong(bool without_channel_1 = false) {
    xm::SongSpec song = xm::SimpleSong(4, 32);
    song.speed = 3;
    song.patterns.resize(2);
    song.patterns[1].rows = 16;
    song.orders = {0, 1};
    song.restart_position = 1;
    song.instruments[0].volume_envelope.points = {{0, 64}, {8, 16}, {40, 48}};
    song.instruments[0].volume_envelope.type = 1;
    xm::InstrumentSpec other;
    xm::SampleSpec wave, shot;
    for (int i = 0; i < 50; i++) wave.pcm.push_back(int16_t(i * 5 - 120));
    wave.loop_type = xm::PINGPONG_LOOP, wave.loop_start = 10, wave.loop_length = 37;
    shot.pcm = std::vector<int16_t>(300, 90);
    other.samples = {wave, shot};
    for (int n = 48; n < 96; n++) other.keymap[n] = 1;  // high notes play the sample without loop
    song.instruments.push_back(other);
    for (int p = 0; p < 2; p++) {
        for (int row = 0; row < song.patterns[p].rows; row += 4) {
            song.patterns[p].At(row, 0, 4) = {uint8_t(37 + row), 1, 0, 0, 0};
            if (!without_channel_1) song.patterns[p].At(row + 1, 1, 4) = {uint8_t(30 + row), 2, 0, 0x0A, 0x01};
            song.patterns[p].At(row + 2, 2, 4) = {85, 2, 0, 0, 0};
        }
    }
    return song;
}

// Renders until at least frames frames or the end; the frames as returned.
std::vector<int16_t> Render(uint64_t frames) {
    std::vector<int16_t> out, block(2 * BLOCK);
    while (out.size() < 2 * frames) {
        const int32_t got = RenderNextBlock(block.data(), BLOCK);
        if (got == 0) break;
        out.insert(out.end(), block.begin(), block.begin() + 2 * got);
    }
    return out;
}

std::string ReadFile(const std::string& path) {
    std::string bytes;
    if (FILE* file = fopen(path.c_str(), "rb")) {
        for (int c; (c = fgetc(file)) != EOF;) bytes += char(c);
        fclose(file);
    }
    return bytes;
}

bool SameFrom(const std::vector<int16_t>& whole, uint64_t frame, const std::vector<int16_t>& part) {
    return whole.size() >= 2 * frame + part.size() && !part.empty() &&
           memcmp(whole.data() + 2 * frame, part.data(), part.size() * sizeof(int16_t)) == 0;
}

class Controls : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(module_ && StartRendering(module_)); }
    void TearDown() override { FreeModule(module_); }
    Module* module_ = xm::Load(ControlSong());
};

TEST_F(Controls, SeekEqualsTheRenderingFromTheStartCutThere) {
    const std::vector<int16_t> whole = Render(FIRST_PASS + 3 * LATER_PASS);
    const struct { const char* what; uint64_t frame; } cases[] = {
        {"the start", 0},
        {"a block start", 7 * BLOCK},
        {"40 frames into a tick's ramps", 5 * TICK + 40},
        {"inside the envelope's second segment", 12 * TICK + 300},
        {"order 1, the last frame of a block", 33 * ROW + (BLOCK - 1 - 33 * ROW % BLOCK)},
        {"just before the first pass ends", FIRST_PASS - 10},
        {"second pass, the sample without loop ended", FIRST_PASS + 2 * ROW + 500},
        {"third pass", FIRST_PASS + LATER_PASS + 7777},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(SeekToFrame(module_, c.frame));
        EXPECT_EQ(GetPlayPosition(module_), c.frame);
        EXPECT_TRUE(SameFrom(whole, c.frame, Render(6 * BLOCK)));
    }
    ASSERT_TRUE(SeekToTime(module_, 2000));  // 88200 frames
    EXPECT_TRUE(SameFrom(whole, 88200, Render(BLOCK)));
    // Orders and rows: the first time the song plays them (order 1 row 0 again in every later pass).
    const struct { int32_t order, row; bool found; uint64_t frame; } rows[] = {
        {0, 0, true, 0}, {1, 4, true, 36 * ROW}, {0, 31, true, 31 * ROW}, {1, 16, false, 0}, {2, 0, false, 0}, {-1, 0, false, 0}};
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << "order " << r.order << " row " << r.row);
        EXPECT_EQ(SeekToOrder(module_, r.order, r.row), r.found);
        if (r.found) {
            EXPECT_TRUE(SameFrom(whole, r.frame, Render(BLOCK)));
        }
    }
    EXPECT_FALSE(SeekToFrame(nullptr, 0));
}

// One corpus song in ten, a few frames each (skipped without $VINTO_CORPUS).
TEST(ControlsCorpus, SeekEqualsTheRenderingFromTheStart) {
    const char* dir = getenv("VINTO_CORPUS");
    if (!dir || !*dir) GTEST_SKIP() << "VINTO_CORPUS is not set";
    DIR* d = opendir(dir);
    ASSERT_NE(d, nullptr);
    std::mt19937 rng(16);
    int songs = 0;
    while (dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name.size() < 4 || name.compare(name.size() - 3, 3, ".xm") != 0 || rng() % 10 != 0) continue;
        const std::string bytes = ReadFile(std::string(dir) + "/" + name);
        Module* module = xm::Load(std::vector<uint8_t>(bytes.begin(), bytes.end()));
        ASSERT_TRUE(module && StartRendering(module)) << name;
        const std::vector<int16_t> whole = Render(40 * 44100);
        for (int k = 0; k < 4; k++) {
            const uint64_t frame = rng() % (38 * 44100);
            ASSERT_TRUE(SeekToFrame(module, frame));
            EXPECT_TRUE(SameFrom(whole, frame, Render(44100))) << name << " at " << frame;
        }
        FreeModule(module);
        songs++;
    }
    closedir(d);
    EXPECT_GT(songs, 0);
}

TEST_F(Controls, MutedChannelEqualsTheSongWithoutItsCellsAndUnmutesSeamlessly) {
    const std::vector<int16_t> whole = Render(40 * BLOCK);
    Module* without = xm::Load(ControlSong(true));
    ASSERT_TRUE(without && StartRendering(without));
    const std::vector<int16_t> expected = Render(20 * BLOCK);
    FreeModule(without);
    ASSERT_TRUE(StartRendering(module_));
    EXPECT_TRUE(SetChannelMuted(module_, 1, true) && IsChannelMuted(module_, 1) && !IsChannelMuted(module_, 0));
    EXPECT_EQ(Render(20 * BLOCK), expected);
    EXPECT_NE(expected, std::vector<int16_t>(whole.begin(), whole.begin() + expected.size()));  // it was heard
    EXPECT_TRUE(SetChannelMuted(module_, 1, false));  // its voices went on unheard
    EXPECT_TRUE(SameFrom(whole, 20 * BLOCK, Render(20 * BLOCK)));
    EXPECT_FALSE(SetChannelMuted(module_, 4, true));  // the song has channels 0..3
    EXPECT_FALSE(SetChannelMuted(module_, -1, true));
}

TEST_F(Controls, VolumeOneChangesNoBitZeroSilencesHalfHalves) {
    const std::vector<int16_t> whole = Render(30 * BLOCK);
    const struct { float volume; int tolerance; } cases[] = {{1.0f, 0}, {0.0f, 0}, {0.5f, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.volume);
        ASSERT_TRUE(SetMasterVolume(module_, 0.25f) && SetMasterVolume(module_, c.volume));
        EXPECT_EQ(GetMasterVolume(module_), c.volume);
        ASSERT_TRUE(StartRendering(module_));
        const std::vector<int16_t> scaled = Render(30 * BLOCK);
        ASSERT_EQ(scaled.size(), whole.size());
        for (size_t i = 0; i < whole.size(); i++) {
            // Half of the mix rounded lies within one of half the rounded mix.
            ASSERT_LE(abs(scaled[i] - int(whole[i] * c.volume)), c.tolerance) << i;
        }
    }
    EXPECT_FALSE(SetMasterVolume(module_, 1.5f));
    EXPECT_FALSE(SetMasterVolume(module_, -0.1f));
}

TEST_F(Controls, PassesEndAtTheSongsTimingAndTheDurationSaysWhere) {
    EXPECT_EQ(GetSongDurationFrames(module_), FIRST_PASS);
    EXPECT_EQ(GetSongDurationMs(module_), 2880u);
    const struct { int32_t passes; uint64_t frames; } cases[] = {{1, FIRST_PASS}, {2, FIRST_PASS + LATER_PASS}, {4, FIRST_PASS + 3 * LATER_PASS}};
    for (const auto& c : cases) {
        ASSERT_TRUE(SetPassCount(module_, c.passes) && StartRendering(module_));
        EXPECT_EQ(Render(1 << 20).size(), 2 * c.frames) << c.passes;
        int16_t block[2 * BLOCK];
        EXPECT_EQ(RenderNextBlock(block, BLOCK), 0);
        EXPECT_TRUE(HasSongEnded(module_));
        EXPECT_EQ(GetPlayPosition(module_), c.frames);
        EXPECT_EQ(GetSongLoops(module_), uint32_t(c.passes));
    }
    ASSERT_TRUE(SeekToFrame(module_, FIRST_PASS - 100));  // a seek inside the last pass plays it out
    EXPECT_FALSE(HasSongEnded(module_));
    EXPECT_EQ(Render(1 << 20).size(), 2 * (3 * LATER_PASS + 100));
    ASSERT_TRUE(SetPassCount(module_, 0) && StartRendering(module_));  // for ever again
    EXPECT_EQ(Render(4 * FIRST_PASS).size(), 2 * ((4 * FIRST_PASS + BLOCK - 1) / BLOCK) * BLOCK);
    EXPECT_FALSE(SetPassCount(module_, -1));
}

// What --info prints is checked below; here Amiga periods, the refusals and
// the cap of the duration.
TEST(SongInformation, AmigaRefusalsAndTheDurationsCap) {
    xm::SongSpec spec = ControlSong();
    spec.flags = 0;
    Module* module = xm::Load(spec);
    EXPECT_FALSE(UsesLinearFrequencies(module));
    EXPECT_TRUE(GetInstrumentName(module, 2) == nullptr && GetInstrumentName(module, -1) == nullptr);
    EXPECT_TRUE(*GetSongTitle(nullptr) == 0 && GetSongDurationFrames(nullptr) == 0 && !UsesLinearFrequencies(nullptr));
    FreeModule(module);
    // 256 rows at speed 31 and 32 BPM (3445 frames a tick): 27339520 frames an order.
    xm::SongSpec slow = xm::SimpleSong(1, 256);
    slow.speed = 31, slow.bpm = 32;
    for (const auto& c : {std::make_pair(2, uint64_t(54679040)), std::make_pair(3, uint64_t(0))}) {
        slow.orders.assign(c.first, 0);  // three orders exceed 30 minutes: no duration
        module = xm::Load(slow);
        EXPECT_EQ(GetSongDurationFrames(module), c.second);
        FreeModule(module);
    }
}

#ifdef VINTO_RENDER_TOOL
// vinto-render's controls, against the same song rendered plainly (its frames
// worked out above). Each case: arguments, exit status, frames written and
// where in the plain rendering they begin; for --info the lines printed.
TEST(ControlsTool, FlagsFollowTheLibrary) {
    char dir_name[] = "/tmp/vinto-controls-XXXXXX";
    ASSERT_NE(mkdtemp(dir_name), nullptr);
    const std::string dir = dir_name;
    const auto write = [&](const std::string& name, const xm::SongSpec& song) {
        const std::vector<uint8_t> bytes = xm::Build(song);
        FILE* file = fopen((dir + "/" + name).c_str(), "wb");
        fwrite(bytes.data(), 1, bytes.size(), file);
        fclose(file);
    };
    const auto run = [&](const std::string& song, const std::string& args, std::vector<int16_t>& frames) {
        const std::string output = args == "--info" ? "" : " " + dir + "/out.raw";
        const int status = system((std::string(VINTO_RENDER_TOOL) + " " + args + " " + dir + "/" + song + output +
                                   " >" + dir + "/info.txt 2>/dev/null").c_str());
        const std::string bytes = ReadFile(dir + "/out.raw");
        frames.assign(bytes.size() / 2, 0);
        memcpy(frames.data(), bytes.data(), bytes.size() & ~size_t(1));  // little-endian host
        remove((dir + "/out.raw").c_str());
        return WEXITSTATUS(status);
    };
    write("song.xm", ControlSong());
    write("without.xm", ControlSong(true));
    std::vector<int16_t> plain, without, got;
    ASSERT_EQ(run("song.xm", "", plain), 0);
    ASSERT_EQ(run("without.xm", "", without), 0);
    ASSERT_EQ(plain.size(), 2 * FIRST_PASS);
    const struct { const char* args; int status; uint64_t frames, from; const std::vector<int16_t>* source; } cases[] = {
        {"--loops 2", 0, FIRST_PASS + LATER_PASS, 0, nullptr},  // the first pass as plain, then more
        {"--start 1.5", 0, FIRST_PASS - 66150, 66150, &plain},
        {"--start 0:02", 0, FIRST_PASS - 88200, 88200, &plain},
        {"--start-order 1:4", 0, FIRST_PASS - 36 * ROW, 36 * ROW, &plain},
        {"--mute 2", 0, FIRST_PASS, 0, &without},
        {"--volume 1", 0, FIRST_PASS, 0, &plain},
        {"--loops 0", 2, 0, 0, nullptr}, {"--mute 0", 2, 0, 0, nullptr}, {"--mute 5", 1, 0, 0, nullptr},
        {"--volume 1.5", 2, 0, 0, nullptr}, {"--start x", 2, 0, 0, nullptr}, {"--start-order 5", 1, 0, 0, nullptr},
        {"--start 1 --start-order 0", 2, 0, 0, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        ASSERT_EQ(run("song.xm", c.args, got), c.status);
        EXPECT_EQ(got.size(), 2 * c.frames);
        if (c.frames) {
            EXPECT_TRUE(SameFrom(c.source ? *c.source : got, c.from, c.source ? got : plain));
        }
    }
    ASSERT_EQ(run("song.xm", "--info", got), 0);
    EXPECT_EQ(ReadFile(dir + "/info.txt"), "title        vinto test\nchannels     4\norders       2\npatterns     2\ninstruments  2\n"
                    "frequencies  linear\nduration     0:02.880 (127008 frames)\ninstrument   1  instrument\n"
                    "instrument   2  instrument\n");
    remove((dir + "/song.xm").c_str()), remove((dir + "/without.xm").c_str()), remove((dir + "/info.txt").c_str());
    rmdir(dir.c_str());
}
#endif

}  // namespace
