// waveOutGetErrorTextA: the words for the wave-output calls' result codes.
#include <string.h>

#include "platform/wave_out.h"

namespace vinto {

namespace {

char open_failure[128] = "";  // the audio system's words at the last failed open

}  // namespace

void RememberOpenFailure(const char* text) {
    strncpy(open_failure, text ? text : "", sizeof(open_failure) - 1);
}

MMRESULT waveOutGetErrorTextA(MMRESULT error, LPSTR text, UINT text_size) {
    if (!text || text_size == 0) return MMSYSERR_INVALPARAM;
    const char* words = error == MMSYSERR_NODRIVER ? open_failure
                        : error == MMSYSERR_NOMEM  ? "out of memory"
                                                   : "the device refused";
    strncpy(text, words, text_size - 1);
    text[text_size - 1] = 0;
    return MMSYSERR_NOERROR;
}

}  // namespace vinto
