// Test support for the replay engine: loads builder songs, gives them the state
// of a fresh playback start and runs ticks without any audio output.
#pragma once

#include <stdint.h>

#include <memory>
#include <vector>

#include "mixer/mixer.h"
#include "module/module.h"
#include "replay/replay.h"
#include "tests/support/xm_builder.h"

namespace replay_test {

struct ModuleFree {
    void operator()(Module* module) const { FreeModule(module); }
};
using ModulePtr = std::unique_ptr<Module, ModuleFree>;

// Resets the voice pool, the module's playback fields, the tempo and the
// channels, as a playback start does.
void StartSong(Module& module);

// Loads a builder song (null when the loader refuses) and starts it.
ModulePtr LoadAndStart(const xm::SongSpec& song);

// Runs `count` ticks.
void RunTicks(Module& module, int count);

// Cell shorthand: note as in the file (97 key off), instrument 1-based.
xm::Cell C(uint8_t note, uint8_t instrument = 0, uint8_t volume = 0, uint8_t effect = 0, uint8_t param = 0);

// Sets the cell of (row, channel) in pattern `pattern` of a song.
void Put(xm::SongSpec& song, int row, int channel, xm::Cell cell, int pattern = 0);

// The simple one-sample song (volume 64, panning 128) at a given speed.
xm::SongSpec ToneSong(int channels = 2, int rows = 16, uint16_t speed = 6);

// Value of a channel field after each of `count` ticks.
template <typename Read>
std::vector<int32_t> Trace(Module& module, int count, Read read) {
    std::vector<int32_t> values;
    for (int i = 0; i < count; i++) {
        ModuleTick(&module);
        values.push_back(int32_t(read()));
    }
    return values;
}

}  // namespace replay_test
