// Playback start and stop. (The device and output thread arrive with live output.)
#include <stdlib.h>

#include "output/output.h"

bool StopPlayback(Module* module) {
    if (!module) return false;
    output.stop_requested = 1;
    while (output.rendering) {
    }
    if (output.mix_allocation) {
        free(output.mix_allocation);
        output.mix_allocation = nullptr;
        output.mix_buffer = nullptr;
    }
    free(output.ring);
    output.ring = nullptr;
    output.playing_module = nullptr;
    free(output.sync_entries);
    output.sync_entries = nullptr;
    output.next_block = 0;
    output.sync_index = 0;
    return true;
}
