// Replay modes: what the loader and the playback reset need of each, without
// reaching into a replay's internals. The table lives in its own unit, so a
// program built with the exact replay alone (the Windows player) links none of
// the complete one.
#pragma once

#include <stdint.h>

#include "module/module.h"

namespace vinto {

// The channel tables a replay works on: MAX_CHANNELS records each. Live and
// offline playback use the global tables of the build (PlaybackTables); a copy
// of a Module record that runs the sequencer beside a playing song brings its
// own (a table of a mode the build lacks may be null).
struct ReplayTables {
    Channel* channels;                   // exact replay
    CompleteChannel* complete_channels;  // complete replay
};

struct ReplayMode {
    void (*tick)(Module* module);  // stored in Module.tick_handler by the loader
    // Points the module at its table in `tables` and gives the first
    // channel_count records their start values; with link_voices channel i
    // drives voice pool slot i, without it no voice (the tick code then
    // touches no voice at all).
    void (*reset_channels)(Module& module, const ReplayTables& tables, bool link_voices);
    // The loader's parser for the mode, null for the fixed layout of version 0x0104.
    bool (*parse_declared_layout)(Module* module, struct FileHandle* handle);
};

// The mode's entry, or null for a mode this build does not have.
const ReplayMode* FindReplayMode(int32_t mode);

// The global channel tables of this build.
ReplayTables PlaybackTables();

// Gives every playback field of the module its start value (position, speed,
// tempo, global volume, the complete replay's song state) and resets the
// mode's channel table from `tables`. The playback reset calls it with
// PlaybackTables() and linked voices. To run the sequencer on a copy of a
// playing song without disturbing it:
//
//     Module copy = *module;
//     Channel exact[MAX_CHANNELS];  CompleteChannel complete[MAX_CHANNELS];
//     ResetReplayState(copy, {exact, complete}, false);
//     while (...) copy.tick_handler(&copy);   // reads song data, writes only copy and its tables
//
// False for a mode the build lacks or a song with more channels than the tables hold.
bool ResetReplayState(Module& module, const ReplayTables& tables, bool link_voices);

}  // namespace vinto
