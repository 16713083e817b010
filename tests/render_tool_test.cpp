// vinto-render, run as a program: lengths, WAV and raw output, position files,
// once-through rendering, and every way it can fail without leaving output.
#include <dirent.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/xm_builder.h"

#ifndef VINTO_RENDER_TOOL
#error "VINTO_RENDER_TOOL names the vinto-render program under test"
#endif

namespace {

struct Result {
    int status = -1;
    std::vector<uint8_t> out;  // standard output
    std::string err;           // standard error
};

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::vector<uint8_t> bytes;
    FILE* file = fopen(path.c_str(), "rb");
    if (!file) return bytes;
    uint8_t buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), file)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
    fclose(file);
    return bytes;
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* file = fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
}

std::set<std::string> List(const std::string& dir) {
    std::set<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (strcmp(e->d_name, ".") && strcmp(e->d_name, "..")) names.insert(e->d_name);
        closedir(d);
    }
    return names;
}

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
           uint32_t(b[at + 3]) << 24;
}
uint32_t Le16(const std::vector<uint8_t>& b, size_t at) { return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8; }

// The loader's reason for refusing a file, read the way the tool reads it.
void* Open(const char* name) { return fopen(name, "rb"); }
void Close(void* s) { fclose(static_cast<FILE*>(s)); }
uint32_t Read(uint8_t* b, uint32_t n, void* s) { return uint32_t(fread(b, 1, n, static_cast<FILE*>(s))); }
void Seek(void* s, int32_t o, uint8_t w) { fseek(static_cast<FILE*>(s), o, w == 1 ? SEEK_CUR : w == 2 ? SEEK_END : SEEK_SET); }
int32_t Tell(void* s) { return int32_t(ftell(static_cast<FILE*>(s))); }
std::string LoadError(const std::string& path) {
    SetFileIo(Open, Close, Read, Seek, Tell);
    Module* module = LoadModule(path.c_str(), nullptr);
    std::string reason = GetLoadError();
    if (module) FreeModule(module);
    return reason;
}

// The frames the library renders for a song, as little-endian bytes.
std::vector<uint8_t> Reference(const std::vector<uint8_t>& song, int blocks,
                               std::vector<std::string>* sync_rows = nullptr) {
    std::vector<uint8_t> bytes;
    Module* module = xm::Load(song);
    EXPECT_NE(module, nullptr);
    if (!module) return bytes;
    EXPECT_TRUE(StartRendering(module));
    std::vector<int16_t> frames(884 * 2);
    for (int b = 0; b < blocks; b++) {
        EXPECT_EQ(RenderNextBlock(frames.data(), 884), 884);
        for (int16_t v : frames) {
            bytes.push_back(uint8_t(uint16_t(v)));
            bytes.push_back(uint8_t(uint16_t(v) >> 8));
        }
        if (sync_rows)
            sync_rows->push_back(std::to_string(b) + "," + std::to_string(GetPlayOrder(module)) +
                                 "," + std::to_string(GetPlayRow(module)) + "," +
                                 std::to_string(GetPlayTime(module)));
    }
    FreeModule(module);
    return bytes;
}

xm::SongSpec SongWithNotes(int rows = 64) {
    xm::SongSpec song = xm::SimpleSong(4, rows);
    for (int row = 0; row < rows; row += 8) song.patterns[0].At(row, row / 8 % 4, 4) = {49, 1, 0, 0, 0};
    return song;
}

class ToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/vinto-render-test-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir_ = name;
        song_ = xm::Build(SongWithNotes());
        WriteFile(Path("song.xm"), song_);
    }
    void TearDown() override {
        for (const std::string& name : List(dir_)) {
            std::string path = Path(name);
            if (rmdir(path.c_str()) != 0) unlink(path.c_str());
        }
        rmdir(dir_.c_str());
    }
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }

    Result Run(const std::vector<std::string>& args) {
        std::string command = Quote(VINTO_RENDER_TOOL);
        for (const std::string& a : args) command += " " + Quote(a);
        std::string err_path = dir_ + ".stderr";
        command += " 2>" + Quote(err_path);
        Result result;
        FILE* pipe = popen(command.c_str(), "r");
        if (!pipe) return result;
        uint8_t buffer[65536];
        size_t n;
        while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0) {
            if (keep_stdout_) result.out.insert(result.out.end(), buffer, buffer + n);
            stdout_bytes_ += n;
        }
        int status = pclose(pipe);
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::vector<uint8_t> err = ReadFile(err_path);
        result.err.assign(err.begin(), err.end());
        unlink(err_path.c_str());
        return result;
    }

    std::string dir_;
    std::vector<uint8_t> song_;
    bool keep_stdout_ = true;
    uint64_t stdout_bytes_ = 0;
};

TEST_F(ToolTest, LengthsAreWholeBlocks) {
    const struct {
        const char* option;
        const char* value;
        uint32_t frames;
    } cases[] = {
        {"--frames", "1", 884},          {"--frames", "884", 884},
        {"--frames", "885", 1768},       {"--seconds", "0.02", 884},  // 882 frames
        {"--seconds", "0.0200227", 884},  // 883.001 frames
        {"--seconds", "0.020046", 1768},  // 884.03 frames
        {"--seconds", "0.1", 4420},      {"--seconds", "1", 44200},
        {"--seconds", "2.", 88400},      {"--seconds", ".5", 22100},
        // Just below and just above 884 / 44100 s: exact however many digits.
        {"--seconds", "0.0200453514739229024943310657596371882086167800453", 884},
        {"--seconds", "0.02004535147392290249433106575963718820861678004536", 1768},
    };
    std::vector<uint8_t> reference = Reference(song_, 100);
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.option) + " " + c.value);
        Result r = Run({c.option, c.value, Path("song.xm"), Path("out.pcm")});
        EXPECT_EQ(r.status, 0) << r.err;
        std::vector<uint8_t> pcm = ReadFile(Path("out.pcm"));
        ASSERT_EQ(pcm.size(), size_t(c.frames) * 4);
        EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), reference.begin()));
        EXPECT_NE(r.err.find(std::to_string(c.frames) + " frames"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("real time"), std::string::npos) << r.err;
    }
    EXPECT_EQ(List(dir_), (std::set<std::string>{"out.pcm", "song.xm"}));
}

TEST_F(ToolTest, WavFileAndStandardOutputCarryTheSameFrames) {
    Result wav_run = Run({"--frames", "2000", Path("song.xm"), Path("out.WAV")});
    ASSERT_EQ(wav_run.status, 0) << wav_run.err;
    std::vector<uint8_t> wav = ReadFile(Path("out.WAV"));
    const uint32_t data = 3 * 884 * 4;
    ASSERT_EQ(wav.size(), 44u + data);
    EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
    EXPECT_EQ(Le32(wav, 4), 36u + data);
    EXPECT_EQ(std::string(wav.begin() + 8, wav.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(Le32(wav, 16), 16u);     // format chunk size
    EXPECT_EQ(Le16(wav, 20), 1u);      // PCM
    EXPECT_EQ(Le16(wav, 22), 2u);      // channels
    EXPECT_EQ(Le32(wav, 24), 44100u);  // frames per second
    EXPECT_EQ(Le32(wav, 28), 176400u); // bytes per second
    EXPECT_EQ(Le16(wav, 32), 4u);      // bytes per frame
    EXPECT_EQ(Le16(wav, 34), 16u);     // bits per sample
    EXPECT_EQ(std::string(wav.begin() + 36, wav.begin() + 40), "data");
    EXPECT_EQ(Le32(wav, 40), data);

    Result raw_run = Run({"--frames", "2000", Path("song.xm"), "-"});
    ASSERT_EQ(raw_run.status, 0) << raw_run.err;
    EXPECT_TRUE(raw_run.out == std::vector<uint8_t>(wav.begin() + 44, wav.end()));
    EXPECT_TRUE(raw_run.out == Reference(song_, 3));
    // A file mode a new file would get, not the private one of a temporary file.
    struct stat info;
    ASSERT_EQ(stat(Path("out.WAV").c_str(), &info), 0);
    mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(info.st_mode & 0777, 0666 & ~mask);
}

TEST_F(ToolTest, SyncFileHasOneLinePerBlock) {
    std::vector<std::string> rows;
    Reference(song_, 60, &rows);
    Result r = Run({"--sync", Path("pos.csv"), "--frames", "52000", Path("song.xm"), Path("o.raw")});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<uint8_t> csv = ReadFile(Path("pos.csv"));
    std::istringstream lines(std::string(csv.begin(), csv.end()));
    std::string line;
    ASSERT_TRUE(std::getline(lines, line));
    EXPECT_EQ(line, "block,order,row,time_ms");
    size_t count = 0;
    while (std::getline(lines, line)) {
        ASSERT_LT(count, rows.size());
        EXPECT_EQ(line, rows[count]);
        count++;
    }
    EXPECT_EQ(count, 59u);  // 52000 frames take 59 blocks
    EXPECT_EQ(rows[58].substr(0, 7), "58,0,9,");  // 52156 frames: row 9 of order 0
}

TEST_F(ToolTest, OnceThroughEndsWhereTheSongWrapsBack) {
    // 64 rows, speed 6 at 882 frames a tick; then two orders, restarting at the second.
    xm::SongSpec two = SongWithNotes();
    xm::PatternSpec second;
    second.rows = 16;
    two.patterns.push_back(second);
    two.orders = {0, 1};
    two.restart_position = 1;
    WriteFile(Path("two.xm"), xm::Build(two));
    const struct {
        const char* song;
        uint32_t frames;
    } cases[] = {{"song.xm", 64 * 6 * 882}, {"two.xm", 80 * 6 * 882}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.song);
        Result r = Run({"--sync", Path("s.csv"), Path(c.song), Path("once.wav")});
        ASSERT_EQ(r.status, 0) << r.err;
        std::vector<uint8_t> wav = ReadFile(Path("once.wav"));
        ASSERT_EQ(wav.size(), 44u + c.frames * 4);
        EXPECT_EQ(Le32(wav, 40), c.frames * 4);
        EXPECT_EQ(r.err.find("30 minutes"), std::string::npos);
        std::vector<uint8_t> csv = ReadFile(Path("s.csv"));
        size_t lines = size_t(std::count(csv.begin(), csv.end(), '\n'));
        EXPECT_EQ(lines, 1 + (c.frames + 883) / 884);  // the cut last block included
    }
}

TEST_F(ToolTest, OnceThroughStopsAtThirtyMinutes) {
    // One order of 256 rows at speed 31 and 32 BPM lasts 620 s; three never wrap in time.
    xm::SongSpec song = xm::SimpleSong(1, 256);
    song.orders = {0, 0, 0};
    song.speed = 31;
    song.bpm = 32;
    WriteFile(Path("long.xm"), xm::Build(song));
    keep_stdout_ = false;
    Result r = Run({Path("long.xm"), "-"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(stdout_bytes_, uint64_t(30 * 60 * 44100) * 4);
    EXPECT_NE(r.err.find("30 minutes"), std::string::npos) << r.err;
}

TEST_F(ToolTest, FailuresExplainAndLeaveNoOutput) {
    WriteFile(Path("text.xm"), std::vector<uint8_t>(400, 'x'));
    WriteFile(Path("wide.xm"), xm::Build(xm::SimpleSong(33, 4)));
    ASSERT_EQ(mkdir(Path("taken").c_str(), 0755), 0);
    const struct {
        const char* name;
        std::vector<std::string> args;
        std::string named;   // the file the message names
        std::string reason;  // the loader's reason, when the input is at fault
    } cases[] = {
        {"missing input", {Path("none.xm"), Path("o.wav")}, Path("none.xm"), LoadError(Path("none.xm"))},
        {"input is a directory", {Path("taken"), Path("o.wav")}, Path("taken"), ""},
        {"not an XM module", {Path("text.xm"), Path("o.wav")}, Path("text.xm"), LoadError(Path("text.xm"))},
        {"refused module", {Path("wide.xm"), Path("o.raw")}, Path("wide.xm"), LoadError(Path("wide.xm"))},
        {"output in a missing directory", {Path("song.xm"), Path("no/o.wav")}, Path("no/o.wav"), ""},
        {"output is a directory", {"--frames", "10", Path("song.xm"), Path("taken")}, Path("taken"), ""},
        {"sync in a missing directory",
         {"--sync", Path("no/s.csv"), Path("song.xm"), Path("o.wav")}, Path("no/s.csv"), ""},
    };
    const std::set<std::string> before = List(dir_);
    for (int i : {0, 2, 3}) EXPECT_FALSE(cases[i].reason.empty()) << cases[i].name;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Result r = Run(c.args);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(c.named), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty());
        EXPECT_EQ(List(dir_), before);
    }
    EXPECT_EQ(List(Path("taken")).size(), 0u);
}

TEST_F(ToolTest, CommandLineMistakesShowTheUsage) {
    const std::vector<std::vector<std::string>> mistakes = {
        {},
        {Path("song.xm")},
        {Path("song.xm"), Path("a.wav"), Path("b.wav")},
        {"--frames", "0", Path("song.xm"), Path("a.wav")},
        {"--frames", "12x", Path("song.xm"), Path("a.wav")},
        {"--frames", "-5", Path("song.xm"), Path("a.wav")},
        {"--seconds", "0", Path("song.xm"), Path("a.wav")},
        {"--seconds", "1e3", Path("song.xm"), Path("a.wav")},
        {"--seconds", ".", Path("song.xm"), Path("a.wav")},
        {"--frames", "10", "--seconds", "1", Path("song.xm"), Path("a.wav")},
        {"--frames", "99999999999", Path("song.xm"), Path("a.wav")},  // beyond a WAV file
        {"--sync", Path("song.xm"), Path("a.wav")},
        {"--loud", Path("song.xm"), Path("a.wav")},
        {Path("song.xm"), Path("a.wav"), "--frames"},
    };
    const std::set<std::string> before = List(dir_);
    for (const auto& args : mistakes) {
        std::string joined;
        for (const auto& a : args) joined += a + " ";
        SCOPED_TRACE(joined);
        Result r = Run(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find("usage: vinto-render"), std::string::npos) << r.err;
        EXPECT_EQ(List(dir_), before);
    }
    Result help = Run({"--help"});
    EXPECT_EQ(help.status, 0);
    std::string text(help.out.begin(), help.out.end());
    for (const char* word : {"--frames", "--seconds", "--sync", ".wav", "30 minutes", "block,order,row,time_ms"})
        EXPECT_NE(text.find(word), std::string::npos) << word;
}

}  // namespace
