// Test support for the replay engine: builder songs reset as a playback start
// resets them, then driven tick by tick without audio output.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "mixer/mixer.h"
#include "output/output.h"
#include "replay/replay.h"
#include "tests/support/xm_builder.h"

using namespace vinto;

namespace replay_test {

using Values = std::vector<int32_t>;
using ModulePtr = std::unique_ptr<Module, decltype(&FreeModule)>;

// A song the loader or the playback reset refuses fails the test (by an exception).
inline ModulePtr LoadAndStart(const xm::SongSpec& song) {
    ModulePtr module(xm::Load(song), FreeModule);
    if (!module || !ResetPlayback(module.get())) throw std::runtime_error(std::string("refused: ") + GetLoadError());
    return module;
}

inline void RunTicks(Module& module, int count) {
    for (int i = 0; i < count; i++) ModuleTick(&module);
}

// A value read after each of `count` ticks.
template <typename Read>
Values Trace(Module& module, int count, Read read) {
    Values values;
    for (int i = 0; i < count; i++) ModuleTick(&module), values.push_back(int32_t(read()));
    return values;
}

// Sets a cell: note as in the file (97 key off), instrument 1-based.
inline void Put(xm::SongSpec& song, int row, int channel, uint8_t note, uint8_t instrument = 0, uint8_t volume = 0,
                uint8_t effect = 0, uint8_t param = 0, int pattern = 0) {
    song.patterns[size_t(pattern)].At(row, channel, song.channels) = xm::Cell{note, instrument, volume, effect, param};
}

// The simple one-sample song, its sample's settings replaced.
inline xm::SongSpec ToneSong(int channels = 1, int rows = 16, uint16_t speed = 6, uint16_t flags = 1,
                             uint8_t volume = 64, uint8_t pan = 128, int8_t finetune = 0, int8_t relative_note = 0) {
    xm::SongSpec song = xm::SimpleSong(channels, rows);
    song.speed = speed;
    song.flags = flags;
    xm::SampleSpec& sample = song.instruments[0].samples[0];
    sample.volume = volume, sample.pan = pan, sample.finetune = finetune, sample.relative_note = relative_note;
    return song;
}

}  // namespace replay_test
