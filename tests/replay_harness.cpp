#include "tests/replay_harness.h"

#include <string.h>

namespace replay_test {

void StartSong(Module& module) {
    ResetVoicePool();
    module.global_volume = module.default_global_volume;
    module.speed = module.default_speed;
    module.row = 0;
    module.order = 0;
    module.next_order = -1;
    module.next_row = -1;
    module.tick_samples_left = 0;
    module.tick = 0;
    module.time_ms = 0;
    SetBpm(module, module.default_bpm);
    // All 32 records, so that no test sees what an earlier one left.
    memset(channels, 0, sizeof(channels));
    for (int i = 0; i < MAX_CHANNELS; i++) channels[i].voice = &VoicePool[i];
}

ModulePtr LoadAndStart(const xm::SongSpec& song) {
    ModulePtr module(xm::Load(song));
    if (module) StartSong(*module);
    return module;
}

void RunTicks(Module& module, int count) {
    for (int i = 0; i < count; i++) ModuleTick(&module);
}

xm::Cell C(uint8_t note, uint8_t instrument, uint8_t volume, uint8_t effect, uint8_t param) {
    xm::Cell cell;
    cell.note = note;
    cell.instrument = instrument;
    cell.volume = volume;
    cell.effect = effect;
    cell.param = param;
    return cell;
}

void Put(xm::SongSpec& song, int row, int channel, xm::Cell cell, int pattern) {
    song.patterns[size_t(pattern)].At(row, channel, song.channels) = cell;
}

xm::SongSpec ToneSong(int channels, int rows, uint16_t speed) {
    xm::SongSpec song = xm::SimpleSong(channels, rows);
    song.speed = speed;
    return song;
}

}  // namespace replay_test
