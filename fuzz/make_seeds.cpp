// Writes the fuzzers' seeds: fuzz_make_seeds DIR
//   DIR/load_render/<name>.xm   the seed songs
//   DIR/render_args/args-<n>    vinto-render command lines, each followed by a song
#include <stdio.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fuzz/seed_songs.h"

namespace {

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* file = fopen(path.c_str(), "wb");
    const bool ok = file && fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size() && fclose(file) == 0;
    return ok || fprintf(stderr, "fuzz_make_seeds: cannot write %s\n", path.c_str()) < 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return fprintf(stderr, "usage: fuzz_make_seeds DIR\n"), 2;
    const std::string root = argv[1];
    for (const std::string& dir : {root, root + "/load_render", root + "/render_args"}) mkdir(dir.c_str(), 0777);
    for (const seeds::SeedSong& seed : seeds::SeedSongs()) {
        std::vector<uint8_t> bytes = xm::Build(seed.song);
        bool ok = WriteFile(root + "/load_render/" + seed.name + ".xm", bytes);
        bytes[17] |= 1;  // the same song for the complete mode, which fuzz_load_render reads from bit 0 of byte 17
        if (!ok || !WriteFile(root + "/load_render/" + seed.name + "-complete.xm", bytes)) return 1;
    }
    // Command lines, each argument ended by a NUL byte (a space here), an empty argument, then the song.
    const std::vector<uint8_t> song = xm::Build(seeds::SeedSongs()[0].song);
    int args = 0;
    for (std::string line : {"--frames 1000 in.xm out.wav", "--seconds 0.25 --sync s.csv in.xm -", "in.xm out.raw",
                             "--loops 2 --start 0:01 --mute 1-2 in.xm o.wav", "--mode exact --volume 0.5 in.xm o.wav",
                             "--start-order 0:4 in.xm -", "--info in.xm", "--sync o.wav in.xm o.wav", "missing.xm o.wav"}) {
        line += "  ";
        std::replace(line.begin(), line.end(), ' ', '\0');
        line.append(song.begin(), song.end());
        if (!WriteFile(root + "/render_args/args-" + std::to_string(args++), {line.begin(), line.end()})) return 1;
    }
    printf("%zu seeds in %s\n", 2 * seeds::SeedSongs().size() + args, root.c_str());
}
