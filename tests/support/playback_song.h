// A short song for the playback tests: two channels of notes with slides, a
// key-off and panning, 16 rows at 138 BPM (798 frames a tick), so that it
// loops about every 2.1 s and every block of the ring sounds different.
#pragma once

#include "tests/support/xm_builder.h"

namespace playback_test {

inline xm::SongSpec MelodySong(uint16_t bpm = 138) {
    xm::SongSpec song = xm::SimpleSong(2, 16);
    song.bpm = bpm;
    xm::PatternSpec& pattern = song.patterns[0];
    for (int row = 0; row < 16; row += 2) {
        pattern.At(row, 0, 2) = {uint8_t(37 + row), 1, 0, 0, 0};
        pattern.At(row + 1, 1, 2) = {uint8_t(61 - row), 1, uint8_t(0x18 + 2 * row), 0x0A, 0x02};
    }
    pattern.At(5, 0, 2).effect = 0x08;  // panning to the left
    pattern.At(5, 0, 2).param = 0xF0;
    pattern.At(11, 1, 2).note = 97;     // key off
    return song;
}

}  // namespace playback_test
