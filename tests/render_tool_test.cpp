// vinto-render, run as a program: lengths, once-through rendering, WAV and raw
// output, position files, and every way it can fail without leaving output.
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/xm_builder.h"

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

// 64 rows with notes at speed 6 (882 frames a tick); then maybe a second order
// of 16 rows, which the song restarts at, and which may break to order 0.
xm::SongSpec Song(bool two_orders = false, int break_row = -1) {
    xm::SongSpec song = xm::SimpleSong(4, 64);
    for (int row = 0; row < 64; row += 8) song.patterns[0].At(row, row / 8 % 4, 4) = {49, 1};
    if (!two_orders) return song;
    song.patterns.resize(2);
    song.patterns[1].rows = 16;
    if (break_row >= 0) song.patterns[1].At(break_row, 3, 4) = {0, 0, 0, 0x0D, 0x00};
    song.orders = {0, 1};
    song.restart_position = 1;
    return song;
}

class Tool : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(dir_), Write("song.xm", xm::Build(Song())); }
    void TearDown() override { fs::remove_all(dir_.parent_path()); }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }
    void Write(const std::string& name, const std::vector<uint8_t>& bytes) {
        std::ofstream(Path(name), std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
    // Runs the tool and returns its standard error; out_size_ counts its standard output.
    std::string Run(const std::vector<std::string>& args, int expected_status = 0) {
        std::string command = VINTO_RENDER_TOOL;
        for (const std::string& a : args) command += " '" + a + "'";
        const fs::path err = dir_.parent_path() / "err";
        FILE* pipe = popen((command + " 2>'" + err.string() + "'").c_str(), "r");
        char buffer[65536];
        out_size_ = 0;
        for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out_size_ += n;
        const int status = pclose(pipe);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == expected_status) << command;
        return ReadFile(err);
    }
    const fs::path dir_ = fs::temp_directory_path() / ("vinto-render-test-" + std::to_string(getpid())) / "files";
    uint64_t out_size_ = 0;
};

TEST_F(Tool, LengthsInWholeBlocksOrOnceThrough) {
    xm::SongSpec often = xm::SimpleSong(2, 1);  // passes of 432 frames: two end in the first block
    often.speed = 1, often.bpm = 255;
    xm::SongSpec slow = xm::SimpleSong(1, 256);  // 620 s an order, three orders
    slow.orders = {0, 0, 0};
    slow.speed = 31, slow.bpm = 32;
    const struct { std::vector<std::string> options; xm::SongSpec song; uint32_t frames; } cases[] = {
        {{"--frames", "885"}, Song(), 1768},
        {{"--seconds", "0.02"}, Song(), 884},  // 882 frames
        // Just below and just above 884 / 44100 s: exact however many digits.
        {{"--seconds", "0.0200453514739229024943310657596371882086167800453"}, Song(), 884},
        {{"--seconds", "0.02004535147392290249433106575963718820861678004536"}, Song(), 1768},
        // Once through: up to where the song wraps back, the cut last block included.
        {{}, Song(), 64 * 6 * 882},
        {{}, Song(true), 80 * 6 * 882},     // back to the restart position
        {{}, Song(true, 7), 72 * 6 * 882},  // a pattern break to order 0 on the last order
        {{}, often, 432},                   // the first wrap ends it
        {{}, slow, 30 * 60 * 44100},        // never wraps: stopped at 30 minutes
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.frames) + " frames");
        Write("in.xm", xm::Build(c.song));
        std::vector<std::string> args = c.options;
        args.insert(args.end(), {"--sync", Path("s.csv"), Path("in.xm"), "-"});
        const std::string err = Run(args);
        EXPECT_EQ(out_size_, uint64_t(c.frames) * 4);
        EXPECT_NE(err.find(" " + std::to_string(c.frames) + " frames"), std::string::npos) << err;
        EXPECT_EQ(err.find("30 minutes") != std::string::npos, c.frames == 30 * 60 * 44100) << err;
        const std::string csv = ReadFile(Path("s.csv"));
        EXPECT_EQ(size_t(std::count(csv.begin(), csv.end(), '\n')), 1 + (c.frames + 883) / 884);
    }
}

TEST_F(Tool, WavFileAndSyncRowsCarryTheLibrarysFrames) {
    // The library's own frames and rows for 52000 frames: 59 blocks.
    std::string pcm, csv = "block,order,row,time_ms\n";
    Module* module = xm::Load(Song());
    ASSERT_TRUE(StartRendering(module));
    int16_t frames[884 * 2];
    for (int b = 0; b < 59; b++) {
        ASSERT_EQ(RenderNextBlock(frames, 884), 884);
        for (int16_t v : frames) pcm += {char(uint16_t(v)), char(uint16_t(v) >> 8)};
        csv += std::to_string(b) + "," + std::to_string(GetPlayOrder(module)) + "," +
               std::to_string(GetPlayRow(module)) + "," + std::to_string(GetPlayTime(module)) + "\n";
    }
    FreeModule(module);
    Run({"--mode", "exact", "--sync", Path("pos.csv"), "--frames", "52000", Path("song.xm"), Path("out.WAV")});
    const std::string wav = ReadFile(Path("out.WAV"));
    const uint32_t data = 59 * 884 * 4;
    ASSERT_EQ(wav.size(), 44u + data);
    EXPECT_EQ(wav.substr(0, 4) + wav.substr(8, 8) + wav.substr(36, 4), "RIFFWAVEfmt data");
    const uint32_t fields[][3] = {  // offset, size, value
        {4, 4, 36 + data}, {16, 4, 16}, {20, 2, 1}, {22, 2, 2},  // RIFF size, format size, PCM, channels
        {24, 4, 44100}, {28, 4, 176400}, {32, 2, 4}, {34, 2, 16}, {40, 4, data},  // rates, sizes, bits
    };
    for (const auto& f : fields) {
        uint32_t value = 0;
        for (uint32_t k = f[1]; k-- > 0;) value = value << 8 | uint8_t(wav[f[0] + k]);
        EXPECT_EQ(value, f[2]) << "offset " << f[0];
    }
    EXPECT_TRUE(wav.substr(44) == pcm);
    EXPECT_EQ(ReadFile(Path("pos.csv")), csv);
}

TEST_F(Tool, FailuresExplainAndLeaveNoOutput) {
    Write("wide.xm", xm::Build(xm::SimpleSong(33, 4)));
    Write("text.xm", std::vector<uint8_t>(400, 'x'));
    fs::create_directory(Path("taken"));
    const std::string song = Path("song.xm"), usage = "usage: vinto-render";
    const struct { std::vector<std::string> args; int status; std::vector<std::string> message; } cases[] = {
        {{Path("none.xm"), Path("o.wav")}, 1, {Path("none.xm"), "cannot open the file"}},
        {{Path("taken"), Path("o.wav")}, 1, {Path("taken") + ": is a directory"}},
        {{Path("text.xm"), Path("o.wav")}, 1, {Path("text.xm"), "not an XM module"}},
        {{Path("wide.xm"), Path("o.raw")}, 1, {Path("wide.xm"), "too many channels (33, at most 32)"}},
        {{song, Path("no/o.wav")}, 1, {Path("no/o.wav"), "cannot write"}},
        {{"--frames", "10", song, Path("taken")}, 1, {Path("taken"), "cannot write"}},
        {{"--sync", Path("no/s.csv"), song, Path("o.wav")}, 1, {Path("no/s.csv"), "cannot write"}},
        {{}, 2, {usage}},
        {{"--seconds", "1e3", song, Path("a.wav")}, 2, {usage}},
        {{"--mode", "loud", song, Path("a.wav")}, 2, {usage, "--mode needs exact or complete"}},
        {{"--frames", "99999999999", song, Path("a.wav")}, 2, {usage, "too long for a WAV file"}},
    };
    const auto files = [this] { return std::distance(fs::directory_iterator(dir_), fs::directory_iterator()); };
    const auto before = files();
    for (const auto& c : cases) {
        const std::string err = Run(c.args, c.status);
        for (const std::string& part : c.message) EXPECT_NE(err.find(part), std::string::npos) << err;
        EXPECT_TRUE(out_size_ == 0 && files() == before) << err;
    }
}

}  // namespace
