// The table of replay modes of a build with the exact replay only (the
// Windows player program): a complete-mode load is refused.
#include "replay/modes.h"
#include "replay/replay.h"

namespace vinto {

namespace {
constexpr ReplayMode EXACT_MODE = {ModuleTick, ResetExactChannels, nullptr};
}

const ReplayMode* FindReplayMode(int32_t mode) { return mode == VINTO_MODE_EXACT ? &EXACT_MODE : nullptr; }

ReplayTables PlaybackTables() { return {channels, nullptr}; }

}  // namespace vinto
