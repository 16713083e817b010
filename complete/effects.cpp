// Complete replay, the later ticks of a row (and every tick of a row repeated
// by a pattern delay): the volume column's slides, vibrato and tone
// portamento, and effects 0-7, A, E9, EC, ED, H, K, P, R and T.
#include "complete/complete.h"

namespace vinto {

namespace {

// Half a sine period in 32 steps, 0..255.
constexpr uint8_t VIBRATO_SINE[32] = {0,   24,  49,  74,  97,  120, 141, 161, 180, 197, 212,
                                      224, 235, 244, 250, 253, 255, 253, 250, 244, 235, 224,
                                      212, 197, 180, 161, 141, 120, 97,  74,  49,  24};

// Waveform value 0..255 at a phase for wave type 0 sine, 1 ramp, 2 and 3 square.
// The ramp's direction follows `ramp_phase`: tremolo takes the vibrato's
// phase there, as FastTracker 2 does.
int32_t WaveValue(uint8_t type, uint8_t phase, uint8_t ramp_phase) {
    uint8_t index = (phase >> 2) & 0x1F;
    switch (type & 3) {
        case 0: return VIBRATO_SINE[index];
        case 1: return ramp_phase >= 128 ? (index * 8) ^ 0xFF : index * 8;
        default: return 255;
    }
}

void SlidePeriod(CompleteChannel& channel, int32_t amount) {
    int32_t period = channel.period + amount;
    if (period < COMPLETE_PERIOD_MIN) period = COMPLETE_PERIOD_MIN;
    if (period > COMPLETE_PERIOD_MAX) period = COMPLETE_PERIOD_MAX;
    channel.period = channel.out_period = period;
}

// --- Effects, one small function each -------------------------------------------

void Arpeggio(const Module& module, CompleteChannel& channel) {
    // FastTracker 2 reads its arpeggio table with a tick counter that runs
    // down from the speed, and past 16 entries reads the table behind it.
    int32_t countdown = module.speed - module.tick;
    int32_t step = countdown < 16 ? countdown % 3 : countdown == 16 ? 0 : 2;
    if (step == 0)
        channel.out_period = channel.period;
    else
        channel.out_period = NoteGridPeriod(module, channel, channel.period,
                                            step == 1 ? channel.param >> 4 : channel.param & 0x0F);
}

void PortaUp(CompleteChannel& channel) {
    if (channel.param) channel.porta_up_speed = channel.param;
    SlidePeriod(channel, -4 * channel.porta_up_speed);
}

void PortaDown(CompleteChannel& channel) {
    if (channel.param) channel.porta_down_speed = channel.param;
    SlidePeriod(channel, 4 * channel.porta_down_speed);
}

void TonePortamento(const Module& module, CompleteChannel& channel) {
    if (channel.porta_direction == 0) return;
    if (channel.porta_direction == 2) {
        channel.period -= channel.porta_speed;
        if (channel.period <= channel.porta_target) {
            channel.period = channel.porta_target;
            channel.porta_direction = 1;
        }
    } else {
        channel.period += channel.porta_speed;
        if (channel.period >= channel.porta_target) {
            channel.period = channel.porta_target;
            channel.porta_direction = 1;
        }
    }
    channel.out_period = channel.glissando ? NoteGridPeriod(module, channel, channel.period, 0) : channel.period;
}

void VibratoAtPhase(CompleteChannel& channel) {
    int32_t amount = (WaveValue(channel.wave_control, channel.vibrato_pos, channel.vibrato_pos) *
                      channel.vibrato_depth) >> 5;
    channel.out_period = channel.vibrato_pos >= 128 ? channel.period - amount : channel.period + amount;
}

void Vibrato(CompleteChannel& channel) {
    VibratoAtPhase(channel);
    channel.vibrato_pos = (uint8_t)(channel.vibrato_pos + channel.vibrato_speed);
}

void VibratoEffect(CompleteChannel& channel) {
    SetVibratoParameters(channel);
    Vibrato(channel);
}

void VolumeSlide(CompleteChannel& channel, uint8_t param) {
    if (param) channel.volume_slide = param;
    uint8_t slide = channel.volume_slide;
    if (slide >> 4)
        SetVolume(channel, channel.volume + (slide >> 4));
    else
        SetVolume(channel, channel.volume - (slide & 0x0F));
}

void Tremolo(CompleteChannel& channel) {
    if (channel.param & 0x0F) channel.tremolo_depth = channel.param & 0x0F;
    if (channel.param >> 4) channel.tremolo_speed = (uint8_t)((channel.param >> 4) * 4);
    int32_t amount =
        (WaveValue(channel.wave_control >> 4, channel.tremolo_pos, channel.vibrato_pos) * channel.tremolo_depth) >> 6;
    channel.out_volume = ClampVolume(channel.tremolo_pos >= 128 ? channel.volume - amount : channel.volume + amount);
    channel.tremolo_pos = (uint8_t)(channel.tremolo_pos + channel.tremolo_speed);
}

// E9x: the sample again from its start, envelopes and all, every x ticks.
void Retrigger(const Module& module, CompleteChannel& channel, int32_t x) {
    if (x == 0 || module.tick % x != 0) return;
    RestartSample(channel);
    TriggerInstrument(channel);
}

void NoteCut(const Module& module, CompleteChannel& channel, int32_t x) {
    if (module.tick == x) SetVolume(channel, 0);
}

// EDx: the row's note starts on tick x; without a note the sample starts again.
void NoteDelay(const Module& module, CompleteChannel& channel, int32_t x) {
    if (module.tick != x) return;
    if (channel.cell_note == KEY_OFF_NOTE) {
        KeyOff(channel);
        return;
    }
    if (channel.cell_note >= 1 && channel.cell_note <= KEYMAP_NOTES)
        StartTone(module, channel, channel.cell_note, 0, 0);
    else
        RestartSample(channel);
    if (channel.cell_instrument) ResetVolumes(channel);
    TriggerInstrument(channel);
    ApplyVolumeColumnNoteStart(channel);
}

void LaterExtended(const Module& module, CompleteChannel& channel) {
    int32_t x = channel.param & 0x0F;
    switch (channel.param >> 4) {
        case EX_RETRIGGER: Retrigger(module, channel, x); break;
        case EX_NOTE_CUT: NoteCut(module, channel, x); break;
        case EX_NOTE_DELAY: NoteDelay(module, channel, x); break;
        default: break;  // the rest act on the row tick
    }
}

void GlobalVolumeSlide(Module& module, CompleteChannel& channel) {
    if (channel.param) channel.global_slide = channel.param;
    int32_t volume = module.global_volume;
    if (channel.global_slide >> 4)
        volume += channel.global_slide >> 4;
    else
        volume -= channel.global_slide & 0x0F;
    module.global_volume = ClampVolume(volume);
}

void PanningSlide(CompleteChannel& channel) {
    if (channel.param) channel.pan_slide = channel.param;
    int32_t pan = channel.pan;
    if (channel.pan_slide >> 4)
        pan += channel.pan_slide >> 4;
    else
        pan -= channel.pan_slide & 0x0F;
    channel.pan = pan < 0 ? 0 : pan > 255 ? 255 : pan;
}

int32_t MultiRetriggerVolume(uint8_t code, int32_t v) {
    switch (code) {
        case 1: return v - 1;
        case 2: return v - 2;
        case 3: return v - 4;
        case 4: return v - 8;
        case 5: return v - 16;
        case 6: return (v >> 1) + (v >> 3) + (v >> 4);  // about two thirds, as FastTracker 2 computes it
        case 7: return v >> 1;
        case 9: return v + 1;
        case 10: return v + 2;
        case 11: return v + 4;
        case 12: return v + 8;
        case 13: return v + 16;
        case 14: return v + (v >> 1);
        case 15: return v + v;
        default: return v;
    }
}

}  // namespace

void SetVibratoParameters(CompleteChannel& channel) {
    if (channel.effect != FX_VIBRATO) return;  // 6xy's parameter is the volume slide's
    if (channel.param & 0x0F) channel.vibrato_depth = channel.param & 0x0F;
    if (channel.param >> 4) channel.vibrato_speed = (uint8_t)((channel.param >> 4) * 4);
}

// 4xy and 6xy on the row tick: the pitch at the current phase, which does not move.
void VibratoOnRowTick(CompleteChannel& channel) {
    SetVibratoParameters(channel);
    VibratoAtPhase(channel);
}

// Rxy: every y ticks (counted across rows, row ticks included) the note
// restarts, its volume changed by code x; envelopes go on.
void MultiRetrigger(CompleteChannel& channel) {
    if (channel.param & 0x0F) channel.retrig_interval = channel.param & 0x0F;
    if (channel.param >> 4) channel.retrig_volume = channel.param >> 4;
    if (++channel.retrig_counter < channel.retrig_interval) return;
    channel.retrig_counter = 0;
    SetVolume(channel, MultiRetriggerVolume(channel.retrig_volume, channel.volume));
    ApplyVolumeColumnNoteStart(channel);
    RestartSample(channel);
}

namespace {

// Txy: sound for x + 1 ticks, silence for y + 1, repeating.
void Tremor(CompleteChannel& channel) {
    if (channel.param) channel.tremor_param = channel.param;
    uint8_t on = channel.tremor_pos & 0x80;
    int32_t left = (channel.tremor_pos & 0x7F) - 1;
    if (left < 0) {
        on = on ? 0x00 : 0x80;
        left = on ? channel.tremor_param >> 4 : channel.tremor_param & 0x0F;
    }
    channel.tremor_pos = (uint8_t)(on | left);
    channel.out_volume = on ? channel.volume : 0;
}

// --- Volume column, later ticks ------------------------------------------------------

void LaterVolumeColumn(const Module& module, CompleteChannel& channel) {
    if (channel.volume_command < 0x60) return;  // nothing below the slides, the commonest case
    int32_t x = channel.volume_command & 0x0F;
    switch (channel.volume_command >> 4) {
        case 0x6: SetVolume(channel, channel.volume - x); break;
        case 0x7: SetVolume(channel, channel.volume + x); break;
        case 0xB: Vibrato(channel); break;
        case 0xD: channel.pan = channel.pan - x < 0 ? 0 : channel.pan - x; break;
        case 0xE: channel.pan = channel.pan + x > 255 ? 255 : channel.pan + x; break;
        case 0xF: TonePortamento(module, channel); break;
        default: break;  // the rest act on the row tick
    }
}

}  // namespace

void CompleteLaterChannel(Module& module, CompleteChannel& channel) {
    if (channel.tremolo_ended) {
        channel.tremolo_ended = 0;
        channel.out_volume = channel.volume;
    }
    LaterVolumeColumn(module, channel);
    if (!(channel.effect | channel.param)) return;  // an empty cell: no jump through the table
    switch (channel.effect) {
        case FX_ARPEGGIO: if (channel.param) Arpeggio(module, channel); break;
        case FX_PORTA_UP: PortaUp(channel); break;
        case FX_PORTA_DOWN: PortaDown(channel); break;
        case FX_TONE_PORTA: TonePortamento(module, channel); break;
        case FX_VIBRATO: VibratoEffect(channel); break;
        case FX_TONE_PORTA_SLIDE:
            TonePortamento(module, channel);
            VolumeSlide(channel, channel.param);
            break;
        case FX_VIBRATO_SLIDE:
            Vibrato(channel);
            VolumeSlide(channel, channel.param);
            break;
        case FX_TREMOLO: Tremolo(channel); break;
        case FX_VOLUME_SLIDE: VolumeSlide(channel, channel.param); break;
        case FX_EXTENDED: LaterExtended(module, channel); break;
        case FX_GLOBAL_SLIDE: GlobalVolumeSlide(module, channel); break;
        case FX_KEY_OFF: if (module.tick == channel.param) KeyOff(channel); break;
        case FX_PANNING_SLIDE: PanningSlide(channel); break;
        case FX_MULTI_RETRIGGER: MultiRetrigger(channel); break;
        case FX_TREMOR: Tremor(channel); break;
        default: break;  // the rest act on the row tick only
    }
}

}  // namespace vinto
