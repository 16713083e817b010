// What a host may know of a song without playing it: its names and counts,
// and, from the sequencer run on a copy of the song, the duration of a pass
// and where an order and row are first reached.
#include <string.h>

#include "output/output.h"
#include "complete/complete.h"
#include "replay/modes.h"
#include "replay/replay.h"

namespace vinto {

namespace {

// The sequencer is run for at most 30 minutes of song (the tools' cap) or
// 2^20 ticks (a tempo beyond about 1450 BPM reaches that first).
constexpr uint64_t WALK_CAP_FRAMES = 30ull * 60ull * 44100ull;
constexpr uint32_t WALK_CAP_TICKS = 1u << 20;

// A module record of its own over a song's data, with its own channel table:
// the sequencer runs on it beside any playback, of this song or another.
struct SongCopy {
    Module module;
    Channel channels[MAX_CHANNELS];
    CompleteChannel complete_channels[MAX_CHANNELS];
};

// Prepares copy to run song from its start: the song's data shared (it never
// changes after loading), the playback fields at their start values, the
// channels zeroed with no voice (the channel-to-voice update then does
// nothing), no controls. Reads only what never changes while the song plays.
// False for a song the renderer would not play either.
bool PrepareSongCopy(const Module& song, SongCopy& copy) {
    if (!song.tick_handler || song.channel_count > MAX_CHANNELS) return false;
    Module& module = copy.module;
    module = Module{};
    module.patterns = song.patterns;
    module.instruments = song.instruments;
    module.song_length = song.song_length;
    module.restart_position = song.restart_position;
    module.channel_count = song.channel_count;
    module.used_pattern_count = song.used_pattern_count;
    module.pattern_count = song.pattern_count;
    module.instrument_count = song.instrument_count;
    module.flags = song.flags;
    module.default_speed = song.default_speed;
    module.default_bpm = song.default_bpm;
    memcpy(module.orders, song.orders, sizeof(module.orders));
    module.default_global_volume = song.default_global_volume;
    module.tick_handler = song.tick_handler;
    module.sample_loader = song.sample_loader;
    module.mode = song.mode;
    return ResetReplayState(module, ReplayTables{copy.channels, copy.complete_channels}, false);
}

enum class WalkEnd { PASS, ROW, CAP };

// Runs song from its start tick by tick, counting frames as the renderer
// counts them, until the first pass ends (the renderer's test) or, with
// order >= 0, until a row tick plays that order and row; frame is then the
// song position of that tick.
WalkEnd WalkSong(const Module& song, int32_t order, int32_t row, uint64_t& frame) {
    frame = 0;
    SongCopy copy;
    if (!PrepareSongCopy(song, copy)) return WalkEnd::CAP;
    Module& module = copy.module;
    for (uint32_t ticks = 0; ticks < WALK_CAP_TICKS && frame < WALK_CAP_FRAMES; ticks++) {
        if (order < 0 && PassEndsAtNextTick(module)) return WalkEnd::PASS;
        const bool row_tick = module.tick == 0;
        module.tick_handler(&module);
        if (row_tick && module.order == order && module.row == row) return WalkEnd::ROW;
        frame += uint64_t(module.samples_per_tick < 1 ? 1 : module.samples_per_tick);
    }
    return WalkEnd::CAP;
}

}  // namespace

int64_t FindRowFrame(const Module& song, int32_t order, int32_t row) {
    uint64_t frame;
    if (order < 0 || row < 0) return -1;
    return WalkSong(song, order, row, frame) == WalkEnd::ROW ? int64_t(frame) : -1;
}

}  // namespace vinto

using namespace vinto;

const char* GetSongTitle(const Module* module) { return module ? module->title : ""; }

int32_t GetChannelCount(const Module* module) { return module ? module->channel_count : 0; }

int32_t GetSongLength(const Module* module) { return module ? module->song_length : 0; }

int32_t GetPatternCount(const Module* module) { return module ? module->pattern_count : 0; }

int32_t GetInstrumentCount(const Module* module) { return module ? module->instrument_count : 0; }

const char* GetInstrumentName(const Module* module, int32_t instrument) {
    if (!module || instrument < 0 || instrument >= module->instrument_count) return nullptr;
    return module->instruments[instrument].name;
}

bool UsesLinearFrequencies(const Module* module) {
    return module && (module->flags & MODULE_LINEAR_FREQUENCY) != 0;
}

uint64_t GetSongDurationFrames(const Module* module) {
    uint64_t frame;
    if (!module || WalkSong(*module, -1, -1, frame) != WalkEnd::PASS) return 0;
    return frame;
}

uint32_t GetSongDurationMs(const Module* module) {
    return uint32_t(GetSongDurationFrames(module) * 1000 / uint64_t(output.mix_rate));
}
