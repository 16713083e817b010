// The global voice pool.
#include "mixer/mixer.h"

namespace vinto {

Voice VoicePool[VOICE_COUNT];

void ResetVoicePool() {
    for (int32_t i = 0; i < VOICE_COUNT; i++) {
        VoicePool[i] = Voice{};
        VoicePool[i].index = i;
        VoicePool[i].step_integer = 1;
    }
}

}  // namespace vinto
