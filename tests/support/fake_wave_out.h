// Test double of the wave-output device, linked into a test program as a source
// (so the SDL device never is): the play position is the test's, device calls
// are recorded, and misuse a real device would refuse or play wrongly is flagged.
#pragma once

#include <stdint.h>

#include <string>

#include "platform/wave_out.h"

using namespace vinto;

namespace fake_wave_out {

void Reset();  // forgets everything (no output thread may run): nothing open, position 0
void RefuseOpen(bool refuse);  // while set, waveOutOpen answers MMSYSERR_NODRIVER
// The byte count the device reports (0 on opening); each query first adds
// step_per_query to it. Unanswered queries return MMSYSERR_ERROR.
void SetPosition(uint32_t bytes, uint32_t step_per_query = 0, bool answered = true);
// Waits until a query has seen the latest change (or write) and the output
// thread's pass after it is over; false after two seconds.
bool WaitForPass();
struct Record {
    std::string calls;    // device calls in order: "open prepare write reset unprepare close ", "refused ", "pause restart ", "pause restart "
    std::string misuses;  // what a real device would refuse or play wrongly; empty when none
    bool open;            // a device is open
};
Record Now();

}  // namespace fake_wave_out
