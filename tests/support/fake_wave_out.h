// Test double of the wave-output device: the same waveOut* calls as the real
// one, but the play position is whatever the test sets (or a clock the test
// starts), and every call is recorded and checked for misuse. Link
// fake_wave_out.cpp into a test program as a source: its objects then come
// before the platform library and the SDL device is never linked.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "platform/wave_out.h"

namespace fake_wave_out {

// Forgets every device and record: nothing open, position 0, nothing refused.
void Reset();

// waveOutOpen answers MMSYSERR_NODRIVER while set.
void RefuseOpen(bool refuse);
// waveOutGetPosition answers MMSYSERR_ERROR while set.
void FailPositionQueries(bool fail);
// The byte count the device reports (fixed until set again). Opening a
// device sets it to 0.
void SetPosition(uint32_t bytes);
// The count runs from the moment this is called (or, if called before, from
// the write): bytes_per_second of real time, added to the position set last.
// 0 stops it where it is.
void RunClock(uint32_t bytes_per_second);

// Position queries asked so far (answered or failed).
uint64_t Queries();
// Waits until the position most recently set has been seen by a query and the
// rendering that followed it is complete; false after two seconds.
bool WaitForPass();

struct Query {
    uint32_t bytes;      // count reported (0 for a failed query)
    int32_t next_block;  // output.next_block when the query was asked
};
// The latest queries, oldest first (at most 4096 kept).
std::vector<Query> QueryLog();

// Device calls in order, one word each: "open", "open-refused", "prepare",
// "write", "reset", "unprepare", "close". Position queries are not listed.
std::vector<std::string> Calls();
// Calls the device had to refuse: an unknown or closed handle, a write of an
// unprepared header, unprepare or close while a header is queued, and so on.
std::vector<std::string> Misuses();
// Devices open right now.
int OpenDevices();

// The format of the last open and the header as it was when last written.
WAVEFORMATEX LastFormat();
UINT LastDeviceId();
WAVEHDR LastWrittenHeader();

}  // namespace fake_wave_out
