// Voices moved on without mixing: the state MixVoices would leave, for a seek
// and for muted channels. The same runs as the mixer (voice_runs.h); a ramp's
// applied gains are summed as the ramp kernels sum them, and once no ramp is
// left the rest of the call is a position jump.
#include "mixer/mix_kernels.h"
#include "mixer/mixer.h"
#include "mixer/voice_runs.h"

namespace vinto {

namespace {

constexpr double FRACTION_UNIT = 1.0 / 2147483648.0;  // 2^-31, the ramp kernels' scale

// The gains a ramp kernel leaves after frames frames (unscaled): the start
// gains plus one step per frame, added frame after frame in double precision.
// Where no sum rounds that is start + frames x step (RampSumsExact).
void RampEndGains(const Voice& voice, int32_t frames, double end_gains[2]) {
    double gl = RampStartGain(voice.current_left_gain) * FRACTION_UNIT;
    double gr = RampStartGain(voice.current_right_gain) * FRACTION_UNIT;
    const double step_left = voice.left_step * FRACTION_UNIT;
    const double step_right = voice.right_step * FRACTION_UNIT;
#if VINTO_MIX_SIMD_RAMPS
    if (RampSumsExact(gl, gr, step_left, step_right, frames)) {
        gl += frames * step_left;
        gr += frames * step_right;
        frames = 0;
    }
#endif
    for (int32_t k = 0; k < frames; k++) {
        gl += step_left;
        gr += step_right;
    }
    end_gains[0] = gl * 2147483648.0;
    end_gains[1] = gr * 2147483648.0;
}

}  // namespace

void AdvanceVoice(Voice& voice, int32_t frames) {
    if (frames < 1 || !voice.sample || JumpVoiceWithoutRamp(voice, frames)) return;
    const VoiceWalk walk = StartWalk(voice);
    uint64_t position = WalkPosition(voice);
    int32_t left = frames;
    for (;;) {
        VoiceRun run;
        if (!PlanRun(voice, walk, position, left, run)) return;
        if (run.ramp > 0) {
            double end_gains[2];
            RampEndGains(voice, run.frames, end_gains);
            FinishRampRun(voice, end_gains, run);
        }
        position += run.delta * static_cast<uint64_t>(run.frames);
        left -= run.frames;
        if (run.at_boundary && !CrossBoundary(voice, walk, position)) return;
        if (left == 0) break;
        // With the ramp over, the rest of the call only moves the position.
        if (run.ramp > 0 && voice.ramp_frames_left == 0) {
            StoreWalkPosition(voice, walk, position);
            if (JumpVoiceWithoutRamp(voice, left)) return;
        }
    }
    StoreWalkPosition(voice, walk, position);
}

void AdvanceVoices(int32_t frames, int32_t split) {
    if (frames < 1) return;
    for (int32_t i = 0; i < MIXED_VOICE_COUNT; i++) {
        Voice& voice = VoicePool[i];
        // Without a ramp, a call cut in two moves a voice as the whole call does.
        if (!voice.sample || JumpVoiceWithoutRamp(voice, frames)) continue;
        if (split > 0 && split < frames) {
            AdvanceVoice(voice, split);
            AdvanceVoice(voice, frames - split);
        } else {
            AdvanceVoice(voice, frames);
        }
    }
}

}  // namespace vinto
