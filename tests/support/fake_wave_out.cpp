// The wave-output double. Everything is guarded by one mutex, which also gives
// a test that waited for a query a consistent view of what the output thread
// rendered before it.
#include "tests/support/fake_wave_out.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>

#include "output/output.h"

namespace fake_wave_out {
namespace {

using Clock = std::chrono::steady_clock;

struct Device {
    WAVEHDR* queued = nullptr;  // the header written and not reset
};

struct State {
    std::mutex mutex;
    std::condition_variable queried;
    std::map<uintptr_t, Device> devices;  // open devices by handle value
    uintptr_t next_handle = 1;
    bool refuse_open = false;
    bool fail_queries = false;
    uint32_t position = 0;          // bytes, when the clock is stopped; else the clock's base
    uint32_t bytes_per_second = 0;  // 0: position fixed
    Clock::time_point clock_start;
    uint64_t queries = 0;
    uint64_t changed_at = 0;  // queries asked when the position last changed
    std::deque<Query> query_log;
    std::vector<std::string> calls;
    std::vector<std::string> misuses;
    WAVEFORMATEX last_format{};
    UINT last_device_id = 0;
    WAVEHDR last_written{};
};

State& state() {
    static State s;
    return s;
}

uint32_t CurrentPosition(State& s) {
    if (!s.bytes_per_second) return s.position;
    auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - s.clock_start);
    uint64_t bytes = uint64_t(elapsed.count()) * s.bytes_per_second / 1000000;
    return s.position + uint32_t(bytes & ~uint64_t(3));
}

// The device of a handle, or null (recorded as misuse) when it is not open.
Device* Find(State& s, HWAVEOUT handle, const char* call) {
    auto found = s.devices.find(reinterpret_cast<uintptr_t>(handle));
    if (found == s.devices.end()) {
        s.misuses.push_back(std::string(call) + " on a handle that is not open");
        return nullptr;
    }
    return &found->second;
}

}  // namespace

void Reset() {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.devices.clear();
    s.refuse_open = false;
    s.fail_queries = false;
    s.position = 0;
    s.bytes_per_second = 0;
    s.changed_at = s.queries;
    s.query_log.clear();
    s.calls.clear();
    s.misuses.clear();
    s.last_format = WAVEFORMATEX{};
    s.last_device_id = 0;
    s.last_written = WAVEHDR{};
}

void RefuseOpen(bool refuse) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.refuse_open = refuse;
}

void FailPositionQueries(bool fail) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.fail_queries = fail;
    s.changed_at = s.queries;
}

void SetPosition(uint32_t bytes) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.position = bytes;
    s.clock_start = Clock::now();
    s.changed_at = s.queries;
}

void RunClock(uint32_t bytes_per_second) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.position = CurrentPosition(s);
    s.clock_start = Clock::now();
    s.bytes_per_second = bytes_per_second;
    s.changed_at = s.queries;
}

uint64_t Queries() {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.queries;
}

bool WaitForPass() {
    State& s = state();
    std::unique_lock<std::mutex> lock(s.mutex);
    // Query changed_at + 1 is the first to see the change; the pass it starts
    // is over when query changed_at + 2 is asked.
    const uint64_t wanted = s.changed_at + 2;
    return s.queried.wait_for(lock, std::chrono::seconds(2), [&] { return s.queries >= wanted; });
}

std::vector<Query> QueryLog() {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return std::vector<Query>(s.query_log.begin(), s.query_log.end());
}

std::vector<std::string> Calls() {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.calls;
}

std::vector<std::string> Misuses() {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.misuses;
}

int OpenDevices() {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return int(s.devices.size());
}

WAVEFORMATEX LastFormat() {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.last_format;
}

UINT LastDeviceId() {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.last_device_id;
}

WAVEHDR LastWrittenHeader() {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.last_written;
}

}  // namespace fake_wave_out

using namespace fake_wave_out;

MMRESULT waveOutOpen(LPHWAVEOUT result, UINT device_id, const WAVEFORMATEX* format,
                     DWORD_PTR callback, DWORD_PTR instance, DWORD flags) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!result || !format || callback || instance || flags) {
        s.misuses.push_back("open with missing or unexpected arguments");
        return MMSYSERR_INVALPARAM;
    }
    s.last_format = *format;
    s.last_device_id = device_id;
    if (s.refuse_open) {
        s.calls.push_back("open-refused");
        *result = nullptr;
        return MMSYSERR_NODRIVER;
    }
    s.calls.push_back("open");
    s.position = 0;  // a new device counts from 0
    uintptr_t handle = s.next_handle++;
    s.devices[handle] = Device{};
    *result = reinterpret_cast<HWAVEOUT>(handle);
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutPrepareHeader(HWAVEOUT handle, LPWAVEHDR header, UINT header_size) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.calls.push_back("prepare");
    if (!Find(s, handle, "prepare")) return MMSYSERR_INVALHANDLE;
    if (!header || header_size != sizeof(WAVEHDR) || !header->lpData) {
        s.misuses.push_back("prepare of an incomplete header");
        return MMSYSERR_INVALPARAM;
    }
    header->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutWrite(HWAVEOUT handle, LPWAVEHDR header, UINT header_size) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.calls.push_back("write");
    Device* device = Find(s, handle, "write");
    if (!device) return MMSYSERR_INVALHANDLE;
    if (!header || header_size != sizeof(WAVEHDR) || !(header->dwFlags & WHDR_PREPARED)) {
        s.misuses.push_back("write of an unprepared header");
        return WAVERR_UNPREPARED;
    }
    if (device->queued) {
        s.misuses.push_back("write while a header is queued");
        return WAVERR_STILLPLAYING;
    }
    header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    device->queued = header;
    s.last_written = *header;
    // Playing starts now: a new count, and a new output thread to wait for.
    s.clock_start = Clock::now();
    s.changed_at = s.queries;
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutGetPosition(HWAVEOUT handle, LPMMTIME time, UINT time_size) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.queries++;
    s.queried.notify_all();
    Query query{0, output.next_block};  // the output thread asks: its own state
    MMRESULT status = MMSYSERR_NOERROR;
    if (!Find(s, handle, "position query")) {
        status = MMSYSERR_INVALHANDLE;
    } else if (!time || time_size != sizeof(MMTIME) || time->wType != TIME_BYTES) {
        s.misuses.push_back("position query not for TIME_BYTES");
        status = MMSYSERR_INVALPARAM;
    } else if (s.fail_queries) {
        time->u.cb = 0x5EADBEE8;  // whatever a failing device leaves behind
        status = MMSYSERR_ERROR;
    } else {
        time->u.cb = CurrentPosition(s);
        query.bytes = time->u.cb;
    }
    s.query_log.push_back(query);
    if (s.query_log.size() > 4096) s.query_log.pop_front();
    return status;
}

MMRESULT waveOutReset(HWAVEOUT handle) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.calls.push_back("reset");
    Device* device = Find(s, handle, "reset");
    if (!device) return MMSYSERR_INVALHANDLE;
    if (device->queued) {
        device->queued->dwFlags = (device->queued->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
        device->queued = nullptr;
    }
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutUnprepareHeader(HWAVEOUT handle, LPWAVEHDR header, UINT header_size) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.calls.push_back("unprepare");
    Device* device = Find(s, handle, "unprepare");
    if (!device) return MMSYSERR_INVALHANDLE;
    if (!header || header_size != sizeof(WAVEHDR)) {
        s.misuses.push_back("unprepare of a missing header");
        return MMSYSERR_INVALPARAM;
    }
    if (device->queued == header) {
        s.misuses.push_back("unprepare while the header is queued");
        return WAVERR_STILLPLAYING;
    }
    header->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutClose(HWAVEOUT handle) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.calls.push_back("close");
    Device* device = Find(s, handle, "close");
    if (!device) return MMSYSERR_INVALHANDLE;
    if (device->queued) {
        s.misuses.push_back("close while a header is queued");
        return WAVERR_STILLPLAYING;
    }
    s.devices.erase(reinterpret_cast<uintptr_t>(handle));
    return MMSYSERR_NOERROR;
}
