// Complete replay, the row tick: the cell's note and instrument, the volume
// column's row-tick commands (set volume and panning, fine slides, vibrato
// speed and depth, tone-portamento speed) and the effects that act on the row
// tick (3, 4, 6, 8, 9, B, C, D, E1-E7, E90, EA, EB, EC0, EE, F, G, K00, L, R, X).
#include "complete/complete.h"

namespace vinto {

// --- Note and instrument -------------------------------------------------------

static bool IsTonePortaCell(const CompleteChannel& channel) {
    return channel.effect == FX_TONE_PORTA || channel.effect == FX_TONE_PORTA_SLIDE ||
           channel.volume_command >= 0xF0;
}

static bool IsNoteDelay(const CompleteChannel& channel) {
    return channel.effect == FX_EXTENDED && (channel.param >> 4) == EX_NOTE_DELAY && (channel.param & 0x0F) != 0;
}

static void PlayCell(const Module& module, CompleteChannel& channel) {
    uint8_t note = channel.cell_note;
    if (note == KEY_OFF_NOTE)
        KeyOff(channel);
    else if (note >= 1 && note <= KEYMAP_NOTES) {
        if (IsTonePortaCell(channel))
            SetPortaTarget(module, channel, note);
        else
            StartTone(module, channel, note, channel.effect, channel.param);
    }
    // An instrument number restores volume and panning (of the last note's
    // sample: an instrument alone changes no sample) and restarts envelopes,
    // fade-out and auto-vibrato, unless the note is a key off.
    if (channel.cell_instrument) {
        ResetVolumes(channel);
        if (note != KEY_OFF_NOTE) TriggerInstrument(channel);
    }
}

// --- Volume column, row tick ------------------------------------------------------

void SetVolume(CompleteChannel& channel, int32_t volume) { channel.volume = channel.out_volume = ClampVolume(volume); }

// What a delayed note or a multi retrigger takes again from the volume column.
void ApplyVolumeColumnNoteStart(CompleteChannel& channel) {
    uint8_t command = channel.volume_command;
    if (command >= 0x10 && command <= 0x50) SetVolume(channel, command - 0x10);
    if ((command >> 4) == 0xC) channel.pan = (command & 0x0F) << 4;
}

static void RowVolumeColumn(CompleteChannel& channel) {
    uint8_t command = channel.volume_command;
    int32_t x = command & 0x0F;
    switch (command >> 4) {
        case 0x1: case 0x2: case 0x3: case 0x4: case 0x5:
            if (command <= 0x50) SetVolume(channel, command - 0x10);
            break;
        case 0x8: SetVolume(channel, channel.volume - x); break;
        case 0x9: SetVolume(channel, channel.volume + x); break;
        case 0xA: if (x) channel.vibrato_speed = (uint8_t)(x * 4); break;
        case 0xB: if (x) channel.vibrato_depth = (uint8_t)x; break;
        case 0xC: channel.pan = x << 4; break;
        case 0xF: if (x) channel.porta_speed = x * 64; break;
        default: break;  // 6x, 7x, Dx, Ex slide on the later ticks
    }
}

// --- Effects, row tick --------------------------------------------------------------

static void FinePortaUp(CompleteChannel& channel, uint8_t x) {
    if (x) channel.fine_porta_up = x;
    channel.period -= channel.fine_porta_up * 4;
    if (channel.period < COMPLETE_PERIOD_MIN) channel.period = COMPLETE_PERIOD_MIN;
    channel.out_period = channel.period;
}

static void FinePortaDown(CompleteChannel& channel, uint8_t x) {
    if (x) channel.fine_porta_down = x;
    channel.period += channel.fine_porta_down * 4;
    if (channel.period > COMPLETE_PERIOD_MAX) channel.period = COMPLETE_PERIOD_MAX;
    channel.out_period = channel.period;
}

static void ExtraFinePorta(CompleteChannel& channel, uint8_t param) {
    uint8_t x = param & 0x0F;
    if ((param >> 4) == 1) {
        if (x) channel.extra_fine_up = x;
        channel.period -= channel.extra_fine_up;
        if (channel.period < COMPLETE_PERIOD_MIN) channel.period = COMPLETE_PERIOD_MIN;
    } else if ((param >> 4) == 2) {
        if (x) channel.extra_fine_down = x;
        channel.period += channel.extra_fine_down;
        if (channel.period > COMPLETE_PERIOD_MAX) channel.period = COMPLETE_PERIOD_MAX;
    }
    channel.out_period = channel.period;
}

static void FineVolumeUp(CompleteChannel& channel, uint8_t x) {
    if (x) channel.fine_volume_up = x;
    SetVolume(channel, channel.volume + channel.fine_volume_up);
}

static void FineVolumeDown(CompleteChannel& channel, uint8_t x) {
    if (x) channel.fine_volume_down = x;
    SetVolume(channel, channel.volume - channel.fine_volume_down);
}

// E60 marks the loop start; E6x plays the rows from there x more times. The
// jump is taken at the row's end (with the row the break sets).
static void PatternLoop(Module& module, CompleteChannel& channel, uint8_t x) {
    if (x == 0) {
        channel.loop_row = (uint8_t)module.row;
        return;
    }
    if (channel.loop_count == 0)
        channel.loop_count = x;
    else if (--channel.loop_count == 0)
        return;
    module.complete.break_row = channel.loop_row;
    module.complete.loop_jump = 1;
}

// E90 on a row without a note starts the sample again at once (a note starts anyway).
static void RetriggerOnRowTick(CompleteChannel& channel, uint8_t x) {
    if (x != 0 || (channel.cell_note >= 1 && channel.cell_note <= KEYMAP_NOTES)) return;
    RestartSample(channel);
    TriggerInstrument(channel);
}

static void PatternDelay(Module& module, uint8_t x) {
    if (module.complete.passes_left == 0) module.complete.delay_passes = x + 1;
}

static void RowExtended(Module& module, CompleteChannel& channel, uint8_t param) {
    uint8_t x = param & 0x0F;
    switch (param >> 4) {
        case EX_FINE_PORTA_UP: FinePortaUp(channel, x); break;
        case EX_FINE_PORTA_DOWN: FinePortaDown(channel, x); break;
        case EX_GLISSANDO: channel.glissando = x; break;
        case EX_VIBRATO_WAVE: channel.wave_control = (uint8_t)((channel.wave_control & 0xF0) | x); break;
        case EX_PATTERN_LOOP: PatternLoop(module, channel, x); break;
        case EX_TREMOLO_WAVE: channel.wave_control = (uint8_t)((channel.wave_control & 0x0F) | (x << 4)); break;
        case EX_FINE_VOLUME_UP: FineVolumeUp(channel, x); break;
        case EX_FINE_VOLUME_DOWN: FineVolumeDown(channel, x); break;
        case EX_RETRIGGER: RetriggerOnRowTick(channel, x); break;
        case EX_NOTE_CUT: if (x == 0) SetVolume(channel, 0); break;  // EC0 cuts at once
        case EX_PATTERN_DELAY: PatternDelay(module, x); break;
        default: break;  // E5x acts with the note, E9x, ECx and EDx on the later ticks
    }
}

static void PositionJump(Module& module, uint8_t param) {
    module.complete.jump_order = param;
    module.complete.break_row = 0;  // a break earlier on the row is undone
    module.complete.position_jump = 1;
}

static void PatternBreak(Module& module, uint8_t param) {
    int32_t row = (param >> 4) * 10 + (param & 0x0F);  // two decimal digits
    module.complete.break_row = row > 63 ? 0 : row;
    module.complete.position_jump = 1;
}

static void SpeedTempo(Module& module, uint8_t param) {
    if (param == 0) return;  // F00 is ignored
    if (param < 32)
        module.speed = param;
    else
        SetTempo(module, param);
}

static void RowEffect(Module& module, CompleteChannel& channel) {
    uint8_t param = channel.param;
    switch (channel.effect) {
        case FX_TONE_PORTA: if (param) channel.porta_speed = param * 4; break;
        case FX_PANNING: channel.pan = param; break;
        case FX_POSITION_JUMP: PositionJump(module, param); break;
        case FX_SET_VOLUME: SetVolume(channel, param); break;
        case FX_PATTERN_BREAK: PatternBreak(module, param); break;
        case FX_EXTENDED: RowExtended(module, channel, param); break;
        case FX_SPEED_TEMPO: SpeedTempo(module, param); break;
        case FX_GLOBAL_VOLUME: module.global_volume = param > VOLUME_MAX ? VOLUME_MAX : param; break;
        case FX_KEY_OFF: if (param == 0) KeyOff(channel); break;
        case FX_ENVELOPE_POSITION: SetEnvelopePosition(channel, param); break;
        case FX_EXTRA_FINE_PORTA: ExtraFinePorta(channel, param); break;
        case FX_MULTI_RETRIGGER: MultiRetrigger(channel); break;  // the row tick counts too
        case FX_VIBRATO: case FX_VIBRATO_SLIDE: VibratoOnRowTick(channel); break;
        default: break;  // the rest act on the later ticks
    }
}

// --- The row tick of one channel --------------------------------------------------

void CompleteRowChannel(Module& module, CompleteChannel& channel, const PatternCell& cell) {
    // Arpeggio and vibrato leave the pitch where their last tick put it
    // until a row without them sets it back.
    if (channel.effect == FX_ARPEGGIO && channel.param != 0)
        channel.out_period = channel.period;
    else if ((channel.effect == FX_VIBRATO || channel.effect == FX_VIBRATO_SLIDE) && cell.effect != FX_VIBRATO &&
             cell.effect != FX_VIBRATO_SLIDE)
        channel.out_period = channel.period;
    // Tremolo's volume lasts through the row tick; tremor's silence lasts until a volume is set.
    channel.tremolo_ended = channel.effect == FX_TREMOLO && cell.effect != FX_TREMOLO;
    channel.cell_note = cell.note;
    channel.cell_instrument = cell.instrument;
    channel.volume_command = cell.volume;
    channel.effect = cell.effect;
    channel.param = cell.param;
    if (cell.instrument) channel.instrument_number = cell.instrument;
    // A delayed note takes its note, instrument and volume column on its tick.
    if (IsNoteDelay(channel)) return;
    PlayCell(module, channel);
    RowVolumeColumn(channel);
    RowEffect(module, channel);
}

}  // namespace vinto
