// What the plain and SSE2 kernels share: the interpolated value of a frame,
// formed exactly, and the rule that keeps kernels out of line.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace vinto {

constexpr double FRACTION_UNIT = 1.0 / 2147483648.0;  // 2^-31

// The interpolated value e0 + t x (e1 - e0) of the entries around position,
// times 2^31: e0 x 2^31 + (fraction >> 1) x (e1 - e0). The value needs at
// most 48 bits, so it and its conversion are exact, and weighing it with a
// gain times 2^-31 (also exact) rounds exactly as weighing the value itself
// with the gain. One conversion per frame instead of three.
inline double ScaledValue(const int16_t* data, uint64_t position) {
    const ptrdiff_t index = static_cast<int32_t>(static_cast<uint32_t>(position >> 32));
    const int64_t e0 = data[index];
    const int64_t fraction = static_cast<uint32_t>(position) >> 1;
    return static_cast<double>(e0 * 2147483648 + fraction * (data[index + 1] - e0));
}

// The kernels stay out of line and take the gains already rounded to single
// precision as float arguments: GCC 12 drops a rounding to single precision
// that is followed by a widening back to double when its SLP vectoriser
// handles two of them as a pair, and no such pair then exists within one
// function. (The build also keeps that vectoriser off.)
#if defined(__GNUC__)
#define MIX_KERNEL __attribute__((noinline))
#else
#define MIX_KERNEL
#endif

}  // namespace vinto
