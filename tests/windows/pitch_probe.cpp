// Prints the engine's pitch computations that rest on the C library's pow,
// over their whole reachable input range, so that the Linux build and the
// Windows build (run under Wine) can be compared line by line:
//   L k frequency      LinearFrequency for exponent step k = 4608 - period + offset
//   A note finetune p  AmigaNotePeriod for every transposed note and finetune
//   S first last count nonzero
//                      the exponent steps far below hearing, sampled: how many
//                      were evaluated and how many gave a non-zero frequency
// Periods reach from 1 (the lowest note period) up to INT32_MAX (portamento
// down saturates) and the arpeggio adds 0..960, so k runs from
// 4608 - INT32_MAX to 5567. Below k = -16384 every frequency is far under
// 1 Hz and truncates to 0; that stretch (2^31 values) is sampled, not walked.
//
// On Windows the program is linked like vinto.exe (same libraries, no C
// runtime start-up) so that it runs the very pow the player runs.
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "replay/replay.h"

#ifdef _WIN32
#include "platform/win32.h"
#endif

using namespace vinto;

namespace {

constexpr int64_t HIGHEST_STEP = 4608 - 1 + 15 * 64;  // period 1, arpeggio offset 960
constexpr int64_t LOWEST_STEP = 4608 - int64_t(INT32_MAX);
constexpr int64_t DENSE_FROM = -16384;
constexpr int64_t SAMPLE_STRIDE = 997;

char buffer[2 * 1024 * 1024];
size_t used;

void Put(const char* text) {
    size_t length = strlen(text);
    if (used + length <= sizeof buffer) {
        memcpy(buffer + used, text, length);
        used += length;
    }
}

void PutNumber(int64_t value) {
    char digits[24];
    int count = 0;
    uint64_t magnitude = value < 0 ? uint64_t(0) - uint64_t(value) : uint64_t(value);
    do {
        digits[count++] = char('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude);
    if (value < 0) Put("-");
    char text[24];
    for (int i = 0; i < count; i++) text[i] = digits[count - 1 - i];
    text[count] = 0;
    Put(text);
}

// The same exponent step from a reachable (period, offset) pair.
int32_t FrequencyAtStep(int64_t k) {
    if (k <= 4607) return LinearFrequency(int32_t(4608 - k), 0);
    return LinearFrequency(1, int32_t(k - 4607));
}

int RunProbe() {
    for (int64_t k = DENSE_FROM; k <= HIGHEST_STEP; k++) {
        Put("L ");
        PutNumber(k);
        Put(" ");
        PutNumber(FrequencyAtStep(k));
        Put("\n");
    }
    int64_t count = 0, nonzero = 0;
    for (int64_t k = DENSE_FROM - 1; k >= LOWEST_STEP; k -= SAMPLE_STRIDE) {
        count++;
        nonzero += FrequencyAtStep(k) != 0;
    }
    count++;
    nonzero += FrequencyAtStep(LOWEST_STEP) != 0;
    Put("S ");
    PutNumber(LOWEST_STEP);
    Put(" ");
    PutNumber(DENSE_FROM - 1);
    Put(" ");
    PutNumber(count);
    Put(" ");
    PutNumber(nonzero);
    Put("\n");
    for (int32_t note = 0; note <= MAX_TRANSPOSED_NOTE; note++) {
        for (int32_t finetune = -128; finetune <= 127; finetune++) {
            Put("A ");
            PutNumber(note);
            Put(" ");
            PutNumber(finetune);
            Put(" ");
            PutNumber(AmigaNotePeriod(note, int8_t(finetune)));
            Put("\n");
        }
    }
    return fwrite(buffer, 1, used, stdout) == used && fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

#ifdef _WIN32
extern "C" void WINAPI ProbeEntry() {
    ExitProcess(UINT(RunProbe()));
}
#else
int main() {
    return RunProbe();
}
#endif
