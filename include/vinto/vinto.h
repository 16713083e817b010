/* vinto: a tiny, exact XM (Extended Module) player and replay library.
 *
 * The host-facing operations. Usable from C and C++. Counts of audio are in
 * frames (one left and one right value); positions are reported for the block
 * that is being heard. Failure is reported by NULL, false or 0 only.
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

/* File callbacks through which the loader reads a module. */
typedef void* (*FileOpenCallback)(const char* name);            /* NULL on failure */
typedef void (*FileCloseCallback)(void* stream);
typedef uint32_t (*FileReadCallback)(uint8_t* buffer, uint32_t size, void* stream); /* bytes copied */
typedef void (*FileSeekCallback)(void* stream, int32_t offset, uint8_t origin);     /* origin 0 start, 1 current, 2 end */
typedef int32_t (*FileTellCallback)(void* stream);              /* position from the start in bytes */

/* Installs all five callbacks, or clears the whole table when any one is NULL. */
void SetFileIo(FileOpenCallback open, FileCloseCallback close, FileReadCallback read,
               FileSeekCallback seek, FileTellCallback tell);

/* Optional supplier of sample data during loading: fills buffer (zeroed, 2 x length + 16 bytes)
 * with byte_count bytes of plain signed PCM of the given width (8 or 16, little-endian). */
typedef void (*SampleLoader)(uint8_t* buffer, uint32_t byte_count, uint32_t bits,
                             int32_t instrument_index, uint32_t sample_index);

/* Loads the XM module `name` through the file callbacks; sample_loader may be NULL.
 * Returns NULL when the file cannot be opened, is not an XM module or is refused. */
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

/* LoadModule with a replay mode; NULL also for a mode this build does not have. */
Module* LoadModuleInMode(const char* name, SampleLoader sample_loader, int32_t mode);

/* Loads an XM module from size bytes at data, read during the call only (the
 * module keeps no reference to them; at most 2^31 - 1 bytes are read), in a
 * replay mode. The file callbacks are neither needed nor used. NULL as for
 * LoadModuleInMode, and for NULL data. */
Module* LoadModuleFromMemory(const void* data, uint32_t size, int32_t mode);

/* The replay mode a module was loaded in; -1 for NULL. */
int32_t GetModuleMode(const Module* module);

/* Why the last LoadModule returned NULL, as a short constant English text
 * ("cannot open the file", "not an XM module", "too many channels (at most 32)", ...);
 * "" after a successful load. */
const char* GetLoadError(void);

/* What the last successful load had to make up, as a short English text
 * ("file ends at byte 100; the rest plays as silence"); "" when nothing, and
 * after a failed load. Valid until the next load. */
const char* GetLoadWarning(void);

/* Ends the module's own playback or offline rendering, if it is the one
 * playing (anything else plays on), and releases the module. Returns false
 * for a NULL module. */
bool VintoFreeModule(Module* module);
#ifndef _WIN32
bool FreeModule(Module* module);
#endif

/* Plays the module from its start on the default audio output, 44100 Hz 16-bit
 * stereo, until StopPlayback or its FreeModule; ends any earlier playback first.
 * About two seconds are rendered before this returns; from then on an output
 * thread keeps a two-second ring filled. False for a NULL module, when not all
 * file callbacks are installed (except for a module loaded from memory), when
 * the module cannot be played, memory runs out or no output device can be opened. */
bool StartPlayback(Module* module);

/* Why the last StartPlayback returned false, as a short English text
 * ("no audio output device (the device's own words)", "out of memory", ...);
 * "" after a successful start. Valid until the next StartPlayback. */
const char* GetPlaybackError(void);

/* Ends playback or offline rendering in progress and releases the output's
 * buffers and device. The module is only tested for NULL (then false). */
bool StopPlayback(Module* module);

/* Where the song stands at the end of the block being heard (offline: the block
 * last rendered): order index 0..255, row 0..255, song time in milliseconds.
 * 0 when nothing plays or the module is NULL; any non-NULL module reports the
 * playback in progress. */
uint32_t GetPlayOrder(Module* module);
uint32_t GetPlayRow(Module* module);
uint32_t GetPlayTime(Module* module);

/* Offline rendering: the same preparation and the same block rendering as
 * playback, without device or thread, so the frames are bit-for-bit what the
 * device would play. StartRendering ends any playback, resets the song to its
 * start and allocates the buffers; false for a NULL module or one that cannot
 * be played, or when memory runs out. StopPlayback (or the module's FreeModule) ends it. */
bool StartRendering(Module* module);

/* Frames in one block: 884 (20 ms at 44100 Hz, stereo 16-bit). */
int32_t GetBlockFrames(void);

/* Renders the next block and copies its interleaved 16-bit stereo frames (left
 * first) to out; the position queries then report that block. Returns the
 * frames written (GetBlockFrames()), or 0 when no offline rendering is in
 * progress, out is NULL or capacity_frames is smaller than a block. */
int32_t RenderNextBlock(int16_t* out, int32_t capacity_frames);

/* Passes of the song completed so far by rendering: how often the song has
 * left its last order, back to its restart position at the end of the last
 * pattern or to order 0 by a pattern break. Live playback renders about two
 * seconds ahead of what is heard. 0 when nothing plays or the module is NULL. */
uint32_t GetSongLoops(Module* module);

/* Offline: the frame within the block last rendered at which the song first
 * left its last order during that block (the end of a pass), or -1 when it did
 * not, when no offline rendering is in progress or the module is NULL. */
int32_t GetSongLoopFrame(Module* module);

#ifdef __cplusplus
}
#endif

#endif
