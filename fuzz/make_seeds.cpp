// Writes the fuzzers' seeds: fuzz_make_seeds DIR
//   DIR/load_render/<name>.xm   the seed songs
//   DIR/render_args/<name>      vinto-render command lines, each followed by a song
#include <stdio.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "fuzz/seed_songs.h"

namespace {

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* file = fopen(path.c_str(), "wb");
    bool ok = file && fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (file && fclose(file) != 0) ok = false;
    if (!ok) fprintf(stderr, "fuzz_make_seeds: cannot write %s\n", path.c_str());
    return ok;
}

// Arguments with their terminating NUL bytes, an empty argument, then the song.
std::vector<uint8_t> CommandLine(const std::vector<std::string>& arguments, const std::vector<uint8_t>& song) {
    std::vector<uint8_t> bytes;
    for (const std::string& argument : arguments) {
        bytes.insert(bytes.end(), argument.begin(), argument.end());
        bytes.push_back(0);
    }
    bytes.push_back(0);
    bytes.insert(bytes.end(), song.begin(), song.end());
    return bytes;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: fuzz_make_seeds DIR\n");
        return 2;
    }
    const std::string root = argv[1];
    const std::string songs_dir = root + "/load_render";
    const std::string args_dir = root + "/render_args";
    mkdir(root.c_str(), 0777);
    mkdir(songs_dir.c_str(), 0777);
    mkdir(args_dir.c_str(), 0777);

    int written = 0;
    std::vector<uint8_t> short_song;
    for (const seeds::SeedSong& seed : seeds::SeedSongs()) {
        std::vector<uint8_t> bytes = xm::Build(seed.song);
        if (seed.name == "simple") short_song = bytes;
        if (!WriteFile(songs_dir + "/" + seed.name + ".xm", bytes)) return 1;
        // The same song for the complete mode: fuzz_load_render reads the mode from bit 0 of byte 17.
        bytes[17] |= 1;
        if (!WriteFile(songs_dir + "/" + seed.name + "-complete.xm", bytes)) return 1;
        written += 2;
    }

    const std::vector<std::vector<std::string>> command_lines = {
        {"--frames", "1000", "in.xm", "out.wav"},
        {"--seconds", "0.25", "--sync", "s.csv", "in.xm", "-"},
        {"in.xm", "out.raw"},
        {"--sync", "s.csv", "in.xm", "o.wav"},
        {"--frames", "0", "in.xm", "o.wav"},
        {"--seconds", "1.0000000001", "in.xm", "o.WAV"},
        {"--frames", "884", "--seconds", "1", "in.xm", "o.wav"},
        {"--sync", "o.wav", "in.xm", "o.wav"},
        {"--", "in.xm", "-o.wav"},
        {"missing.xm", "o.wav"},
        {"in.xm"},
        {"--help"},
        {"--frames"},
    };
    int index = 0;
    for (const auto& arguments : command_lines) {
        std::string path = args_dir + "/args-" + std::to_string(index++);
        if (!WriteFile(path, CommandLine(arguments, short_song))) return 1;
        written++;
    }
    printf("%d seeds in %s\n", written, root.c_str());
    return 0;
}
