// The channel-to-voice update: the only place the replay engine writes a Voice.
#include <math.h>

#include "mixer/mixer.h"
#include "output/output.h"
#include "replay/replay.h"

namespace vinto {

static int32_t DoubleToInt32(double value) {
    // Truncation toward zero, held inside the 32-bit range (NaN gives 0).
    if (!(value > -2147483649.0)) return value != value ? 0 : INT32_MIN;
    if (value >= 2147483648.0) return INT32_MAX;
    return (int32_t)value;
}

static int32_t ComputeLinearFrequency(int64_t numerator) {
    return DoubleToInt32(8363.0 * pow(2.0, (double)numerator / 768.0));
}

// The frequencies of the exponent numerators songs reach (notes, finetunes,
// slides and arpeggios), each computed once when first needed: pow is slow,
// and the row tick asks for every channel's pitch.
constexpr int64_t FREQUENCY_TABLE_FIRST = -4096;  // numerator of entry 0
constexpr uint64_t FREQUENCY_TABLE_SIZE = 10240;
// Hz; 0 until computed (every numerator in range gives at least 207 Hz).
// Only the thread rendering the song (with voices) reaches it.
static int32_t frequency_table[FREQUENCY_TABLE_SIZE];

int32_t LinearFrequency(int32_t period, int32_t period_offset) {
    // A positive offset raises the pitch (it counts against the period).
    int64_t numerator = 4608 - (int64_t)period + period_offset;
    uint64_t index = (uint64_t)(numerator - FREQUENCY_TABLE_FIRST);
    if (index >= FREQUENCY_TABLE_SIZE) return ComputeLinearFrequency(numerator);
    int32_t& frequency = frequency_table[index];
    if (frequency == 0) frequency = ComputeLinearFrequency(numerator);
    return frequency;
}

int32_t AmigaFrequency(int64_t period_sum) {
    if (period_sum == 0) return 0;  // callers skip this case; no division by zero regardless
    return (int32_t)(14317056 / period_sum);
}

static int32_t GainOf(int32_t volume, int64_t pan_share) {
    return (int32_t)((int64_t)volume * pan_share / 255);
}

static int32_t TwinSlot(int32_t index) {
    return index < VOICE_TWIN_OFFSET ? index + VOICE_TWIN_OFFSET : index - VOICE_TWIN_OFFSET;
}

// A sounding voice moves to the twin slot so the old note can fade out on its
// own while the new one fades in.
static Voice* HandOffToTwin(Channel& channel, Voice* voice) {
    int32_t twin = TwinSlot(voice->index);
    if (twin < 0 || twin >= VOICE_COUNT) return voice;  // not a pool slot: start in place
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

static void StartNote(Voice* voice, Sample* sample) {
    voice->sample = sample;
    voice->position = 0;
    voice->position_fraction = 0;
    voice->direction = DIRECTION_FORWARD;
    voice->current_left_gain = 0;
    voice->current_right_gain = 0;
    voice->ramp_frames_left = 0;
}

static void UpdateVolume(const Channel& channel, const Module& module, Voice* voice) {
    // Each product is rounded to single precision exactly where the result
    // depends on it (fade x volume reaches 2^28).
    float volume_by_envelope = (float)channel.volume * (float)channel.volume_env.value;
    float faded = (float)channel.fade_volume * volume_by_envelope;
    double scaled = (double)module.global_volume * (double)faded * 255.0 / 34359738368.0;
    int32_t volume = DoubleToInt32(scaled);
    voice->volume = volume;
    voice->left_gain = GainOf(volume, voice->pan);
    voice->right_gain = GainOf(volume, 255 - (int64_t)voice->pan);
}

static void UpdatePanning(const Channel& channel, Voice* voice) {
    int64_t pan = channel.pan;
    int64_t distance = pan < 128 ? 128 - pan : pan - 128;
    // Quotient first: the envelope's reach is 0..4 units per envelope step.
    int64_t reach = (128 - distance) / 32;
    int64_t p = pan + ((int64_t)channel.pan_env.value - ENVELOPE_CENTRE_PAN) * reach;
    if (p < 0) p = 0;
    if (p > 255) p = 255;
    voice->pan = (int32_t)p;
    voice->left_gain = GainOf(voice->volume, p);
    voice->right_gain = GainOf(voice->volume, 255 - p);
}

static void UpdateStep(const Channel& channel, const Module& module, Voice* voice) {
    int32_t frequency = (module.flags & MODULE_LINEAR_FREQUENCY)
                            ? LinearFrequency(channel.period, channel.period_offset)
                            : AmigaFrequency((int64_t)channel.period + channel.period_offset);
    if (frequency < MIN_FREQUENCY) frequency = MIN_FREQUENCY;
    uint32_t rate = output.mix_rate > 0 ? (uint32_t)output.mix_rate : 1;
    uint32_t hz = (uint32_t)frequency;
    voice->step_integer = hz / rate;
    voice->step_fraction = (uint32_t)(((uint64_t)(hz % rate) << 32) / rate);
}

void ApplyChannelToVoice(Channel& channel, Sample* sample, const Module& module) {
    Voice* voice = channel.voice;
    if ((int64_t)channel.period + channel.period_offset == 0) channel.flags &= (uint8_t)~CHANNEL_FREQ;
    if (!voice) return;

    if (channel.flags & CHANNEL_TRIGGER) {
        if (voice->sample) voice = HandOffToTwin(channel, voice);
        StartNote(voice, sample);
    }
    if (channel.flags & CHANNEL_VOLUME) UpdateVolume(channel, module, voice);
    if (channel.flags & CHANNEL_PAN) UpdatePanning(channel, voice);
    if (channel.flags & CHANNEL_FREQ) UpdateStep(channel, module, voice);
}

}  // namespace vinto
