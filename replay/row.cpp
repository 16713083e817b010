// The row tick: reads the row's cells, starts and releases notes, applies the
// volume column and the row-tick part of the effects.
#include <math.h>

#include "replay/replay.h"

namespace vinto {

// --- Song position -------------------------------------------------------------

const Pattern* CurrentPattern(const Module& module) {
    if (!module.patterns || module.order < 0 || module.order >= ORDER_TABLE_SIZE) return nullptr;
    int32_t number = module.orders[module.order];
    if (number >= module.pattern_count) return nullptr;
    return &module.patterns[number];
}

const PatternCell* CurrentRowCells(const Module& module) {
    const Pattern* pattern = CurrentPattern(module);
    if (!pattern || !pattern->cells) return nullptr;
    if (module.row < 0 || module.row >= pattern->row_count) return nullptr;
    return pattern->cells + (int64_t)module.row * module.channel_count;
}

int32_t ActiveChannelCount(const Module& module) {
    if (module.channel_count < 0) return 0;
    return module.channel_count > MAX_CHANNELS ? MAX_CHANNELS : module.channel_count;
}

ChannelSound SelectSound(const Module& module, const Channel& channel) {
    if (!module.instruments || channel.instrument >= module.instrument_count)
        return {&EmptyInstrument, &EmptySample};
    const Instrument& instrument = module.instruments[channel.instrument];
    Sample* sample = &EmptySample;
    if (channel.note < KEYMAP_NOTES) {
        uint8_t slot = instrument.keymap[channel.note];
        if (slot < MAX_INSTRUMENT_SAMPLES && instrument.samples[slot]) sample = instrument.samples[slot];
    }
    return {&instrument, sample};
}

// --- Note pitch ----------------------------------------------------------------

int32_t TransposeNote(uint8_t cell_note, int8_t relative_note) {
    int32_t note = (int32_t)cell_note - 1 + relative_note;
    if (note < 0) return 0;
    return note > MAX_TRANSPOSED_NOTE ? MAX_TRANSPOSED_NOTE : note;
}

int32_t LinearNotePeriod(int32_t transposed_note, int8_t finetune) {
    // The finetune halving truncates toward zero: -3 gives -1, -1 gives 0.
    return LINEAR_PERIOD_BASE - PERIODS_PER_SEMITONE * transposed_note - finetune / 2;
}

int32_t AmigaNotePeriod(int32_t transposed_note, int8_t finetune) {
    int32_t linear = LinearNotePeriod(transposed_note, finetune);
    return (int32_t)floor(1712.0 * pow(2.0, (double)(linear - 4608) / 768.0) + 0.5);
}

static int32_t NotePeriod(const Module& module, int32_t transposed_note, int8_t finetune) {
    if (module.flags & MODULE_LINEAR_FREQUENCY) return LinearNotePeriod(transposed_note, finetune);
    return AmigaNotePeriod(transposed_note, finetune);
}

// --- Volume column, row tick -----------------------------------------------------

static void VolumeColumnSetVolume(Channel& channel, uint8_t command) {
    if (command > 0x50) return;  // 0x51..0x5F do nothing
    channel.volume = command - 0x10;
    channel.flags |= CHANNEL_VOLUME;
}

void VolumeSlideDown(Channel& channel, int32_t amount) {
    channel.volume = channel.volume - amount < 0 ? 0 : channel.volume - amount;
    channel.flags |= CHANNEL_VOLUME;
}

void VolumeSlideUp(Channel& channel, int32_t amount) {
    channel.volume = channel.volume + amount > MAX_VOLUME ? MAX_VOLUME : channel.volume + amount;
    channel.flags |= CHANNEL_VOLUME;
}

static void VolumeColumnSetPanning(Channel& channel, int32_t x) {
    channel.pan = x * 16;
    channel.flags |= CHANNEL_PAN;
}

// Panning slides are not clamped here (the voice clamps); they only saturate.
void PanningSlide(Channel& channel, int32_t amount) {
    channel.pan = SaturatingAdd(channel.pan, amount);
    channel.flags |= CHANNEL_PAN;
}

static void VolumeColumnTonePortamento(Channel& channel, int32_t x) {
    if (x != 0) channel.tone_porta_speed = (uint8_t)(x * 16);
    channel.tone_porta_target = channel.note_period;
    channel.flags &= (uint8_t)~CHANNEL_TRIGGER;  // the pitch may jump, the sample does not restart
}

void ApplyVolumeColumn(Channel& channel, uint8_t command) {
    int32_t x = command & 0x0F;
    switch (command >> 4) {
        case 0x1: case 0x2: case 0x3: case 0x4: case 0x5: VolumeColumnSetVolume(channel, command); break;
        case 0x6: case 0x8: VolumeSlideDown(channel, x); break;
        case 0x7: case 0x9: VolumeSlideUp(channel, x); break;
        case 0xC: VolumeColumnSetPanning(channel, x); break;
        case 0xD: PanningSlide(channel, -x); break;
        case 0xE: PanningSlide(channel, x); break;
        case 0xF: VolumeColumnTonePortamento(channel, x); break;
        default: break;  // 0x01..0x0F, 0xAx, 0xBx: nothing
    }
}

// --- Effects, row tick -------------------------------------------------------------

static void RowPortaUp(Channel& channel, uint8_t param) {
    if (param) channel.porta_up_speed = param;
}

static void RowPortaDown(Channel& channel, uint8_t param) {
    if (param) channel.porta_down_speed = param;
}

static void RowTonePortamento(Channel& channel, uint8_t param) {
    if (param) channel.tone_porta_speed = param;
    channel.tone_porta_target = channel.note_period;
    // Neither restart nor pitch change on this tick: the slide starts on the next.
    channel.flags &= (uint8_t)~(CHANNEL_TRIGGER | CHANNEL_FREQ);
}

static void RowSetPanning(Channel& channel, uint8_t param) {
    channel.pan = param;
    channel.flags |= CHANNEL_PAN;
}

static void RowVolumeSlide(Channel& channel, uint8_t param) {
    if (param) channel.volume_slide_param = param;
}

static void RowPatternBreak(Module& module, uint8_t param) {
    // The two nibbles are read as decimal digits.
    int32_t row = (param >> 4) * 10 + (param & 0x0F);
    module.next_row = row > MAX_BREAK_ROW ? 0 : row;
    // A break on the last order goes to the song's start, not to its restart position.
    module.next_order = module.order + 1 >= module.song_length ? 0 : module.order + 1;
}

static void RowSpeedTempo(Module& module, uint8_t param) {
    if (param < BPM_SPEED_THRESHOLD)
        module.speed = param;
    else
        SetBpm(module, param);
}

static void RowMultiRetrigger(Channel& channel, uint8_t param) {
    if (!param) return;
    channel.retrig_volume_code = param >> 4;
    channel.retrig_interval = param & 0x0F;
}

static void ApplyRowEffect(Module& module, Channel& channel, uint8_t effect, uint8_t param) {
    switch (effect) {
        case EFFECT_PORTA_UP: RowPortaUp(channel, param); break;
        case EFFECT_PORTA_DOWN: RowPortaDown(channel, param); break;
        case EFFECT_TONE_PORTA: RowTonePortamento(channel, param); break;
        case EFFECT_SET_PANNING: RowSetPanning(channel, param); break;
        case EFFECT_VOLUME_SLIDE: RowVolumeSlide(channel, param); break;
        case EFFECT_PATTERN_BREAK: RowPatternBreak(module, param); break;
        case EFFECT_SPEED_TEMPO: RowSpeedTempo(module, param); break;
        case EFFECT_MULTI_RETRIGGER: RowMultiRetrigger(channel, param); break;
        default: break;  // key off acts with the key-off note; everything else has no row action
    }
}

// --- The row tick ------------------------------------------------------------------

static void ProcessRowChannel(Module& module, Channel& channel, const PatternCell& cell) {
    bool tone_porta_cell =
        cell.effect == EFFECT_TONE_PORTA || cell.effect == EFFECT_TONE_PORTA_VOLUME_SLIDE;
    bool has_note = IsPlayableNote(cell.note);

    // A tone-portamento cell keeps the channel's instrument and note.
    if (cell.instrument != 0 && !tone_porta_cell) channel.instrument = cell.instrument - 1;
    if (has_note && !tone_porta_cell) channel.note = cell.note - 1;
    // The sound follows instrument and note, which change only here.
    if (cell.instrument != 0 || has_note) channel.sound = SelectSound(module, channel);
    const ChannelSound sound = channel.sound;

    channel.flags = 0;
    if (has_note) {
        channel.transposed_note = (uint8_t)TransposeNote(cell.note, sound.sample->relative_note);
        channel.note_period = NotePeriod(module, channel.transposed_note, sound.sample->finetune);
        if (!tone_porta_cell) channel.period = channel.note_period;
        channel.flags = CHANNEL_TRIGGER;
    }
    channel.period_offset = 0;
    channel.flags |= CHANNEL_FREQ | CHANNEL_VOLUME;

    if (cell.instrument != 0) ResetChannelForSample(channel, *sound.sample);
    if (cell.volume != 0) ApplyVolumeColumn(channel, cell.volume);
    if (cell.note == KEY_OFF_NOTE || cell.effect == EFFECT_KEY_OFF) channel.key_off = 1;

    StepEnvelopesOnRowTick(channel, *sound.instrument);
    ApplyRowEffect(module, channel, cell.effect, cell.param);
    ApplyChannelToVoice(channel, sound.sample, module);
}

void ProcessRow(Module& module) {
    module.next_order = -1;
    module.next_row = -1;

    // A break may name a row the pattern lacks: such a row plays as row 0.
    const Pattern* pattern = CurrentPattern(module);
    if (pattern && (module.row < 0 || module.row >= pattern->row_count)) module.row = 0;

    const PatternCell* cells = CurrentRowCells(module);
    if (!cells || !module.channels) return;
    int32_t count = ActiveChannelCount(module);
    for (int32_t i = 0; i < count; i++) ProcessRowChannel(module, module.channels[i], cells[i]);
}

}  // namespace vinto
