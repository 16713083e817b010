/* vinto: a tiny, exact XM (Extended Module) player and replay library.
 *
 * The host-facing operations. Usable from C and C++. Counts of audio are in
 * frames (one left and one right value, 44100 a second); positions are
 * reported for what is being heard. Failure is reported by NULL, false or 0
 * only.
 *
 * Threads: one playback (live or offline) exists at a time. The "controlling
 * thread" is whichever thread loads, starts, controls, stops and frees; the
 * calls marked so must come from one such thread at a time (or be serialised
 * by the host). Live playback renders on an output thread of its own; the
 * calls marked "any thread" may run beside everything, including playback.
 *
 * Windows: kernel32 has a LoadModule of its own and <windows.h> makes
 * FreeModule a macro, so there these two are only VintoLoadModule and
 * VintoFreeModule; this header may then come before or after <windows.h>.
 * Elsewhere both spellings exist. */
#ifndef VINTO_VINTO_H
#define VINTO_VINTO_H

#define VINTO_VERSION_MAJOR 0
#define VINTO_VERSION_MINOR 1
#define VINTO_VERSION_PATCH 0
#define VINTO_VERSION_STRING "0.1.0"

#include <stdint.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* A loaded song; its layout is internal to the engine. */
typedef struct Module Module;

/* File callbacks through which the loader reads a module, called on the
 * thread that loads. */
typedef void* (*FileOpenCallback)(const char* name);            /* NULL on failure */
typedef void (*FileCloseCallback)(void* stream);
typedef uint32_t (*FileReadCallback)(uint8_t* buffer, uint32_t size, void* stream); /* bytes copied */
typedef void (*FileSeekCallback)(void* stream, int32_t offset, uint8_t origin);     /* origin 0 start, 1 current, 2 end */
typedef int32_t (*FileTellCallback)(void* stream);              /* position from the start in bytes */

/* Installs all five callbacks, or clears the whole table when any one is NULL.
 * Controlling thread, not while a module loads or plays. */
void SetFileIo(FileOpenCallback open, FileCloseCallback close, FileReadCallback read,
               FileSeekCallback seek, FileTellCallback tell);

/* Optional supplier of sample data during loading: fills buffer (zeroed, 2 x length + 16 bytes)
 * with byte_count bytes of plain signed PCM of the given width (8 or 16, little-endian).
 * Called on the thread that loads. */
typedef void (*SampleLoader)(uint8_t* buffer, uint32_t byte_count, uint32_t bits,
                             int32_t instrument_index, uint32_t sample_index);

/* Loads the XM module `name` through the file callbacks; sample_loader may be NULL.
 * Returns NULL when the file cannot be opened, is not an XM module or is refused.
 * Controlling thread; another module may play meanwhile. */
Module* VintoLoadModule(const char* name, SampleLoader sample_loader);
#ifndef _WIN32
Module* LoadModule(const char* name, SampleLoader sample_loader);
#endif

/* Replay modes, chosen per module when it is loaded. EXACT (the default) plays
 * the engine's defined subset of XM effects, every output sample defined to the
 * bit; COMPLETE plays every XM effect as FastTracker 2 plays it, and its loader
 * reads the layout the file declares (header sizes, XM versions 1.02 and 1.03,
 * up to 32 samples an instrument). */
#define VINTO_MODE_EXACT 0
#define VINTO_MODE_COMPLETE 1

/* LoadModule with a replay mode; NULL also for a mode this build does not have.
 * Controlling thread; another module may play meanwhile. */
Module* LoadModuleInMode(const char* name, SampleLoader sample_loader, int32_t mode);

/* Loads an XM module from size bytes at data, read during the call only (the
 * module keeps no reference to them; at most 2^31 - 1 bytes are read), in a
 * replay mode. The file callbacks are neither needed nor used. NULL as for
 * LoadModuleInMode, and for NULL data. Controlling thread; another module may
 * play meanwhile. */
Module* LoadModuleFromMemory(const void* data, uint32_t size, int32_t mode);

/* The replay mode a module was loaded in; -1 for NULL. Any thread. */
int32_t GetModuleMode(const Module* module);

/* Why the last LoadModule returned NULL, as a short constant English text
 * ("cannot open the file", "not an XM module", "too many channels (at most 32)", ...);
 * "" after a successful load. Controlling thread. */
const char* GetLoadError(void);

/* What the last successful load had to make up, as a short English text
 * ("file ends at byte 100; the rest plays as silence"); "" when nothing, and
 * after a failed load. Valid until the next load. Controlling thread. */
const char* GetLoadWarning(void);

/* Ends the module's own playback or offline rendering, if it is the one
 * playing (anything else plays on), and releases the module. Returns false
 * for a NULL module. Controlling thread. */
bool VintoFreeModule(Module* module);
#ifndef _WIN32
bool FreeModule(Module* module);
#endif

/* Plays the module from its start on the default audio output, 44100 Hz 16-bit
 * stereo, until StopPlayback or its FreeModule; ends any earlier playback first.
 * About two seconds are rendered before this returns; from then on an output
 * thread keeps a two-second ring filled. False for a NULL module, when not all
 * file callbacks are installed (except for a module loaded from memory), when
 * the module cannot be played, memory runs out or no output device can be
 * opened. The module's controls (volume, mutes, passes) apply from the first
 * frame. Controlling thread. */
bool StartPlayback(Module* module);

/* Why the last StartPlayback returned false, as a short English text
 * ("no audio output device (the device's own words)", "out of memory", ...);
 * "" after a successful start. Valid until the next StartPlayback. Controlling
 * thread. */
const char* GetPlaybackError(void);

/* Ends playback or offline rendering in progress and releases the output's
 * buffers and device. The module is only tested for NULL (then false).
 * Controlling thread, never the output thread. */
bool StopPlayback(Module* module);

/* Where the song stands at the end of the block being heard (offline: the block
 * last rendered): order index 0..255, row 0..255, song time in milliseconds.
 * The song time adds each stretch between two ticks in whole milliseconds,
 * dropping fractions, so it runs a little slow (up to about 5 %); see
 * GetPlayPosition for the exact one. 0 when nothing plays or the module is
 * NULL; any non-NULL module reports the playback in progress. Any thread. */
uint32_t GetPlayOrder(Module* module);
uint32_t GetPlayRow(Module* module);
uint32_t GetPlayTime(Module* module);

/* Offline rendering: the same preparation and the same block rendering as
 * playback, without device or thread, so the frames are bit-for-bit what the
 * device would play. StartRendering ends any playback, resets the song to its
 * start and allocates the buffers; false for a NULL module or one that cannot
 * be played, or when memory runs out. StopPlayback (or the module's FreeModule)
 * ends it. The module's controls apply from the first frame. Controlling thread. */
bool StartRendering(Module* module);

/* Frames in one block: 884 (20 ms at 44100 Hz, stereo 16-bit). Any thread. */
int32_t GetBlockFrames(void);

/* Renders the next block and copies its interleaved 16-bit stereo frames (left
 * first) to out; the position queries then report that block. Returns the
 * frames written: GetBlockFrames(), fewer in the block where the last pass
 * set by SetPassCount ends and in the first block after a seek into the
 * middle of a block, and 0 after the end (HasSongEnded), when no offline
 * rendering is in progress, out is NULL or capacity_frames is smaller than a
 * block (out may be written up to a whole block in any case). Controlling
 * thread. */
int32_t RenderNextBlock(int16_t* out, int32_t capacity_frames);

/* Passes of the song completed so far by rendering: how often the song has
 * left its last order, back to its restart position at the end of the last
 * pattern or to order 0 by a pattern break. Live playback renders about two
 * seconds ahead of what is heard. 0 when nothing plays or the module is NULL.
 * Any thread. */
uint32_t GetSongLoops(Module* module);

/* Offline: the frame within the block last rendered at which the song first
 * left its last order during that block (the end of a pass), or -1 when it did
 * not, when no offline rendering is in progress or the module is NULL.
 * Controlling thread. */
int32_t GetSongLoopFrame(Module* module);

/* ---- Song information, without playing. Any thread, also while the module
 * plays. A NULL module gives "", 0 or false. ---------------------------------- */

/* The song's title as stored (at most 20 bytes, trailing spaces dropped). */
const char* GetSongTitle(const Module* module);
/* Channels 1..32, orders in the song 1..256, patterns, instruments. */
int32_t GetChannelCount(const Module* module);
int32_t GetSongLength(const Module* module);
int32_t GetPatternCount(const Module* module);
int32_t GetInstrumentCount(const Module* module);
/* Name of instrument 0..GetInstrumentCount()-1 (at most 22 bytes, trailing
 * spaces dropped); NULL for another index. */
const char* GetInstrumentName(const Module* module, int32_t instrument);
/* True for linear frequencies, false for Amiga periods. */
bool UsesLinearFrequencies(const Module* module);
/* One pass through the song, from its start to where it wraps back (as
 * RenderNextBlock ends with SetPassCount 1), found by running the sequencer
 * alone on a copy: exact to the frame, a few milliseconds for long songs. 0 when
 * no pass ends within 30 minutes of song (or 2^20 ticks). The milliseconds
 * are whole ones of the frames, rounded down. */
uint64_t GetSongDurationFrames(const Module* module);
uint32_t GetSongDurationMs(const Module* module);

/* ---- The exact position. Any thread. ------------------------------------------ */

/* Frames from the song's start to the frame being heard: live, where the
 * device played when the output thread last looked (every 5 ms); offline, the
 * end of the block last rendered. A seek sets it; it counts on through the
 * song's passes and stays at the end once the last pass has ended. 0 when
 * nothing plays or the module is NULL. The milliseconds are whole ones of it. */
uint64_t GetPlayPosition(Module* module);
uint32_t GetPlayPositionMs(Module* module);
/* True once the last pass set by SetPassCount has played out (live: heard;
 * offline: rendered). False while playing for ever or when nothing plays. */
bool HasSongEnded(Module* module);

/* ---- Controls. Controlling thread. ---------------------------------------------
 * Volume, mutes and passes belong to the module: set before starting they
 * apply from the first frame, set during its playback or rendering they apply
 * from the next block offline; live, the ring's two seconds are rendered again
 * from the third block after the one being heard, so the change is heard 40
 * to 60 ms later (a seek, mute or pass count takes the calling thread some
 * milliseconds: the song runs from its start without mixing). */

/* Passes through the song to play, then silence: live the output plays out
 * what remains and stays silent, offline RenderNextBlock returns the final
 * partial block and 0 afterwards; HasSongEnded tells. 0 (the default) plays
 * for ever. False for a NULL module or a negative count. A song that has ended
 * offline stays ended until a seek. */
bool SetPassCount(Module* module, int32_t passes);
int32_t GetPassCount(const Module* module);

/* Moves the playback or rendering of this module to a song position (frames
 * from its start): what follows is to the bit what an uninterrupted rendering
 * from the start gives there. Offline the next RenderNextBlock begins at that
 * frame (with fewer frames when it lies inside a block); live the song goes
 * on, 40 to 60 ms after what is heard, from the start of the 884-frame block
 * of the song that holds it (at most 20 ms early). The song is run from its
 * start without mixing: well under 50 ms for the end of a long song. A
 * position beyond the end of the last pass ends the song. False when the
 * module is NULL or is not the one playing or rendering. */
bool SeekToFrame(Module* module, uint64_t frame);
/* The same for a time in milliseconds (44.1 frames each, rounded down). */
bool SeekToTime(Module* module, uint32_t ms);
/* The same for the first time the song plays an order index and row (both
 * from 0); false also when it never does within 30 minutes of song. */
bool SeekToOrder(Module* module, int32_t order, int32_t row);

/* Live playback only: pauses the output device, keeping the position, and
 * resumes it; true when already so. False when the module is not the one
 * playing live or the device refuses. IsPlaybackPaused: false also when the
 * module is not the one playing. */
bool PausePlayback(Module* module);
bool ResumePlayback(Module* module);
bool IsPlaybackPaused(Module* module);

/* Master volume 0..1, applied to the mix before the 16-bit conversion; at 1
 * (the default) the output is exactly that of a module never given a volume.
 * False for a NULL module or a volume outside 0..1. GetMasterVolume: 0 for NULL. */
bool SetMasterVolume(Module* module, float volume);
float GetMasterVolume(const Module* module);

/* Mutes or unmutes channel 0..GetChannelCount()-1: its notes go on (so
 * unmuting is seamless) but are not heard. False for a NULL module or another
 * channel. IsChannelMuted: false also for a NULL module or another channel. */
bool SetChannelMuted(Module* module, int32_t channel, bool muted);
bool IsChannelMuted(const Module* module, int32_t channel);

#ifdef __cplusplus
}
#endif

#endif
