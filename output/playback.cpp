// Live playback: the waveform output device plays the ring as one endlessly
// looping buffer, and the output thread renders each block again right after
// the device has left it, about one ring length (two seconds) before it is
// heard again.
//
// Sharing: once the device has started, the module's playback fields, the
// channels, the voices and every buffer of `output` belong to the output
// thread. The thread that starts and stops playback touches them again only
// after StopLive has seen the output thread finish. Three byte flags link
// the two threads: stop_requested (set by the stopping thread), rendering and
// thread_finished (set by the output thread).
#include <stdlib.h>

#include "module/file_io.h"
#include "output/output.h"
#include "platform/threads.h"
#include "platform/wave_out.h"

namespace vinto {

namespace {

constexpr DWORD THREAD_PAUSE_MS = 5;   // between two looks at the device position
constexpr DWORD STOP_POLL_MS = 10;     // between two looks at thread_finished
constexpr DWORD LOOP_FOREVER = 0xFFFFFFFF;
constexpr WORD OUTPUT_CHANNELS = 2;
constexpr WORD OUTPUT_BITS = 16;
constexpr uint32_t FRAME_BYTES = 4;    // 16-bit left and right

constexpr DWORD HOLD_POLL_MS = 1;      // between two looks at the hold, either side

HWAVEOUT device = nullptr;       // the open output; null when none
WAVEHDR wave_header = {};        // the whole ring as one looping buffer; lpData null when stopped
HANDLE output_thread = nullptr;  // null when no output thread runs

// Why the last start failed: a constant text, or the device's refusal, put
// into words only when asked for (a program that never asks links no text).
const char* start_failure = "";
MMRESULT device_refusal = MMSYSERR_NOERROR;
char playback_error[160] = "";

// The device counts bytes in 32 bits, which wrap after 4294967296 bytes
// (6 h 46 min); that is no whole number of rings, so the block derived from
// the raw count would jump there. The count is carried on in 64 bits. Both
// belong to the output thread, or to a control while it holds the thread.
uint32_t last_count = 0;
uint64_t played_bytes = 0;

// Asks the device where it plays: the block and the frame within it. A failed
// query, or a device that answers in another unit, gives no position.
bool QueryPlayPosition(HWAVEOUT playing_device, int32_t& block, int32_t& offset) {
    MMTIME position = {};
    position.wType = TIME_BYTES;
    if (waveOutGetPosition(playing_device, &position, sizeof(position)) != MMSYSERR_NOERROR ||
        position.wType != TIME_BYTES)
        return false;
    played_bytes += uint32_t(position.u.cb - last_count);
    last_count = position.u.cb;
    const int32_t frame_in_ring = int32_t((played_bytes / FRAME_BYTES) % uint64_t(output.ring_frames));
    block = frame_in_ring / output.block_frames;
    offset = frame_in_ring - block * output.block_frames;
    return true;
}

// The output thread's body. It lives only here and runs nothing but the device
// position query, RenderBlock (song, replay and mixer code, none of which ever
// stops playback) and Sleep: StopPlayback cannot be reached from it.
DWORD WINAPI OutputThreadProc(void*) {
    output.thread_finished = 0;
    const int32_t block_count = output.ring_frames / output.block_frames;
    HWAVEOUT playing_device = device;
    last_count = 0;
    played_bytes = 0;

    while (!output.stop_requested) {
        // A control owns the playback state until it lets the thread go on.
        if (output.hold == HOLD_REQUESTED) {
            output.hold = HOLDING;
            while (output.hold == HOLDING && !output.stop_requested) Sleep(HOLD_POLL_MS);
            continue;
        }
        int32_t playing_block, offset;
        // Without a position nothing is rendered in this cycle.
        if (QueryPlayPosition(playing_device, playing_block, offset)) {
            // Every block from next_block up to, not including, the one being
            // played, in ring order.
            while (output.next_block != playing_block) {
                output.rendering = 1;
                // sync_index moves on before the block is rendered, so that the
                // record it names is never the one RenderBlock is rewriting.
                const int32_t heard = output.sync_index + 1;
                SetSyncIndex(heard >= block_count ? 0 : heard);
                RenderBlock();
                output.rendering = 0;
            }
            SetHeard(playing_block, offset);
        }
        Sleep(THREAD_PAUSE_MS);
    }
    // The thread's last act; it touches nothing shared after this.
    output.thread_finished = 1;
    return 0;
}

// Ends the output thread, then has the device let go of the ring and closes it.
// StopOutput calls this through output.live before the buffers go.
void StopLive() {
    output.stop_requested = 1;
    // No block is half rendered once this ends...
    while (output.rendering) {
    }
    // ...and none will be once the thread has reported its end.
    if (output_thread) {
        while (!output.thread_finished) Sleep(STOP_POLL_MS);
        output_thread = nullptr;
    }
    if (!device) return;
    waveOutReset(device);
    if (wave_header.lpData) waveOutUnprepareHeader(device, &wave_header, sizeof(wave_header));
    wave_header.dwFlags &= ~WHDR_PREPARED;
    wave_header.lpData = nullptr;
    waveOutClose(device);
    device = nullptr;
}

// A start that could not be completed: release what was made.
bool AbandonStart(const char* reason) {
    start_failure = reason;
    StopOutput();
    return false;
}

bool OutputThreadRuns() { return output_thread != nullptr; }

void HoldOutputThread() {
    if (!output_thread) return;
    output.hold = HOLD_REQUESTED;
    while (output.hold != HOLDING && !output.thread_finished) Sleep(HOLD_POLL_MS);
}

void ReleaseOutputThread() { output.hold = HOLD_NONE; }

bool DevicePlayPosition(int32_t& block, int32_t& offset) {
    return device && output_thread && QueryPlayPosition(device, block, offset);
}

bool PauseDevice(bool pause) {
    if (!device) return false;
    return (pause ? waveOutPause(device) : waveOutRestart(device)) == MMSYSERR_NOERROR;
}

constexpr LivePlayback LIVE_PLAYBACK = {StopLive, OutputThreadRuns, HoldOutputThread, ReleaseOutputThread,
                                        DevicePlayPosition, PauseDevice};

}  // namespace

}  // namespace vinto

using namespace vinto;

bool StartPlayback(Module* module) {
    start_failure = "";
    device_refusal = MMSYSERR_NOERROR;
    if (!module) {
        start_failure = "no module";
        return false;
    }
    output.live = &LIVE_PLAYBACK;
    StopOutput();
    if (!module->from_memory && !FileIoInstalled()) return AbandonStart("no file callbacks installed");

    // Rates and sizes, voices, the module's playback fields, channels,
    // playing_module and the position records.
    if (!ResetPlayback(module)) return AbandonStart("the module cannot be played, or memory ran out");

    WAVEFORMATEX format = {};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = OUTPUT_CHANNELS;
    format.nSamplesPerSec = DWORD(output.mix_rate);
    format.nAvgBytesPerSec = DWORD(output.mix_rate) * FRAME_BYTES;
    format.nBlockAlign = WORD(FRAME_BYTES);
    format.wBitsPerSample = OUTPUT_BITS;
    format.cbSize = 0;
    device_refusal = waveOutOpen(&device, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL);
    if (device_refusal != MMSYSERR_NOERROR) {
        // The reset state and the position records stay until the next
        // StopPlayback; nothing renders and no thread runs.
        device = nullptr;
        return false;
    }

    if (!AllocateRenderBuffers()) return AbandonStart("out of memory");
    wave_header = WAVEHDR{};
    wave_header.lpData = reinterpret_cast<LPSTR>(output.ring);
    wave_header.dwBufferLength = DWORD(output.ring_frames) * FRAME_BYTES;
    wave_header.dwBytesRecorded = 0;
    wave_header.dwUser = 0;
    wave_header.dwFlags = WHDR_BEGINLOOP | WHDR_ENDLOOP;  // first and last buffer of one loop
    wave_header.dwLoops = LOOP_FOREVER;
    waveOutPrepareHeader(device, &wave_header, sizeof(wave_header));

    // Every block once, on this thread, before the first sample is heard.
    if (!PrefillRing()) return AbandonStart("the module cannot be played");

    waveOutWrite(device, &wave_header, sizeof(wave_header));
    output.stop_requested = 0;
    output.hold = HOLD_NONE;
    output.thread_finished = 0;
    output_thread = CreateThread(nullptr, 0, OutputThreadProc, nullptr, 0, nullptr);
    if (!output_thread) {
        // Without its thread the ring would repeat its two seconds for ever.
        output.thread_finished = 1;
        return AbandonStart("cannot start the output thread");
    }
    SetThreadPriority(output_thread, THREAD_PRIORITY_TIME_CRITICAL);
    return true;
}

const char* GetPlaybackError(void) {
    if (device_refusal == MMSYSERR_NOERROR) return start_failure;
    char words[128] = "";
    waveOutGetErrorTextA(device_refusal, words, sizeof(words));
    const char* parts[] = {"no audio output device", *words ? " (" : "", words, *words ? ")" : ""};
    size_t used = 0;
    for (const char* part : parts)
        for (; *part && used + 1 < sizeof(playback_error); part++) playback_error[used++] = *part;
    playback_error[used] = 0;
    return playback_error;
}
