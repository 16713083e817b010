// The wave-output double: one device at a time, as the playback needs. One mutex
// guards it, and so shows a test that waited for a query what was rendered before.
#include "tests/support/fake_wave_out.h"

#include <string.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "output/output.h"
#include "platform/wave_out.h"

using namespace vinto;

namespace {

struct State {
    uintptr_t device = 0, last_handle = 0;  // the open device's handle (0: none); handles are never reused
    WAVEHDR* queued = nullptr;              // the header written and not yet reset
    bool refuse_open = false, fail_queries = false;
    uint32_t position = 0, step = 0;       // bytes reported last; bytes each query adds first
    uint64_t queries = 0, changed_at = 0;  // position queries asked; and when the position or device last changed
    fake_wave_out::Record record;
} state;
std::mutex mutex;
std::condition_variable queried;
using Lock = std::unique_lock<std::mutex>;

// Records the call, and a misuse when the handle is not the open device's or `misused`.
MMRESULT Call(const char* call, HWAVEOUT handle, bool misused = false) {
    state.record.calls += std::string(call) + " ";
    if (!state.device || reinterpret_cast<uintptr_t>(handle) != state.device || misused)
        state.record.misuses += std::string(call) + " out of turn or not as a device takes it; ";
    return MMSYSERR_NOERROR;
}

}  // namespace

namespace fake_wave_out {

void Reset() { Lock lock(mutex); state = State{}; }
void RefuseOpen(bool refuse) { Lock lock(mutex); state.refuse_open = refuse; }
Record Now() { Lock lock(mutex); return {state.record.calls, state.record.misuses, state.device != 0}; }

void SetPosition(uint32_t bytes, uint32_t step_per_query, bool answered) {
    Lock lock(mutex);
    state.position = bytes, state.step = step_per_query, state.fail_queries = !answered;
    state.changed_at = state.queries;
}

bool WaitForPass() {
    Lock lock(mutex);
    // Query changed_at + 1 sees the change; the pass it starts ends when the next is asked.
    const uint64_t wanted = state.changed_at + 2;
    return queried.wait_for(lock, std::chrono::seconds(2), [=] { return state.queries >= wanted; });
}

}  // namespace fake_wave_out

// The calls the playback makes, in the engine's namespace as the platform layer has them.
namespace vinto {

MMRESULT waveOutOpen(LPHWAVEOUT result, UINT device_id, const WAVEFORMATEX* format, DWORD_PTR callback,
                     DWORD_PTR instance, DWORD flags) {
    Lock lock(mutex);
    // The one output the playback wants: the default device, 44100 Hz 16-bit stereo PCM.
    const WAVEFORMATEX wanted = {WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
    if (state.device || memcmp(format, &wanted, sizeof(wanted)) || device_id != WAVE_MAPPER || callback || instance || flags)
        state.record.misuses += "open while open or with unexpected arguments; ";
    state.record.calls += state.refuse_open ? "refused " : "open ";
    *result = reinterpret_cast<HWAVEOUT>(++state.last_handle);  // of no use when refused
    if (state.refuse_open) return MMSYSERR_NODRIVER;
    state.device = state.last_handle, state.position = 0;  // a new device counts from 0
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutPrepareHeader(HWAVEOUT handle, LPWAVEHDR header, UINT) {
    Lock lock(mutex);
    return header->dwFlags |= WHDR_PREPARED, Call("prepare", handle);
}

MMRESULT waveOutWrite(HWAVEOUT handle, LPWAVEHDR header, UINT) {
    Lock lock(mutex);
    // The playback's one buffer: the whole ring, prepared and filled, looping for ever.
    const bool bad = !(header->dwFlags & WHDR_PREPARED) || state.queued || header->dwLoops != 0xFFFFFFFF ||
                     header->lpData != reinterpret_cast<LPSTR>(output.ring) ||
                     header->dwBufferLength != uint32_t(output.ring_frames) * 4 ||
                     (header->dwFlags & (WHDR_BEGINLOOP | WHDR_ENDLOOP)) != (WHDR_BEGINLOOP | WHDR_ENDLOOP) ||
                     output.sync_entries[output.ring_frames / output.block_frames - 1].time_ms == 0;
    header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    state.queued = header;
    state.changed_at = state.queries;  // playing starts: a new output thread to wait for
    return Call("write", handle, bad);
}

MMRESULT waveOutGetPosition(HWAVEOUT handle, LPMMTIME time, UINT time_size) {
    Lock lock(mutex);
    state.queries++;
    queried.notify_all();
    if (reinterpret_cast<uintptr_t>(handle) != state.device || time_size != sizeof(MMTIME) || time->wType != TIME_BYTES)
        state.record.misuses += "position query of a closed device or not for TIME_BYTES; ";
    time->u.cb = 0x5EADBEE8;  // what a failing device leaves behind
    if (state.fail_queries) return MMSYSERR_ERROR;
    time->u.cb = state.position += state.step;
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutReset(HWAVEOUT handle) {
    Lock lock(mutex);
    const bool released = state.queued && state.queued->lpData != reinterpret_cast<LPSTR>(output.ring);
    if (state.queued) state.queued->dwFlags = (state.queued->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    state.queued = nullptr;
    return Call("reset", handle, released);  // the ring released while played
}

MMRESULT waveOutPause(HWAVEOUT handle) { Lock lock(mutex); return Call("pause", handle); }
MMRESULT waveOutRestart(HWAVEOUT handle) { Lock lock(mutex); return Call("restart", handle); }

MMRESULT waveOutUnprepareHeader(HWAVEOUT handle, LPWAVEHDR header, UINT) {
    Lock lock(mutex);
    return header->dwFlags &= ~WHDR_PREPARED, Call("unprepare", handle, state.queued == header);
}

MMRESULT waveOutClose(HWAVEOUT handle) {
    Lock lock(mutex);
    return Call("close", handle, state.queued), state.device = 0, MMSYSERR_NOERROR;
}

}  // namespace vinto
