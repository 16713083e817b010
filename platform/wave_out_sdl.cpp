// The wave-output calls over SDL2's default audio output.
//
// SDL pulls audio through a callback on its own thread; the device here plays
// the one buffer it was given from that callback: it copies from the buffer at
// its own read position, wraps at the buffer's end while loops remain, and
// counts the bytes it has handed on. That count is the position. Everything
// the callback touches is guarded by SDL's device lock, which SDL holds while
// the callback runs; the position query takes the same lock, which also orders
// the caller's writes into the buffer before the callback's later reads.
#include <SDL.h>
#include <dlfcn.h>
#include <stdlib.h>
#include <string.h>

#include "platform/wave_out.h"

namespace vinto {

struct WaveOutDevice {
    uint32_t magic;                 // DEVICE_MAGIC while open
    SDL_AudioDeviceID sdl_device;   // 0 until SDL has opened it
    uint32_t frame_bytes;           // nBlockAlign
    uint32_t frame_rate;            // nSamplesPerSec
    // Under the device lock:
    WAVEHDR* header;                // the buffer being played; null when none
    uint32_t read_offset;           // bytes into header's data
    uint32_t passes_left;           // passes through the buffer still to play, this one included
    uint64_t bytes_played;          // handed on since the buffer was written; the position
};

namespace {

constexpr uint32_t DEVICE_MAGIC = 0x56574F44;  // "DOWV"
constexpr Uint16 CALLBACK_FRAMES = 1024;      // SDL's buffer: 23 ms at 44100 Hz

bool IsOpen(HWAVEOUT device) { return device && device->magic == DEVICE_MAGIC; }

void IgnoreAlsaMessage(const char*, int, const char*, int, const char*, ...) {}

// ALSA's library prints its own diagnostics when it finds no card; the
// programs say what matters. Only a library SDL has already loaded is touched.
void QuietAlsa() {
    void* alsa = dlopen("libasound.so.2", RTLD_LAZY | RTLD_NOLOAD);
    if (!alsa) return;
    using MessageHandler = void (*)(const char*, int, const char*, int, const char*, ...);
    auto set_handler = reinterpret_cast<int (*)(MessageHandler)>(dlsym(alsa, "snd_lib_error_set_handler"));
    if (set_handler) set_handler(IgnoreAlsaMessage);
    dlclose(alsa);
}

void SDLCALL FillAudio(void* user_data, Uint8* stream, int length) {
    WaveOutDevice* device = static_cast<WaveOutDevice*>(user_data);
    uint32_t wanted = uint32_t(length);
    while (wanted > 0 && device->header) {
        WAVEHDR* header = device->header;
        uint32_t count = header->dwBufferLength - device->read_offset;
        if (count > wanted) count = wanted;
        memcpy(stream, header->lpData + device->read_offset, count);
        stream += count;
        wanted -= count;
        device->read_offset += count;
        device->bytes_played += count;
        if (device->read_offset == header->dwBufferLength) {
            device->read_offset = 0;
            if (--device->passes_left == 0) {
                header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
                device->header = nullptr;
            }
        }
    }
    memset(stream, 0, wanted);  // nothing (more) to play: silence
}

}  // namespace

MMRESULT waveOutOpen(LPHWAVEOUT result, UINT device_id, const WAVEFORMATEX* format,
                     DWORD_PTR callback, DWORD_PTR instance, DWORD flags) {
    if (!result || !format) return MMSYSERR_INVALPARAM;
    *result = nullptr;
    // One device: the default output.
    if (device_id != WAVE_MAPPER && device_id != 0) return MMSYSERR_BADDEVICEID;
    if (flags != CALLBACK_NULL || callback || instance) return MMSYSERR_INVALFLAG;
    if (format->wFormatTag != WAVE_FORMAT_PCM || format->wBitsPerSample != 16 ||
        format->nChannels < 1 || format->nChannels > 2 || format->nSamplesPerSec < 1 ||
        format->nBlockAlign != format->nChannels * 2) {
        return WAVERR_BADFORMAT;
    }

    WaveOutDevice* device = static_cast<WaveOutDevice*>(calloc(1, sizeof(WaveOutDevice)));
    if (!device) return MMSYSERR_NOMEM;
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        RememberOpenFailure(SDL_GetError());
        free(device);
        return MMSYSERR_NODRIVER;
    }
    QuietAlsa();
    SDL_AudioSpec wanted{};
    wanted.freq = int(format->nSamplesPerSec);
    wanted.format = AUDIO_S16LSB;
    wanted.channels = Uint8(format->nChannels);
    wanted.samples = CALLBACK_FRAMES;
    wanted.callback = FillAudio;
    wanted.userdata = device;
    SDL_AudioSpec obtained{};
    // No changes allowed: SDL converts to whatever the hardware takes.
    device->sdl_device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
    if (device->sdl_device == 0) {
        RememberOpenFailure(SDL_GetError());
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        free(device);
        return MMSYSERR_NODRIVER;
    }
    device->frame_bytes = format->nBlockAlign;
    device->frame_rate = format->nSamplesPerSec;
    device->magic = DEVICE_MAGIC;
    // Runs from now on; plays silence until a buffer is written.
    SDL_PauseAudioDevice(device->sdl_device, 0);
    *result = device;
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutPrepareHeader(HWAVEOUT device, LPWAVEHDR header, UINT header_size) {
    if (!IsOpen(device)) return MMSYSERR_INVALHANDLE;
    if (!header || header_size < sizeof(WAVEHDR) || !header->lpData) return MMSYSERR_INVALPARAM;
    header->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutWrite(HWAVEOUT device, LPWAVEHDR header, UINT header_size) {
    if (!IsOpen(device)) return MMSYSERR_INVALHANDLE;
    if (!header || header_size < sizeof(WAVEHDR)) return MMSYSERR_INVALPARAM;
    if (!(header->dwFlags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
    if (header->dwBufferLength == 0 || header->dwBufferLength % device->frame_bytes != 0) {
        return MMSYSERR_INVALPARAM;
    }
    const bool looping = (header->dwFlags & (WHDR_BEGINLOOP | WHDR_ENDLOOP)) ==
                         (WHDR_BEGINLOOP | WHDR_ENDLOOP);
    MMRESULT status = MMSYSERR_NOERROR;
    SDL_LockAudioDevice(device->sdl_device);
    if (device->header) {
        status = WAVERR_STILLPLAYING;  // one buffer at a time: all the playback needs
    } else {
        header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
        device->header = header;
        device->read_offset = 0;
        device->passes_left = looping && header->dwLoops > 0 ? header->dwLoops : 1;
    }
    SDL_UnlockAudioDevice(device->sdl_device);
    return status;
}

MMRESULT waveOutGetPosition(HWAVEOUT device, LPMMTIME time, UINT time_size) {
    if (!IsOpen(device)) return MMSYSERR_INVALHANDLE;
    if (!time || time_size < sizeof(MMTIME)) return MMSYSERR_INVALPARAM;
    SDL_LockAudioDevice(device->sdl_device);
    const uint64_t bytes = device->bytes_played;
    SDL_UnlockAudioDevice(device->sdl_device);
    // 32-bit counts, wrapping as the Windows ones do.
    switch (time->wType) {
        case TIME_SAMPLES:
            time->u.sample = DWORD(bytes / device->frame_bytes);
            break;
        case TIME_MS:
            time->u.ms = DWORD(bytes / device->frame_bytes * 1000 / device->frame_rate);
            break;
        default:  // a type it cannot give: bytes, saying so in wType
            time->wType = TIME_BYTES;
            time->u.cb = DWORD(bytes);
            break;
    }
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutReset(HWAVEOUT device) {
    if (!IsOpen(device)) return MMSYSERR_INVALHANDLE;
    SDL_LockAudioDevice(device->sdl_device);
    if (device->header) {
        device->header->dwFlags = (device->header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
        device->header = nullptr;
    }
    device->read_offset = 0;
    device->bytes_played = 0;
    SDL_UnlockAudioDevice(device->sdl_device);
    return MMSYSERR_NOERROR;
}

// SDL stops calling back while the device is paused, so the position stands still.
MMRESULT waveOutPause(HWAVEOUT device) {
    if (!IsOpen(device)) return MMSYSERR_INVALHANDLE;
    SDL_PauseAudioDevice(device->sdl_device, 1);
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutRestart(HWAVEOUT device) {
    if (!IsOpen(device)) return MMSYSERR_INVALHANDLE;
    SDL_PauseAudioDevice(device->sdl_device, 0);
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutUnprepareHeader(HWAVEOUT device, LPWAVEHDR header, UINT header_size) {
    if (!IsOpen(device)) return MMSYSERR_INVALHANDLE;
    if (!header || header_size < sizeof(WAVEHDR)) return MMSYSERR_INVALPARAM;
    SDL_LockAudioDevice(device->sdl_device);
    const bool queued = device->header == header;
    SDL_UnlockAudioDevice(device->sdl_device);
    if (queued) return WAVERR_STILLPLAYING;
    header->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutClose(HWAVEOUT device) {
    if (!IsOpen(device)) return MMSYSERR_INVALHANDLE;
    SDL_LockAudioDevice(device->sdl_device);
    const bool queued = device->header != nullptr;
    SDL_UnlockAudioDevice(device->sdl_device);
    if (queued) return WAVERR_STILLPLAYING;
    // Waits for SDL's audio thread to end: no callback runs afterwards.
    SDL_CloseAudioDevice(device->sdl_device);
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    device->magic = 0;
    free(device);
    return MMSYSERR_NOERROR;
}

}  // namespace vinto
