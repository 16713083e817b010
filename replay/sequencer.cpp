// The tick sequencer: one call per tick moves the song on by one tick.
#include "replay/replay.h"

namespace vinto {

// Works out the row after the current one when no pattern break chose it.
static void PlanNextRow(Module& module) {
    module.next_row = module.row + 1;
    const Pattern* pattern = CurrentPattern(module);
    int32_t row_count = pattern ? pattern->row_count : 0;
    if (module.next_row >= row_count) {
        module.next_order = module.order + 1;
        if (module.next_order >= module.song_length) module.next_order = module.restart_position;
        module.next_row = 0;
    }
}

static void RowTick(Module& module) {
    if (module.next_order >= 0) module.order = module.next_order;
    if (module.next_row >= 0) module.row = module.next_row;
    ProcessRow(module);
    if (module.next_row == -1) PlanNextRow(module);
}

void ModuleTick(Module* module) {
    if (!module) return;
    if (module->tick == 0)
        RowTick(*module);
    else
        ProcessTickEffects(*module);
    module->tick++;
    if (module->tick >= module->speed) module->tick = 0;
}

}  // namespace vinto
