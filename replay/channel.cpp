// Channel records, tempo, and the restart of a channel for a new sample.
#include <string.h>

#include "mixer/mixer.h"
#include "output/output.h"
#include "replay/modes.h"
#include "replay/replay.h"

namespace vinto {

Channel channels[MAX_CHANNELS];

int32_t SamplesPerTick(int32_t bpm, int32_t mix_rate) {
    if (bpm < 1) bpm = FALLBACK_BPM;  // no finite tick length otherwise
    // Ticks per second, deliberately rounded to single precision: that rounding
    // decides the result where the exact quotient is whole (126 bpm gives 874).
    float ticks_per_second = (float)((double)bpm * 2.0 / 5.0);
    double ms_per_tick = 1000.0 / (double)ticks_per_second;
    double frames = (double)mix_rate * ms_per_tick;
    frames = frames / 1000.0;
    if (frames < 1.0) return 1;  // a tick must cover at least one frame
    if (frames >= 2147483647.0) return INT32_MAX;
    return (int32_t)frames;
}

void SetBpm(Module& module, int32_t bpm) {
    module.samples_per_tick = SamplesPerTick(bpm, output.mix_rate);
}

void ResetChannelForSample(Channel& channel, const Sample& sample) {
    channel.volume = sample.volume;
    channel.pan = (int32_t)sample.pan;
    // fixed_value is left alone on purpose: an envelope whose first point lies
    // after tick 0 shows the value left from before until it gets there.
    channel.volume_env.value = ENVELOPE_FULL_VOLUME;
    channel.volume_env.point = 0;
    channel.volume_env.tick = 0;
    channel.volume_env.step = 0;
    channel.volume_env.finished = 0;
    channel.pan_env.value = ENVELOPE_CENTRE_PAN;
    channel.pan_env.point = 0;
    channel.pan_env.tick = 0;
    channel.pan_env.step = 0;
    channel.pan_env.finished = 0;
    channel.key_off = 0;
    channel.fade_volume = FADE_FULL;
    channel.flags |= CHANNEL_VOLUME | CHANNEL_PAN;
}

void ResetExactChannels(Module& module, const ReplayTables& tables, bool link_voices) {
    module.channels = tables.channels;
    if (!tables.channels) return;
    for (int32_t i = 0; i < module.channel_count; i++) {
        Channel& channel = tables.channels[i];
        memset(&channel, 0, sizeof(Channel));
        channel.voice = link_voices ? &VoicePool[i] : nullptr;
        channel.sound = SelectSound(module, channel);
    }
}

bool ResetReplayState(Module& module, const ReplayTables& tables, bool link_voices) {
    const ReplayMode* mode = FindReplayMode(module.mode);
    if (!mode || module.channel_count > MAX_CHANNELS) return false;
    module.global_volume = module.default_global_volume;
    module.speed = module.default_speed;
    module.row = 0;
    module.order = 0;
    module.next_order = -1;
    module.next_row = -1;
    module.tick_samples_left = 0;
    module.tick = 0;
    module.time_ms = 0;
    SetBpm(module, module.default_bpm);
    module.complete = CompleteSongState{};
    module.complete.jump_order = -1;
    mode->reset_channels(module, tables, link_voices);
    return true;
}

}  // namespace vinto
