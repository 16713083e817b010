#include "mix_reference.h"

#include <math.h>

#include <algorithm>

namespace reference {
namespace {

void Stop(Voice& v) { v.sample = nullptr, v.position = v.position_fraction = 0; }

void MixVoice(Voice& v, float* out, int32_t frames, int32_t ramp_length, float inverse_ramp_length) {
    const Sample& sample = *v.sample;
    const uint64_t start = uint64_t(sample.loop_start) << 32, end = uint64_t(sample.loop_start + sample.loop_length) << 32;
    for (int32_t n = frames; n > 0;) {
        uint64_t p = uint64_t(v.position) << 32 | v.position_fraction;
        const uint64_t step = uint64_t(v.step_integer) << 32 | v.step_fraction;
        const int64_t whole = int32_t(v.position);
        if (whole < -1 || whole > int64_t(end >> 32)) return Stop(v);  // outside the entries it may read
        const bool forward = v.direction == DIRECTION_FORWARD;
        // 1. Frames to the loop boundary (a zero step counts as a tiny one).
        const int64_t distance = forward ? int64_t(end - p) : int64_t(p - start);
        const uint64_t boundary_step = step ? step : 24932236;
        const uint64_t to_boundary = distance > 0 ? (uint64_t(distance) + boundary_step - 1) / boundary_step : 0;
        int32_t run = to_boundary <= uint64_t(n) ? int32_t(to_boundary) : n;
        bool boundary = to_boundary <= uint64_t(n);
        // 2. The ramp: a running one goes on while its targets stand, any other change plans a new one.
        int32_t ramp = v.ramp_frames_left;
        if (!(ramp > 0 && v.left_gain == v.planned_left_gain && v.right_gain == v.planned_right_gain)) {
            v.planned_left_gain = v.left_gain, v.planned_right_gain = v.right_gain;
            const int64_t dl = int64_t(v.left_gain) - (v.current_left_gain >> 8);
            const int64_t dr = int64_t(v.right_gain) - (v.current_right_gain >> 8);
            v.left_step = dl ? float(double(dl) * GAIN_UNIT * inverse_ramp_length) : 0.0f;
            v.right_step = dr ? float(double(dr) * GAIN_UNIT * inverse_ramp_length) : 0.0f;
            ramp = v.ramp_frames_left = dl || dr ? ramp_length : 0;
        }
        if (ramp > 0 && ramp < run) run = ramp, boundary = false;
        // 3. One frame at a time.
        double gl = float(ramp ? v.current_left_gain * (1.0 / 256) * GAIN_UNIT : v.left_gain * double(GAIN_UNIT));
        double gr = float(ramp ? v.current_right_gain * (1.0 / 256) * GAIN_UNIT : v.right_gain * double(GAIN_UNIT));
        for (int32_t k = 0; k < run; k++, out += 2) {
            const int32_t at = int32_t(uint32_t(p >> 32)), e0 = sample.data[at], e1 = sample.data[at + 1];
            const double s = e0 + (uint32_t(p) >> 1) * (1.0 / 2147483648.0) * (e1 - e0);
            out[0] = float(out[0] + s * gl);
            out[1] = float(out[1] + s * gr);
            if (ramp) gl += v.left_step, gr += v.right_step;
            p = forward ? p + step : p - step;
        }
        n -= run;
        // 4. The end of a ramp's run; a finished ramp lands exactly on its targets.
        if (ramp) {
            v.current_left_gain = int32_t(nearbyint(gl * 255 * 256));
            v.current_right_gain = int32_t(nearbyint(gr * 255 * 256));
            if ((v.ramp_frames_left = ramp - run) == 0) {
                v.left_step = v.right_step = 0.0f;
                v.current_left_gain = v.left_gain * 256, v.current_right_gain = v.right_gain * 256;
            }
        }
        // 5. The boundary: wrap, reflect (again while outside the loop) or stop.
        if (boundary && sample.loop_mode == LOOP_FORWARD && sample.loop_length > 0) {
            v.direction = DIRECTION_FORWARD;
            uint32_t at = uint32_t(p >> 32);
            while (at >= uint64_t(end >> 32)) at -= sample.loop_length;
            p = uint64_t(at) << 32 | uint32_t(p);
        } else if (boundary && sample.loop_mode == LOOP_BIDI && sample.loop_length > 0) {
            bool now_forward = forward, first = true;
            for (;; first = false) {
                if (now_forward && int64_t(p) >= int64_t(end)) {
                    p = 2 * end - p - 1, now_forward = false;
                } else if (!now_forward && (first ? int64_t(p) <= int64_t(start) : int64_t(p) < int64_t(start))) {
                    p = 2 * start - p - 1, now_forward = true;
                } else {
                    break;
                }
            }
            if (!first) v.direction = now_forward ? DIRECTION_FORWARD : DIRECTION_BACKWARD;
        } else if (boundary) {
            return Stop(v);
        }
        v.position = uint32_t(p >> 32), v.position_fraction = uint32_t(p);
    }
}

}  // namespace

void MixVoices(Voice* voices, int32_t count, float* out, int32_t frames, int32_t ramp_length, float inverse_ramp_length) {
    for (int32_t i = 0; i < count && frames > 0; i++)
        if (voices[i].sample) MixVoice(voices[i], out, frames, ramp_length, inverse_ramp_length);
}

OwnedSample::OwnedSample(const std::vector<int16_t>& values, uint8_t loop_mode, uint32_t loop_start, uint32_t loop_length)
    : storage(values.size() + 9, 0) {
    const uint32_t length = uint32_t(values.size());
    std::copy(values.begin(), values.end(), storage.begin() + 1);
    if (loop_mode == LOOP_NONE) loop_start = 0, loop_length = length;
    sample.data = length ? storage.data() + 1 : nullptr;
    sample.length = length, sample.bits = 16, sample.loop_mode = loop_mode;
    sample.loop_start = loop_start, sample.loop_length = loop_length;
    if (length && loop_mode == LOOP_FORWARD) sample.data[loop_start + loop_length] = sample.data[loop_start];
    if (length && loop_mode == LOOP_BIDI) sample.data[loop_start + loop_length] = sample.data[loop_start + loop_length - 1];
}

}  // namespace reference
