// The table of replay modes of a build with both replays.
#include "complete/complete.h"
#include "replay/modes.h"
#include "replay/replay.h"

namespace vinto {

namespace {
constexpr ReplayMode MODES[] = {
    {ModuleTick, ResetExactChannels, nullptr},                          // VINTO_MODE_EXACT
    {CompleteTick, ResetCompleteChannels, ParseXmInDeclaredLayout},  // VINTO_MODE_COMPLETE
};
}

const ReplayMode* FindReplayMode(int32_t mode) {
    return mode >= 0 && mode < int32_t(sizeof(MODES) / sizeof(MODES[0])) ? &MODES[mode] : nullptr;
}

ReplayTables PlaybackTables() { return {channels, complete_channels}; }

}  // namespace vinto
