// Waveform-audio output in its Windows shape. Windows builds use winmm; on
// Linux, wave_out_sdl.cpp offers the same calls over SDL2 (and tests link a
// double with a position they set). Only what the playback relies on exists
// here: one looping buffer, a byte position, pause and restart, reset and close.
#pragma once

#include "platform/win32.h"

#ifndef _WIN32
#include <stddef.h>
#include <stdint.h>

namespace vinto {

typedef uint16_t WORD;
typedef uint8_t BYTE;
typedef uintptr_t DWORD_PTR;
typedef char* LPSTR;
typedef UINT MMRESULT;
typedef struct WaveOutDevice* HWAVEOUT;  // one open output; defined by the implementation
typedef HWAVEOUT* LPHWAVEOUT;

// Result codes.
constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NODRIVER = 6;
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT WAVERR_BADFORMAT = 32;
constexpr MMRESULT WAVERR_STILLPLAYING = 33;
constexpr MMRESULT WAVERR_UNPREPARED = 34;

constexpr UINT WAVE_MAPPER = UINT(-1);  // the default output
constexpr WORD WAVE_FORMAT_PCM = 1;
constexpr DWORD CALLBACK_NULL = 0;

// Buffer header flags.
constexpr DWORD WHDR_DONE = 1;       // the device has given the buffer back
constexpr DWORD WHDR_PREPARED = 2;   // known to the device
constexpr DWORD WHDR_BEGINLOOP = 4;  // first buffer of a loop
constexpr DWORD WHDR_ENDLOOP = 8;    // last buffer of a loop
constexpr DWORD WHDR_INQUEUE = 16;   // written and not yet given back

// Position types.
constexpr UINT TIME_MS = 1;
constexpr UINT TIME_SAMPLES = 2;
constexpr UINT TIME_BYTES = 4;

#pragma pack(push, 1)
struct WAVEFORMATEX {
    WORD wFormatTag;       // WAVE_FORMAT_PCM
    WORD nChannels;        // 1 or 2
    DWORD nSamplesPerSec;  // frames per second
    DWORD nAvgBytesPerSec; // nSamplesPerSec x nBlockAlign
    WORD nBlockAlign;      // bytes per frame
    WORD wBitsPerSample;   // 16
    WORD cbSize;           // extra format bytes: 0
};
#pragma pack(pop)

struct WAVEHDR {
    LPSTR lpData;            // the audio; not owned by the device
    DWORD dwBufferLength;    // bytes
    DWORD dwBytesRecorded;   // input only
    DWORD_PTR dwUser;        // the caller's
    DWORD dwFlags;           // WHDR_*
    DWORD dwLoops;           // times a BEGINLOOP | ENDLOOP buffer is played
    WAVEHDR* lpNext;         // the device's
    DWORD_PTR reserved;      // the device's
};
typedef WAVEHDR* LPWAVEHDR;

struct MMTIME {
    UINT wType;  // TIME_*: asked for; the device may change it to one it can give
    union {
        DWORD ms;
        DWORD sample;  // frames
        DWORD cb;      // bytes, wrapping after 2^32
    } u;
};
typedef MMTIME* LPMMTIME;

MMRESULT waveOutOpen(LPHWAVEOUT device, UINT device_id, const WAVEFORMATEX* format,
                     DWORD_PTR callback, DWORD_PTR instance, DWORD flags);
MMRESULT waveOutPrepareHeader(HWAVEOUT device, LPWAVEHDR header, UINT header_size);
MMRESULT waveOutWrite(HWAVEOUT device, LPWAVEHDR header, UINT header_size);
MMRESULT waveOutGetPosition(HWAVEOUT device, LPMMTIME time, UINT time_size);
MMRESULT waveOutReset(HWAVEOUT device);
// Stops playing where the device stands, keeping the position; waveOutRestart
// goes on from there.
MMRESULT waveOutPause(HWAVEOUT device);
MMRESULT waveOutRestart(HWAVEOUT device);
MMRESULT waveOutUnprepareHeader(HWAVEOUT device, LPWAVEHDR header, UINT header_size);
MMRESULT waveOutClose(HWAVEOUT device);
// The words for a result code; for MMSYSERR_NODRIVER those the audio system
// gave at the last failed open. Apart from the device (wave_out_error.cpp), so
// that a device double need not offer it.
MMRESULT waveOutGetErrorTextA(MMRESULT error, LPSTR text, UINT text_size);

// Keeps the audio system's words about a failed open for waveOutGetErrorTextA.
void RememberOpenFailure(const char* text);
}  // namespace vinto
#endif
