// The later ticks of a row: slides, portamento, arpeggio and multi retrigger
// from the current row's cells and the channels' remembered parameters.
#include "replay/replay.h"

namespace vinto {

// --- Volume column, later ticks --------------------------------------------------

static void ApplyVolumeColumnLater(Channel& channel, uint8_t command) {
    if (command < 0x60) return;  // nothing below the slides, the commonest case
    int32_t x = command & 0x0F;
    switch (command >> 4) {
        case 0x6: VolumeSlideDown(channel, x); break;
        case 0x7: VolumeSlideUp(channel, x); break;
        case 0xD: PanningSlide(channel, -x); break;
        case 0xE: PanningSlide(channel, x); break;
        case 0xF: StepTonePortamento(channel); break;
        default: break;  // the rest act on the row tick only
    }
}

// --- Effects, later ticks -----------------------------------------------------------

static void TickArpeggio(const Module& module, Channel& channel, uint8_t param, int32_t tick) {
    if (!param) return;
    bool linear = (module.flags & MODULE_LINEAR_FREQUENCY) != 0;
    int32_t phase = tick % 3;
    if (linear && phase == 1) channel.period_offset = (param >> 4) * PERIODS_PER_SEMITONE;
    if (linear && phase == 2) channel.period_offset = (param & 0x0F) * PERIODS_PER_SEMITONE;
    channel.flags |= CHANNEL_FREQ;
}

static void TickPortaUp(Channel& channel) {
    int32_t period = SaturatingAdd(channel.period, -(int64_t)PORTA_UNITS_PER_SPEED * channel.porta_up_speed);
    channel.period = period < PERIOD_MIN ? PERIOD_MIN : period;
    channel.flags |= CHANNEL_FREQ;
}

static void TickPortaDown(Channel& channel) {
    // No upper limit but the integer range: far beyond hearing it simply saturates.
    channel.period = SaturatingAdd(channel.period, (int64_t)PORTA_UNITS_PER_SPEED * channel.porta_down_speed);
    channel.flags |= CHANNEL_FREQ;
}

void StepTonePortamento(Channel& channel) {
    int64_t distance = (int64_t)PORTA_UNITS_PER_SPEED * channel.tone_porta_speed;
    if (channel.period < channel.tone_porta_target) {
        int32_t period = SaturatingAdd(channel.period, distance);
        channel.period = period > channel.tone_porta_target ? channel.tone_porta_target : period;
    } else if (channel.period > channel.tone_porta_target) {
        int32_t period = SaturatingAdd(channel.period, -distance);
        channel.period = period < channel.tone_porta_target ? channel.tone_porta_target : period;
    }
    channel.flags |= CHANNEL_FREQ;
}

static void TickVolumeSlide(Channel& channel) {
    // The remembered parameter, not the cell's: A00 repeats the last slide.
    int32_t up = channel.volume_slide_param >> 4;
    int32_t down = channel.volume_slide_param & 0x0F;
    if (up)
        VolumeSlideUp(channel, up);
    else if (down)
        VolumeSlideDown(channel, down);
    channel.flags |= CHANNEL_VOLUME;
}

int32_t RetriggerVolume(uint8_t code, int32_t volume) {
    int32_t v = volume;
    switch (code & 0x0F) {
        case 0: return volume;
        case 1: v -= 1; break;
        case 2: v -= 2; break;
        case 3: v -= 4; break;
        case 4: v -= 8; break;
        case 5: v -= 16; break;
        case 6: v = 2 * v / 3; break;
        case 7: v = v / 2; break;
        case 8: break;
        case 9: v += 1; break;
        case 10: v += 2; break;
        case 11: v += 4; break;
        case 12: v += 8; break;
        case 13: v += 16; break;
        case 14: v = 3 * v / 2; break;
        case 15: v = 2 * v; break;
    }
    if (v > MAX_VOLUME) v = MAX_VOLUME;
    if (v < 0) v = 0;
    return v;
}

static void TickMultiRetrigger(Channel& channel, int32_t tick) {
    if (!channel.retrig_interval || tick % channel.retrig_interval != 0) return;
    if (channel.retrig_volume_code) {
        channel.volume = RetriggerVolume(channel.retrig_volume_code, channel.volume);
        channel.flags |= CHANNEL_VOLUME;
    }
    channel.flags |= CHANNEL_TRIGGER;
}

static void ApplyTickEffect(const Module& module, Channel& channel, uint8_t effect, uint8_t param) {
    if (!(effect | param)) return;  // an empty cell, the commonest: no jump through the table
    switch (effect) {
        case EFFECT_ARPEGGIO: TickArpeggio(module, channel, param, module.tick); break;
        case EFFECT_PORTA_UP: TickPortaUp(channel); break;
        case EFFECT_PORTA_DOWN: TickPortaDown(channel); break;
        case EFFECT_TONE_PORTA: StepTonePortamento(channel); break;
        case EFFECT_VOLUME_SLIDE: TickVolumeSlide(channel); break;
        case EFFECT_MULTI_RETRIGGER: TickMultiRetrigger(channel, module.tick); break;
        default: break;  // no action between rows
    }
}

// --- The later ticks -------------------------------------------------------------

static void ProcessTickChannel(Module& module, Channel& channel, const PatternCell& cell) {
    const ChannelSound sound = channel.sound;
    channel.period_offset = 0;
    channel.flags = 0;
    StepEnvelopesOnLaterTick(channel, *sound.instrument);
    ApplyVolumeColumnLater(channel, cell.volume);
    ApplyTickEffect(module, channel, cell.effect, cell.param);
    // A tick that changed nothing leaves the voice as it is.
    if (channel.flags) ApplyChannelToVoice(channel, sound.sample, module);
}

void ProcessTickEffects(Module& module) {
    const PatternCell* cells = CurrentRowCells(module);
    if (!cells || !module.channels) return;
    int32_t count = ActiveChannelCount(module);
    for (int32_t i = 0; i < count; i++) ProcessTickChannel(module, module.channels[i], cells[i]);
}

}  // namespace vinto
