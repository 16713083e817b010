// A short song for the playback tests: two channels of notes with slides, 16
// rows at 138 BPM (798 frames a tick), so that it loops about every 2.1 s and
// every block of the ring sounds different.
#pragma once

#include "tests/support/xm_builder.h"

namespace playback_test {

inline xm::SongSpec MelodySong() {
    xm::SongSpec song = xm::SimpleSong(2, 16);
    song.bpm = 138;
    for (int row = 0; row < 16; row += 2) {
        song.patterns[0].At(row, 0, 2) = {uint8_t(37 + row), 1, 0, 0, 0};
        song.patterns[0].At(row + 1, 1, 2) = {uint8_t(61 - row), 1, uint8_t(0x18 + 2 * row), 0x0A, 0x02};
    }
    return song;
}

}  // namespace playback_test
