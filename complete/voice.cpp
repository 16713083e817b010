// Complete replay: the one place it writes a Voice. Every tick each channel's
// volume, panning and pitch are carried over whole (an unchanged gain starts
// no ramp in the mixer); a note start hands a sounding voice to the twin slot
// to fade out, as the exact replay does.
#include <math.h>
#include <string.h>

#include "complete/complete.h"
#include "mixer/mixer.h"
#include "output/output.h"

namespace vinto {

namespace {

Voice* HandOffToTwin(CompleteChannel& channel, Voice* voice) {
    int32_t twin = voice->index < VOICE_TWIN_OFFSET ? voice->index + VOICE_TWIN_OFFSET : voice->index - VOICE_TWIN_OFFSET;
    if (twin < 0 || twin >= VOICE_COUNT) return voice;
    Voice* copy = &VoicePool[twin];
    *copy = *voice;
    copy->index = twin;
    voice->volume = 0;
    voice->left_gain = 0;
    voice->right_gain = 0;
    voice->released = 1;
    channel.voice = copy;
    return copy;
}

// A start at or past the sample's end plays nothing; for a looping sample the
// loop's end is its end (what lies behind it is never heard).
void StartSample(Voice* voice, Sample* sample, uint32_t position) {
    voice->current_left_gain = 0;
    voice->current_right_gain = 0;
    voice->ramp_frames_left = 0;
    voice->position_fraction = 0;
    voice->direction = DIRECTION_FORWARD;
    uint32_t end = sample->loop_mode == LOOP_NONE ? sample->length : sample->loop_start + sample->loop_length;
    if (position >= end || position >= sample->length) {
        voice->sample = nullptr;
        voice->position = 0;
        return;
    }
    voice->sample = sample;
    voice->position = position;
}

double Frequency(const Module& module, int32_t period) {
    if (period < COMPLETE_PERIOD_MIN) period = COMPLETE_PERIOD_MIN;
    if (module.flags & MODULE_LINEAR_FREQUENCY) return 8363.0 * pow(2.0, (4608 - period) / 768.0);
    return AMIGA_CLOCK / period;
}

// The voice's 32.32 step for a period heard.
uint64_t ComputeStep(const Module& module, int32_t period) {
    double step = Frequency(module, period) / output.mix_rate;
    if (step > 65535.0) step = 65535.0;
    return (uint64_t)(step * 4294967296.0);
}

// The steps of the linear periods up to LINEAR_STEP_PERIODS - 1, each
// computed once when first needed (pow is slow, and every channel asks on
// every tick), plus 1: 0 until computed. For the mix rate step_table_rate.
// Only the thread rendering the song (with voices) reaches it.
constexpr int32_t LINEAR_STEP_PERIODS = 16384;
uint64_t step_table[LINEAR_STEP_PERIODS];
int32_t step_table_rate = 0;

uint64_t Step(const Module& module, int32_t period) {
    if (!(module.flags & MODULE_LINEAR_FREQUENCY) || period >= LINEAR_STEP_PERIODS) return ComputeStep(module, period);
    if (period < COMPLETE_PERIOD_MIN) period = COMPLETE_PERIOD_MIN;  // as Frequency would
    if (step_table_rate != output.mix_rate) {
        memset(step_table, 0, sizeof step_table);
        step_table_rate = output.mix_rate;
    }
    uint64_t& entry = step_table[period];
    if (entry == 0) entry = ComputeStep(module, period) + 1;
    return entry - 1;
}

// The channel's tick carried over to its voice. Out of line, so that a
// channel without a voice (a sequencer run on a copy) pays for none of it.
#if defined(__GNUC__)
__attribute__((noinline))
#endif
void CarryToVoice(const Module& module, CompleteChannel& channel, Voice* voice, bool trigger) {
    if (trigger) {
        if (voice->sample) voice = HandOffToTwin(channel, voice);
        StartSample(voice, channel.sample, channel.start_position);
    }

    const Instrument& instrument = *channel.instrument;
    double envelope = (instrument.volume_envelope_type & ENVELOPE_ON) ? channel.volume_env.value : 64.0 * ENVELOPE_UNIT;
    // The exact replay's scale: 127.5 at full volume, envelope, fade and global volume.
    double volume = channel.out_volume * envelope * channel.fade_volume * module.global_volume * 255.0 /
                    (34359738368.0 * ENVELOPE_UNIT);
    int32_t gain = (int32_t)(volume + 0.5);  // nearest: quiet notes keep a trace of sound

    int32_t pan = channel.pan;
    if (instrument.pan_envelope_type & ENVELOPE_ON) {
        int32_t reach = 128 - (pan < 128 ? 128 - pan : pan - 128);
        pan += (channel.pan_env.value - 32 * ENVELOPE_UNIT) * reach / (32 * ENVELOPE_UNIT);
        pan = pan < 0 ? 0 : pan > 255 ? 255 : pan;
    }
    voice->volume = gain;
    voice->pan = pan;
    voice->left_gain = gain * (255 - pan) / 255;  // panning 0 is the left
    voice->right_gain = gain * pan / 255;

    uint64_t fixed = Step(module, channel.out_period + channel.auto_vibrato_offset);
    voice->step_integer = (uint32_t)(fixed >> 32);
    voice->step_fraction = (uint32_t)fixed;
}

}  // namespace

void UpdateCompleteVoice(const Module& module, CompleteChannel& channel) {
    bool trigger = channel.trigger != 0;
    channel.trigger = 0;
    if (channel.voice) CarryToVoice(module, channel, channel.voice, trigger);
}

}  // namespace vinto
