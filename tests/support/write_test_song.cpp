// Writes a small XM song made by the test builder to the file named on the
// command line (the build embeds it into a test program).
#include <stdio.h>

#include "tests/support/xm_builder.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s OUTPUT.xm\n", argv[0]);
        return 2;
    }
    xm::SongSpec song = xm::SimpleSong(4, 16);
    song.patterns[0].At(0, 0, song.channels) = {49, 1, 0, 0, 0};
    song.patterns[0].At(8, 1, song.channels) = {97, 0, 0, 0, 0};
    // A second instrument with a 16-bit ping-pong sample.
    xm::InstrumentSpec second;
    xm::SampleSpec wave;
    for (int k = 0; k < 50; k++) wave.pcm.push_back(int16_t(k * 1000 - 25000));
    wave.sixteen_bit = true;
    wave.loop_type = xm::PINGPONG_LOOP;
    wave.loop_start = 5;
    wave.loop_length = 40;
    second.samples.push_back(wave);
    song.instruments.push_back(second);
    std::vector<uint8_t> bytes = xm::Build(song);
    FILE* file = fopen(argv[1], "wb");
    if (!file) {
        perror(argv[1]);
        return 1;
    }
    size_t written = fwrite(bytes.data(), 1, bytes.size(), file);
    if (fclose(file) != 0 || written != bytes.size()) {
        perror(argv[1]);
        return 1;
    }
    return 0;
}
