// The wave-output double: one device at a time, as the playback needs. One mutex
// guards it, and so shows a test that waited for a query what was rendered before.
#include "tests/support/fake_wave_out.h"

#include <string.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "output/output.h"

using namespace vinto;

namespace {

struct State {
    uintptr_t device = 0;       // the open device's handle; 0 when none
    uintptr_t last_handle = 0;  // handles are never reused
    WAVEHDR* queued = nullptr;  // the header written and not yet reset
    bool refuse_open = false, fail_queries = false;
    uint32_t position = 0, step = 0;  // bytes reported last; bytes each query adds first
    uint64_t queries = 0;             // position queries asked
    uint64_t changed_at = 0;          // queries asked when the position or device last changed
    std::string calls, misuses;
} state;
std::mutex mutex;  // guards state
std::condition_variable queried;

std::unique_lock<std::mutex> Lock() { return std::unique_lock<std::mutex>(mutex); }

void Misuse(const std::string& what) { state.misuses += what + "; "; }

// Records the call; false (misuse) when the handle is not the open device's.
bool Call(const char* call, HWAVEOUT handle) {
    state.calls += std::string(call) + " ";
    if (state.device && reinterpret_cast<uintptr_t>(handle) == state.device) return true;
    Misuse(std::string(call) + " on a handle that is not open");
    return false;
}

}  // namespace

namespace fake_wave_out {

void Reset() {
    auto lock = Lock();
    state = State{};
}

void RefuseOpen(bool refuse) {
    auto lock = Lock();
    state.refuse_open = refuse;
}

void SetPosition(uint32_t bytes, uint32_t step_per_query, bool answered) {
    auto lock = Lock();
    state.position = bytes;
    state.step = step_per_query;
    state.fail_queries = !answered;
    state.changed_at = state.queries;
}

bool WaitForPass() {
    auto lock = Lock();
    // Query changed_at + 1 sees the change; the pass it starts ends when the next is asked.
    const uint64_t wanted = state.changed_at + 2;
    return queried.wait_for(lock, std::chrono::seconds(2), [=] { return state.queries >= wanted; });
}

Record Now() {
    auto lock = Lock();
    return {state.calls, state.misuses, state.device != 0};
}

}  // namespace fake_wave_out

// The calls the playback makes, in the engine's namespace as the platform layer has them.
namespace vinto {

MMRESULT waveOutOpen(LPHWAVEOUT result, UINT device_id, const WAVEFORMATEX* format,
                     DWORD_PTR callback, DWORD_PTR instance, DWORD flags) {
    auto lock = Lock();
    // The one output the playback wants: the default device, 44100 Hz 16-bit stereo PCM.
    const WAVEFORMATEX wanted = {WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
    if (memcmp(format, &wanted, sizeof(wanted)) || device_id != WAVE_MAPPER || callback || instance || flags) {
        Misuse("open with unexpected arguments or format");
    }
    if (state.device) Misuse("open while a device is open");
    state.calls += state.refuse_open ? "refused " : "open ";
    *result = reinterpret_cast<HWAVEOUT>(++state.last_handle);  // of no use when refused
    if (state.refuse_open) return MMSYSERR_NODRIVER;
    state.device = state.last_handle;
    state.position = 0;  // a new device counts from 0
    return MMSYSERR_NOERROR;
}

// Misuse is only recorded: the playback carries on, and the test fails.
MMRESULT waveOutPrepareHeader(HWAVEOUT handle, LPWAVEHDR header, UINT) {
    auto lock = Lock();
    if (Call("prepare", handle)) header->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutWrite(HWAVEOUT handle, LPWAVEHDR header, UINT) {
    auto lock = Lock();
    // The playback's one buffer: the whole ring, prepared and filled, looping for ever.
    const int32_t blocks = output.ring_frames / output.block_frames;
    if (Call("write", handle) &&
        (!(header->dwFlags & WHDR_PREPARED) || state.queued || header->dwLoops != 0xFFFFFFFF ||
         header->lpData != reinterpret_cast<LPSTR>(output.ring) ||
         header->dwBufferLength != uint32_t(output.ring_frames) * 4 ||
         (header->dwFlags & (WHDR_BEGINLOOP | WHDR_ENDLOOP)) != (WHDR_BEGINLOOP | WHDR_ENDLOOP) ||
         output.sync_entries[blocks - 1].time_ms == 0)) {
        Misuse("write of a header that does not loop the whole filled ring");
    }
    header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    state.queued = header;
    state.changed_at = state.queries;  // playing starts: a new output thread to wait for
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutGetPosition(HWAVEOUT handle, LPMMTIME time, UINT time_size) {
    auto lock = Lock();
    state.queries++;
    queried.notify_all();
    if (reinterpret_cast<uintptr_t>(handle) != state.device || time_size != sizeof(MMTIME) ||
        time->wType != TIME_BYTES) {
        Misuse("position query of a closed device or not for TIME_BYTES");
    }
    time->u.cb = 0x5EADBEE8;  // what a failing device leaves behind
    if (state.fail_queries) return MMSYSERR_ERROR;
    state.position += state.step;
    time->u.cb = state.position;
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutReset(HWAVEOUT handle) {
    auto lock = Lock();
    if (Call("reset", handle) && state.queued && state.queued->lpData != reinterpret_cast<LPSTR>(output.ring)) {
        Misuse("ring released while played");
    }
    if (state.queued) state.queued->dwFlags = (state.queued->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    state.queued = nullptr;
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutPause(HWAVEOUT handle) {
    auto lock = Lock();
    Call("pause", handle);
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutRestart(HWAVEOUT handle) {
    auto lock = Lock();
    Call("restart", handle);
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutUnprepareHeader(HWAVEOUT handle, LPWAVEHDR header, UINT) {
    auto lock = Lock();
    if (Call("unprepare", handle) && state.queued == header) Misuse("unprepare while the header is queued");
    header->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutClose(HWAVEOUT handle) {
    auto lock = Lock();
    if (Call("close", handle) && state.queued) Misuse("close while a header is queued");
    state.device = 0;
    return MMSYSERR_NOERROR;
}

}  // namespace vinto
