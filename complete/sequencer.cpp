// Complete replay, the tick sequencer: rows, pattern delay and loop, position
// jump and pattern break as FastTracker 2 moves through a song.
#include "complete/complete.h"

namespace vinto {

namespace {

constexpr PatternCell EMPTY_CELL = {};
constexpr int32_t MISSING_PATTERN_ROWS = 64;
constexpr uint8_t LOOP_TO_DELAYED_ROW = 2;  // loop_jump: the loop ended on a row with a pattern delay

// The row after the current one, worked out at the end of a row's last tick,
// as libopenmpt plays FastTracker 2: a pattern delay first plays all passes
// of its row; a loop jump then goes to the loop start (to the row itself when
// the loop ends on the delayed row); leaving the pattern (its end, Bxx, Dxx)
// lands on the break row, which a loop jump leaves standing, so the next
// pattern may start at a loop's start row.
void PlanNextRow(Module& module) {
    CompleteSongState& song = module.complete;
    if (song.delay_passes > 0) {
        song.passes_left = song.delay_passes;
        song.delay_passes = 0;
        if (song.loop_jump) song.loop_jump = LOOP_TO_DELAYED_ROW;
    }
    if (song.passes_left > 0 && --song.passes_left > 0) {
        module.next_order = -1;
        module.next_row = module.row;
        return;
    }
    int32_t row = module.row + 1;
    if (song.loop_jump) {
        row = song.loop_jump == LOOP_TO_DELAYED_ROW ? module.row : song.break_row;
        song.loop_jump = 0;
    }
    const Pattern* pattern = CurrentPattern(module);
    int32_t rows = pattern ? pattern->row_count : MISSING_PATTERN_ROWS;
    module.next_order = -1;
    if (row >= rows || song.position_jump) {
        row = song.break_row;
        song.break_row = 0;
        song.position_jump = 0;
        int32_t order = song.jump_order >= 0 ? song.jump_order : module.order + 1;
        song.jump_order = -1;
        if (order >= module.song_length) order = module.restart_position;
        module.next_order = order;
    }
    module.next_row = row;
}

void RowTick(Module& module, int32_t count) {
    if (module.next_order >= 0) module.order = module.next_order;
    if (module.next_row >= 0) module.row = module.next_row;
    module.next_order = -1;
    module.next_row = -1;
    // A break may name a row the pattern lacks: such a row plays as row 0.
    const Pattern* pattern = CurrentPattern(module);
    if (pattern && (module.row < 0 || module.row >= pattern->row_count)) module.row = 0;
    CompleteChannel* channels = module.complete_channels;
    // A row repeated by a pattern delay reads no cells: its first tick is a later tick.
    if (module.complete.passes_left > 0) {
        for (int32_t i = 0; i < count; i++) CompleteLaterChannel(module, channels[i]);
        return;
    }
    const PatternCell* cells = CurrentRowCells(module);
    for (int32_t i = 0; i < count; i++) CompleteRowChannel(module, channels[i], cells ? cells[i] : EMPTY_CELL);
}

}  // namespace

void CompleteTick(Module* module) {
    if (!module || !module->complete_channels) return;
    Module& song = *module;
    int32_t count = ActiveChannelCount(song);
    if (song.tick == 0)
        RowTick(song, count);
    else
        for (int32_t i = 0; i < count; i++) CompleteLaterChannel(song, song.complete_channels[i]);
    for (int32_t i = 0; i < count; i++) {
        StepInstrument(song.complete_channels[i]);
        UpdateCompleteVoice(song, song.complete_channels[i]);
    }

    song.tick++;
    if (song.tick >= (song.speed > 0 ? song.speed : 1)) {
        song.tick = 0;
        PlanNextRow(song);
    }
}

}  // namespace vinto
