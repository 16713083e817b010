// Controls of the playback in progress: seek, pause, master volume, channel
// mute and the number of passes.
//
// Live, the output thread owns the song state; a control holds it between two
// of its cycles, does its work on the calling thread and lets it go on. What
// is already in the ring then follows the control from the third block after
// the one being played (40 to 60 ms ahead): the volume by converting the
// mixed blocks again, everything else by placing the song where that block
// begins (running it from its start block by block without mixing, exactly
// as rendering would leave it there) and rendering the ring again from there.
// Offline the next block simply follows.
#include <stddef.h>

#include "mixer/mixer.h"
#include "output/output.h"

namespace vinto {

namespace {

constexpr uint64_t MS_FRAMES_NUMERATOR = 441, MS_FRAMES_DENOMINATOR = 10;  // 44100 frames a second
// Live, a control rewrites the ring from the third block after the one being
// played: a device may already have fetched what lies closer (SDL takes 1024
// frames at a time, more than a block).
constexpr int32_t BLOCKS_LEFT_AHEAD = 2;
constexpr int32_t MUTE_BITS = 32;  // channels muted_channels has room for

// Live playback's operations, when StartPlayback has installed them.
bool LiveThreadRuns() { return output.live && output.live->running(); }
void HoldOutputThread() {
    if (output.live) output.live->hold();
}
void ReleaseOutputThread() {
    if (output.live) output.live->release();
}
bool DevicePlayPosition(int32_t& block, int32_t& offset) {
    return output.live && output.live->device_position(block, offset);
}
bool PauseDevice(bool pause) { return output.live && output.live->pause_device(pause); }

bool IsPlaying(const Module* module) { return module && module == output.playing_module && RenderReady(); }

// The song, the replay and the voices as rendering leaves them at the start
// of the block that holds frame; returns the frames of that block before it.
int32_t PlaceSong(Module& module, uint64_t frame) {
    ResetSong(module);
    const uint64_t block_frames = uint64_t(output.block_frames);
    AdvanceSongBlocks(frame / block_frames);
    return int32_t(frame % block_frames);
}

// Offline, the position queries report the song where it now stands.
void ReportSongState(const Module& module, uint64_t frame) {
    output.heard_order.store(uint8_t(module.order), std::memory_order_relaxed);
    output.heard_row.store(uint8_t(module.row), std::memory_order_relaxed);
    output.heard_time_ms.store(module.time_ms, std::memory_order_relaxed);
    output.heard_frame.store(output.song_ended ? output.song_frame : frame, std::memory_order_relaxed);
    output.heard_ended.store(output.song_ended, std::memory_order_relaxed);
}

// The block the device plays; the one the queries name when it cannot tell.
int32_t PlayingBlock() {
    int32_t block, offset;
    return DevicePlayPosition(block, offset) ? block : output.sync_index.load();
}

// The first block a control rewrites while block playing is played.
int32_t FirstRewritten(int32_t playing) {
    return (playing + 1 + BLOCKS_LEFT_AHEAD) % (output.ring_frames / output.block_frames);
}

// Live: the ring rendered again from FirstRewritten(playing) up to the block
// being played, the song going on from where it stands; the blocks before it
// keep what they hold. A position query after each block hands it to the
// device (its lock orders the writes before the device's later reads), long
// before the device can reach it.
void RefillRing(int32_t playing) {
    output.next_block = FirstRewritten(playing);
    while (output.next_block != playing) {
        RenderBlock();
        PlayingBlock();
    }
    SetSyncIndex(playing);
}

// Live: the song placed at the start of the first block rewritten, under the
// settings now in force, and the ring rendered again from there. Should the
// device move on meanwhile, the song moves on with it.
void RerenderAhead(Module& module) {
    int32_t playing = PlayingBlock();
    uint64_t start = output.spans[FirstRewritten(playing)].start;
    // Only a block after the song's end starts inside a song block (at the
    // end): the song goes on from the next block start, if at all, rather
    // than play the end's block again.
    if (PlaceSong(module, start) > 0) {
        AdvanceSongBlocks(1);
        start = output.song_frame;
    }
    const int32_t now = PlayingBlock();
    const uint64_t later = output.spans[FirstRewritten(now)].start;
    if (now != playing && later >= start) {
        AdvanceSongBlocks((later - start) / uint64_t(output.block_frames));
        playing = now;
    }
    RefillRing(playing);
}

// Runs a control on the module's playback: with the output thread held when
// one runs, directly otherwise.
template <typename Control>
bool WithPlaybackHeld(Control control) {
    HoldOutputThread();
    const bool done = control();
    ReleaseOutputThread();
    return done;
}

// A setting that changes what renders: live, the ring is rendered again.
template <typename Change>
bool ChangeRendering(Module* module, Change change) {
    InstallControlHooks();
    if (!IsPlaying(module) || !LiveThreadRuns()) {
        change();
        return true;
    }
    return WithPlaybackHeld([&] {
        change();
        RerenderAhead(*module);
        return true;
    });
}

}  // namespace

void InstallControlHooks() {
    static bool installed = false;  // the controlling thread's own
    if (installed) return;
    HoldOutputThread();  // the output thread reads them
    control_hooks.mix_muted = MixVoicesClearedMuted;
    control_hooks.advance_voices = AdvanceVoices;
    control_hooks.convert_scaled = ConvertScaled;
    ReleaseOutputThread();
    installed = true;
}

}  // namespace vinto

using namespace vinto;

bool SeekToFrame(Module* module, uint64_t frame) {
    InstallControlHooks();
    if (!IsPlaying(module)) return false;
    return WithPlaybackHeld([&] {
        const int32_t before = PlaceSong(*module, frame);
        if (LiveThreadRuns()) {
            // From the start of the frame's block, after the block the device
            // plays by now: it may have moved on meanwhile.
            RefillRing(PlayingBlock());
        } else {
            output.skip_frames = before;
            ReportSongState(*module, frame);
        }
        return true;
    });
}

bool SeekToTime(Module* module, uint32_t ms) {
    return SeekToFrame(module, uint64_t(ms) * MS_FRAMES_NUMERATOR / MS_FRAMES_DENOMINATOR);
}

bool SeekToOrder(Module* module, int32_t order, int32_t row) {
    if (!IsPlaying(module)) return false;
    const int64_t frame = FindRowFrame(*module, order, row);
    return frame >= 0 && SeekToFrame(module, uint64_t(frame));
}

bool PausePlayback(Module* module) {
    if (!IsPlaying(module) || !LiveThreadRuns()) return false;
    return WithPlaybackHeld([] {
        if (!output.paused && !PauseDevice(true)) return false;
        output.paused = 1;
        return true;
    });
}

bool ResumePlayback(Module* module) {
    if (!IsPlaying(module) || !LiveThreadRuns()) return false;
    return WithPlaybackHeld([] {
        if (output.paused && !PauseDevice(false)) return false;
        output.paused = 0;
        return true;
    });
}

bool IsPlaybackPaused(Module* module) { return IsPlaying(module) && output.paused; }

bool SetMasterVolume(Module* module, float volume) {
    InstallControlHooks();
    if (!module || !(volume >= 0.0f && volume <= 1.0f)) return false;
    const auto set = [=] {
        module->master_volume = volume;
        module->volume_scaled = volume != 1.0f;  // full volume converts the mix untouched
    };
    if (!IsPlaying(module) || !LiveThreadRuns()) {
        set();
        return true;
    }
    return WithPlaybackHeld([&] {
        set();
        // The mixed blocks still wait in the ring's float stretches.
        const int32_t playing = PlayingBlock();
        const int32_t block_count = output.ring_frames / output.block_frames;
        for (int32_t block = FirstRewritten(playing); block != playing; block = (block + 1) % block_count) {
            const size_t first = size_t(block) * size_t(output.block_frames);
            ConvertBlock(output.ring + first * 2, output.mix_buffer + first * 2, output.block_frames, false, *module);
            PlayingBlock();  // hands it to the device, as RefillRing does
        }
        return true;
    });
}

float GetMasterVolume(const Module* module) {
    if (!module) return 0.0f;
    return module->volume_scaled ? module->master_volume : 1.0f;
}

bool SetChannelMuted(Module* module, int32_t channel, bool muted) {
    if (!module || channel < 0 || channel >= module->channel_count || channel >= MUTE_BITS) return false;
    const uint32_t bit = uint32_t(1) << channel;
    return ChangeRendering(module, [=] {
        module->muted_channels = muted ? module->muted_channels | bit : module->muted_channels & ~bit;
    });
}

bool IsChannelMuted(const Module* module, int32_t channel) {
    return module && channel >= 0 && channel < MUTE_BITS && (module->muted_channels >> channel & 1);
}

bool SetPassCount(Module* module, int32_t passes) {
    if (!module || passes < 0) return false;
    return ChangeRendering(module, [=] { module->pass_limit = passes; });
}

int32_t GetPassCount(const Module* module) { return module ? module->pass_limit : 0; }
