// The variants of ConvertToPcm16's loop: the same 16-bit values from each,
// chosen by the processor at the first conversion (tests may choose).
#pragma once

#include <stdint.h>

namespace vinto {

enum ConvertVariant : int32_t {
    CONVERT_VARIANT_PLAIN = 0,   // one value at a time
    CONVERT_VARIANT_SSE2 = 1,    // eight at a time (every x86 build)
    CONVERT_VARIANT_AVX512 = 2,  // sixteen at a time (x86-64 outside Windows, when the processor has AVX-512)
    CONVERT_VARIANT_COUNT = 3
};

#if defined(__x86_64__) && !defined(_WIN32) && defined(__GNUC__)
#define VINTO_CONVERT_AVX512 1
#endif

// Makes ConvertToPcm16 use the fastest variant up to the one asked for that
// this build and processor have; returns the variant chosen.
int32_t SelectConvertVariant(int32_t variant);

}  // namespace vinto
