#include "mix_reference.h"

#include <math.h>

namespace reference {
namespace {

void Stop(Voice& v) {
    v.sample = nullptr;
    v.position = 0;
    v.position_fraction = 0;
}

void MixVoice(Voice& v, float* out, int32_t frames, int32_t ramp_length, float inverse_ramp_length) {
    const Sample& smp = *v.sample;
    const int64_t LS = smp.loop_start;
    const int64_t LE = LS + smp.loop_length;
    const uint64_t E = static_cast<uint64_t>(LE) << 32;
    const uint64_t S0 = static_cast<uint64_t>(LS) << 32;
    int32_t n = frames;
    while (n > 0) {
        uint64_t P = (static_cast<uint64_t>(v.position) << 32) | v.position_fraction;
        const uint64_t S = (static_cast<uint64_t>(v.step_integer) << 32) | v.step_fraction;
        const uint64_t S1 = S != 0 ? S : 24932236;
        const int64_t whole = static_cast<int32_t>(v.position);
        if (whole < -1 || whole > LE) {
            Stop(v);
            return;
        }
        const bool forward = v.direction == DIRECTION_FORWARD;

        // 1. frames to the boundary
        const int64_t D = forward ? static_cast<int64_t>(E - P) : static_cast<int64_t>(P - S0);
        uint64_t B = 0;
        if (D > 0) {
            B = static_cast<uint64_t>(D) / S1;
            if (B * S1 != static_cast<uint64_t>(D)) B++;
        }
        int32_t run = n;
        bool boundary = false;
        if (B <= static_cast<uint64_t>(n)) {
            run = static_cast<int32_t>(B);
            boundary = true;
        }

        // 2. ramp planning
        int32_t R;
        if (v.ramp_frames_left > 0 && v.left_gain == v.planned_left_gain && v.right_gain == v.planned_right_gain) {
            R = v.ramp_frames_left;
        } else {
            v.planned_left_gain = v.left_gain;
            v.planned_right_gain = v.right_gain;
            const int64_t dl = static_cast<int64_t>(v.left_gain) - (v.current_left_gain >> 8);
            const int64_t dr = static_cast<int64_t>(v.right_gain) - (v.current_right_gain >> 8);
            v.left_step = 0.0f;
            v.right_step = 0.0f;
            if (dl != 0) v.left_step = static_cast<float>(static_cast<double>(dl) * GAIN_UNIT * inverse_ramp_length);
            if (dr != 0) v.right_step = static_cast<float>(static_cast<double>(dr) * GAIN_UNIT * inverse_ramp_length);
            R = (dl != 0 || dr != 0) ? ramp_length : 0;
            v.ramp_frames_left = R;
        }
        if (R > 0 && R < run) {
            run = R;
            boundary = false;
        }

        // 3. mixing, one frame at a time
        double gl, gr;
        if (R > 0) {
            gl = static_cast<float>(v.current_left_gain * (1.0 / 256) * GAIN_UNIT);
            gr = static_cast<float>(v.current_right_gain * (1.0 / 256) * GAIN_UNIT);
        } else {
            gl = static_cast<float>(v.left_gain * static_cast<double>(GAIN_UNIT));
            gr = static_cast<float>(v.right_gain * static_cast<double>(GAIN_UNIT));
        }
        for (int32_t k = 0; k < run; k++) {
            const int32_t pos = static_cast<int32_t>(static_cast<uint32_t>(P >> 32));
            const int32_t e0 = smp.data[pos];
            const int32_t e1 = smp.data[pos + 1];
            const double t = (static_cast<uint32_t>(P) >> 1) * (1.0 / 2147483648.0);
            const double s = e0 + t * (e1 - e0);
            out[0] = static_cast<float>(out[0] + s * gl);
            out[1] = static_cast<float>(out[1] + s * gr);
            out += 2;
            if (R > 0) {
                gl += v.left_step;
                gr += v.right_step;
            }
            if (forward)
                P += S;
            else
                P -= S;
        }
        n -= run;

        // 4. end of a ramp run
        if (R > 0) {
            v.current_left_gain = static_cast<int32_t>(nearbyint(gl * 255 * 256));
            v.current_right_gain = static_cast<int32_t>(nearbyint(gr * 255 * 256));
            v.ramp_frames_left = R - run;
            if (v.ramp_frames_left == 0) {
                v.left_step = 0.0f;
                v.right_step = 0.0f;
                v.current_left_gain = v.left_gain * 256;
                v.current_right_gain = v.right_gain * 256;
            }
        }

        // 5. boundary handling
        if (boundary) {
            if (smp.loop_mode == LOOP_FORWARD && smp.loop_length > 0) {
                v.direction = DIRECTION_FORWARD;
                uint32_t pos = static_cast<uint32_t>(P >> 32);
                while (pos >= static_cast<uint64_t>(LE)) pos -= smp.loop_length;
                P = (static_cast<uint64_t>(pos) << 32) | static_cast<uint32_t>(P);
            } else if (smp.loop_mode == LOOP_BIDI && smp.loop_length > 0) {
                // Reflect at the boundary reached, then again while outside the
                // loop. A zero step never reaches the boundary.
                bool fwd = forward;
                bool first = true;
                for (;;) {
                    const int64_t p = static_cast<int64_t>(P);
                    if (fwd) {
                        if (p < static_cast<int64_t>(E)) break;
                        P = 2 * E - P - 1;
                        fwd = false;
                    } else {
                        if (first ? p > static_cast<int64_t>(S0) : p >= static_cast<int64_t>(S0)) break;
                        P = 2 * S0 - P - 1;
                        fwd = true;
                    }
                    first = false;
                }
                if (!first) v.direction = fwd ? DIRECTION_FORWARD : DIRECTION_BACKWARD;
            } else {
                Stop(v);
                return;
            }
        }
        v.position = static_cast<uint32_t>(P >> 32);
        v.position_fraction = static_cast<uint32_t>(P);
    }
}

}  // namespace

void MixVoices(Voice* voices, int32_t count, float* out, int32_t frames, int32_t ramp_length,
               float inverse_ramp_length) {
    if (frames < 1) return;
    for (int32_t i = 0; i < count; i++)
        if (voices[i].sample) MixVoice(voices[i], out, frames, ramp_length, inverse_ramp_length);
}

}  // namespace reference

namespace reference {

OwnedSample::OwnedSample(const std::vector<int16_t>& values, uint8_t loop_mode, uint32_t loop_start,
                         uint32_t loop_length)
    : storage(values.size() + 9, 0) {
    const uint32_t length = static_cast<uint32_t>(values.size());
    for (uint32_t i = 0; i < length; i++) storage[i + 1] = values[i];
    sample.data = length > 0 ? storage.data() + 1 : nullptr;
    sample.length = length;
    sample.bits = 16;
    sample.loop_mode = loop_mode;
    if (loop_mode == LOOP_NONE) {
        loop_start = 0;
        loop_length = length;
    }
    sample.loop_start = loop_start;
    sample.loop_length = loop_length;
    if (length == 0) return;
    int16_t* data = sample.data;
    const uint32_t end = loop_start + loop_length;
    if (loop_mode == LOOP_FORWARD) data[end] = data[loop_start];
    if (loop_mode == LOOP_BIDI) data[end] = data[end - 1];
}

}  // namespace reference
