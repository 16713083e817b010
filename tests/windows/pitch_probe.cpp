// The engine's pitch computations that rest on the C library's pow, over their whole reachable input range, as
// three digests, to compare the Linux build with the Windows build (under Wine, linked like vinto.exe: the very pow
// the player runs):
//   L  LinearFrequency at every exponent step k = 4608 - period + offset from -16384 to 5567 (period 1, offset 960)
//   S  the steps below, down to 4608 - INT32_MAX (portamento down saturates), every 997th: all truncate to 0
//   A  AmigaNotePeriod for every transposed note and finetune
#include <stdint.h>
#include <stdio.h>

#include "replay/replay.h"

#ifdef _WIN32
#include "platform/win32.h"
#endif

using namespace vinto;

namespace {

uint64_t Mix(uint64_t digest, int64_t value) { return (digest ^ uint64_t(value)) * 1099511628211ull; }

int32_t FrequencyAtStep(int64_t k) {  // from a reachable (period, offset) pair
    return k <= 4607 ? LinearFrequency(int32_t(4608 - k), 0) : LinearFrequency(1, int32_t(k - 4607));
}

int RunProbe() {
    uint64_t digests[3] = {14695981039346656037ull, 14695981039346656037ull, 14695981039346656037ull};
    for (int64_t k = -16384; k <= 4607 + 15 * 64; k++) digests[0] = Mix(digests[0], FrequencyAtStep(k));
    for (int64_t k = -16385; k >= 4608 - int64_t(INT32_MAX); k -= 997) digests[1] = Mix(digests[1], FrequencyAtStep(k));
    digests[1] = Mix(digests[1], FrequencyAtStep(4608 - int64_t(INT32_MAX)));
    for (int32_t note = 0; note <= MAX_TRANSPOSED_NOTE; note++)
        for (int32_t finetune = -128; finetune <= 127; finetune++)
            digests[2] = Mix(digests[2], AmigaNotePeriod(note, int8_t(finetune)));
    char text[3 * 19];
    for (int i = 0; i < 3; i++) {  // hexadecimal by hand: the Windows build has no printf formatting of its own
        text[19 * i] = "LSA"[i], text[19 * i + 1] = ' ', text[19 * i + 18] = '\n';
        for (int d = 0; d < 16; d++) text[19 * i + 2 + d] = "0123456789abcdef"[(digests[i] >> (60 - 4 * d)) & 15];
    }
    return fwrite(text, sizeof text, 1, stdout) == 1 && fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

#ifdef _WIN32
extern "C" void WINAPI ProbeEntry() { ExitProcess(UINT(RunProbe())); }
#else
int main() { return RunProbe(); }
#endif
