// vinto-render: renders an XM module to a WAV file or to raw 16-bit PCM, the
// way a host uses the library: file callbacks over ordinary files, offline
// rendering block by block, position records per block.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "vinto/vinto.h"

namespace {

constexpr uint32_t MIX_RATE = 44100;
constexpr uint64_t ONCE_THROUGH_CAP_FRAMES = 30ull * 60ull * MIX_RATE;
constexpr uint64_t WAV_HEADER_BYTES = 44;
constexpr uint64_t WAV_MAX_DATA_BYTES = 0xFFFFFFFFull - (WAV_HEADER_BYTES - 8);
constexpr uint64_t MAX_FRAMES = 1ull << 40;  // far beyond any sensible request; keeps sums exact

const char* const USAGE =
    "usage: vinto-render [--mode exact|complete] [--frames N | --seconds S] [--sync FILE.csv]\n"
    "         [--loops N] [--start TIME | --start-order N[:ROW]] [--mute LIST] [--volume V]\n"
    "         INPUT.xm OUTPUT\n"
    "       vinto-render [--mode exact|complete] --info INPUT.xm\n"
    "       vinto-render --help | --version\n";

const char* const HELP =
    "Renders an XM module to 16-bit stereo PCM at 44100 Hz.\n"
    "\n"
    "OUTPUT  a path ending in .wav gets a WAV file; one ending in .raw or .pcm,\n"
    "        or without an extension, raw signed 16-bit little-endian interleaved\n"
    "        stereo (left first); '-' the same raw bytes on standard output. Other\n"
    "        extensions (.mp3, .flac, ...) are refused. OUTPUT is never the input.\n"
    "        A new or existing regular file is written beside its place and\n"
    "        renamed over it at the end; a symbolic link's target is written that\n"
    "        way; a device or FIFO is written in place (a WAV header first, so\n"
    "        without --frames or --seconds the song is rendered twice: once to\n"
    "        count its frames).\n"
    "\n"
    "  --mode M        replay mode: complete (the default) plays every XM effect as\n"
    "                  FastTracker 2 plays it; exact plays the engine's defined\n"
    "                  subset to the bit, as the player program vinto does\n"
    "  --frames N      render whole 884-frame blocks until at least N frames exist\n"
    "                  and write exactly those blocks\n"
    "  --seconds S     the same with N = ceil(S x 44100); S is a decimal number\n"
    "                  (without either, the song is rendered once through: up to\n"
    "                  the frame where it wraps back to its restart position, or\n"
    "                  to order 0 by a pattern break on its last order, at most\n"
    "                  30 minutes)\n"
    "  --sync FILE.csv write one line per rendered block after the header\n"
    "                  'block,order,row,time_ms': the block number from 0 and the\n"
    "                  order, row and song time reached at the end of the block\n"
    "  --loops N       N passes through the song instead of one (N from 1); with\n"
    "                  --frames or --seconds, at most N passes\n"
    "  --start TIME    start at TIME into the song: seconds (95.5) or minutes and\n"
    "                  seconds (1:35.5); the frames are exactly those rendering\n"
    "                  from the start gives there\n"
    "  --start-order N[:ROW]\n"
    "                  start where the song first plays order N, row ROW (both\n"
    "                  from 0, ROW 0 when left out)\n"
    "  --mute LIST     channels not to hear, from 1: for example 1,4-6\n"
    "  --volume V      master volume, a decimal number 0..1 (1, the default,\n"
    "                  leaves every sample as it is)\n"
    "  --info          print the title, channels, orders, patterns, instruments\n"
    "                  with their names, frequency table and the duration of one\n"
    "                  pass; render nothing\n"
    "  --help          show this text\n"
    "  --version       show the version\n"
    "\n"
    "A closing line on standard error tells the frames and seconds rendered, the\n"
    "wall time and how many times faster than real time it ran; a file that ends\n"
    "early gives a warning there. On failure the exit status is 1 (2 for a bad\n"
    "command line) and no OUTPUT file is left (a device or FIFO keeps what it got).\n";

// ---- file callbacks over stdio -------------------------------------------------

int last_open_errno = 0;

void* StdioOpen(const char* name) {
    FILE* file = fopen(name, "rb");
    if (!file) {
        last_open_errno = errno;
        return nullptr;
    }
    // A directory opens on some systems but cannot be read as a file.
    struct stat info;
    if (fstat(fileno(file), &info) == 0 && S_ISDIR(info.st_mode)) {
        fclose(file);
        last_open_errno = EISDIR;
        return nullptr;
    }
    return file;
}
void StdioClose(void* stream) { fclose(static_cast<FILE*>(stream)); }
uint32_t StdioRead(uint8_t* buffer, uint32_t size, void* stream) {
    return uint32_t(fread(buffer, 1, size, static_cast<FILE*>(stream)));
}
void StdioSeek(void* stream, int32_t offset, uint8_t origin) {
    int whence = origin == 1 ? SEEK_CUR : origin == 2 ? SEEK_END : SEEK_SET;
    fseek(static_cast<FILE*>(stream), offset, whence);
}
int32_t StdioTell(void* stream) { return int32_t(ftell(static_cast<FILE*>(stream))); }

// ---- command line -----------------------------------------------------------------

// The controls asked for on the command line.
struct Controls {
    bool info = false;
    int32_t loops = 0;  // passes; 0: not given
    bool have_start = false;
    uint64_t start_frame = 0;                 // --start
    int32_t start_order = -1, start_row = 0;  // --start-order; order -1: not given
    std::vector<int32_t> mute;                // channels counted from 1
    bool have_volume = false;
    float volume = 1.0f;
};

struct Options {
    Controls controls;
    bool have_length = false;
    uint64_t frames = 0;  // frames wanted with --frames or --seconds
    std::string sync_path;
    int32_t mode = VINTO_MODE_COMPLETE;
    std::string input;
    std::string output;
};

bool ParseFrames(const char* text, uint64_t& frames) {
    if (!*text) return false;
    uint64_t value = 0;
    for (const char* p = text; *p; p++) {
        if (*p < '0' || *p > '9') return false;
        value = value * 10 + uint64_t(*p - '0');
        if (value > MAX_FRAMES) return false;
    }
    if (value == 0) return false;
    frames = value;
    return true;
}

// ceil(S x 44100) for a decimal S, exact for any number of digits: the digits
// of S are multiplied by 44100 by hand; what falls behind the point rounds up.
bool ParseSeconds(const char* text, uint64_t& frames, bool allow_zero = false) {
    std::vector<uint32_t> digits;  // all digits of S, most significant first
    size_t fraction_digits = 0;
    bool point = false;
    for (const char* p = text; *p; p++) {
        if (*p == '.' && !point) {
            point = true;
        } else if (*p >= '0' && *p <= '9') {
            digits.push_back(uint32_t(*p - '0'));
            if (point) fraction_digits++;
        } else {
            return false;
        }
    }
    if (digits.empty()) return false;
    uint32_t carry = 0;
    for (size_t k = digits.size(); k-- > 0;) {
        uint32_t product = digits[k] * MIX_RATE + carry;
        digits[k] = product % 10;
        carry = product / 10;
    }
    uint64_t value = carry;  // at most 44099: the digits carried past the front
    const size_t whole_digits = digits.size() - fraction_digits;
    for (size_t k = 0; k < whole_digits; k++) {
        value = value * 10 + digits[k];
        if (value > MAX_FRAMES) return false;
    }
    for (size_t k = whole_digits; k < digits.size(); k++) {
        if (digits[k]) {
            value++;
            break;
        }
    }
    if ((value == 0 && !allow_zero) || value > MAX_FRAMES) return false;
    frames = value;
    return true;
}

// The extension of a path's last component, lower case; "" when it has none.
std::string Extension(const std::string& path) {
    const size_t name = path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1;
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot <= name) return "";
    std::string extension = path.substr(dot + 1);
    for (char& c : extension)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return extension;
}

int UsageError(const char* message, const char* argument) {
    fprintf(stderr, "vinto-render: %s%s%s\n%s", message, argument ? ": " : "",
            argument ? argument : "", USAGE);
    return 2;
}

// ---- controls on the command line ---------------------------------------------

// A whole number 0..limit, digits only.
bool ParseWhole(const char* text, int64_t limit, int64_t& value) {
    value = 0;
    if (!*text) return false;
    for (const char* p = text; *p; p++) {
        if (*p < '0' || *p > '9') return false;
        value = value * 10 + (*p - '0');
        if (value > limit) return false;
    }
    return true;
}

// Seconds, or minutes and seconds M:SS[.fraction], as frames (rounded up).
bool ParseStartTime(const char* text, uint64_t& frames) {
    const char* colon = strchr(text, ':');
    int64_t minutes = 0;
    if (colon) {
        if (!ParseWhole(std::string(text, colon).c_str(), 100000, minutes)) return false;
        text = colon + 1;
    }
    if (!ParseSeconds(text, frames, true)) return false;
    frames += uint64_t(minutes) * 60 * MIX_RATE;
    return frames <= MAX_FRAMES;
}

// N or N:ROW, both from 0.
bool ParseOrderRow(const char* text, int32_t& order, int32_t& row) {
    const char* colon = strchr(text, ':');
    int64_t o = 0, r = 0;
    if (!ParseWhole(colon ? std::string(text, colon).c_str() : text, 255, o)) return false;
    if (colon && !ParseWhole(colon + 1, 255, r)) return false;
    order = int32_t(o);
    row = int32_t(r);
    return true;
}

// Channels from 1, single or as ranges: 1,4-6.
bool ParseChannels(const char* text, std::vector<int32_t>& channels) {
    std::string list = text;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(',', start);
        if (end == std::string::npos) end = list.size();
        const std::string item = list.substr(start, end - start);
        const size_t dash = item.find('-');
        int64_t first = 0, last = 0;
        if (!ParseWhole(item.substr(0, dash).c_str(), 32, first) ||
            !ParseWhole(dash == std::string::npos ? item.c_str() : item.substr(dash + 1).c_str(), 32, last) ||
            first < 1 || last < first)
            return false;
        for (int64_t c = first; c <= last; c++) channels.push_back(int32_t(c));
        start = end + 1;
    }
    return true;
}

// A decimal number 0..1.
bool ParseVolume(const char* text, float& volume) {
    uint64_t scaled;  // volume x 44100, exactly as the seconds are read
    if (!ParseSeconds(text, scaled, true) || scaled > MIX_RATE) return false;
    volume = float(strtod(text, nullptr));
    return true;
}

// Reads the control option argv[i] and its value into controls: 0 when
// argv[i] is none, 1 when read (i moved past the value), 2 for a usage error
// (reported).
int ParseControl(int argc, char** argv, int& i, Controls& controls) {
    const char* arg = argv[i];
    if (!strcmp(arg, "--info")) {
        controls.info = true;
        return 1;
    }
    static const char* const WITH_VALUE[] = {"--loops", "--start", "--start-order", "--mute", "--volume"};
    bool known = false;
    for (const char* name : WITH_VALUE) known = known || !strcmp(arg, name);
    if (!known) return 0;
    if (i + 1 >= argc) return UsageError("missing value after", arg);
    const char* value = argv[++i];
    int64_t loops = 0;
    bool ok;
    if (!strcmp(arg, "--loops")) {
        ok = ParseWhole(value, 1000000, loops) && loops >= 1;
        controls.loops = int32_t(loops);
    } else if (!strcmp(arg, "--start")) {
        ok = !controls.have_start && controls.start_order < 0 && ParseStartTime(value, controls.start_frame);
        controls.have_start = true;
    } else if (!strcmp(arg, "--start-order")) {
        ok = !controls.have_start && controls.start_order < 0 &&
             ParseOrderRow(value, controls.start_order, controls.start_row);
    } else if (!strcmp(arg, "--mute")) {
        ok = ParseChannels(value, controls.mute);
    } else {
        ok = ParseVolume(value, controls.volume);
        controls.have_volume = true;
    }
    if (!ok) {
        fprintf(stderr, "vinto-render: %s: not a valid value for %s (at most one start)\n%s", value, arg, USAGE);
        return 2;
    }
    return 1;
}

// Starts the offline rendering and applies the controls to it; false with
// error set when the song cannot be rendered or cannot follow them.
bool StartWithControls(Module* module, const Options& options, std::string& error) {
    if (!StartRendering(module)) {
        error = "cannot be rendered (unplayable or out of memory)";
        return false;
    }
    const Controls& controls = options.controls;
    // Once through unless a length or a number of passes says otherwise.
    SetPassCount(module, controls.loops ? controls.loops : options.have_length ? 0 : 1);
    for (int32_t channel : controls.mute) {
        if (!SetChannelMuted(module, channel - 1, true)) {
            error = "no channel " + std::to_string(channel) + " (the song has " +
                    std::to_string(GetChannelCount(module)) + ")";
            return false;
        }
    }
    if (controls.have_volume) SetMasterVolume(module, controls.volume);
    if (controls.have_start) SeekToFrame(module, controls.start_frame);
    if (controls.start_order >= 0 && !SeekToOrder(module, controls.start_order, controls.start_row)) {
        error = "order " + std::to_string(controls.start_order) + " row " + std::to_string(controls.start_row) +
                " is never played";
        return false;
    }
    return true;
}

// --info: what the song is, without rendering it.
void PrintInfo(Module* module) {
    const uint64_t frames = GetSongDurationFrames(module);
    const uint32_t ms = GetSongDurationMs(module);
    printf("title        %s\n", GetSongTitle(module));
    printf("channels     %d\norders       %d\npatterns     %d\ninstruments  %d\n", GetChannelCount(module),
           GetSongLength(module), GetPatternCount(module), GetInstrumentCount(module));
    printf("frequencies  %s\n", UsesLinearFrequencies(module) ? "linear" : "Amiga");
    if (frames) {
        printf("duration     %u:%02u.%03u (%llu frames)\n", ms / 60000, ms / 1000 % 60, ms % 1000,
               (unsigned long long)frames);
    } else {
        printf("duration     no end within 30 minutes\n");
    }
    for (int32_t i = 0; i < GetInstrumentCount(module); i++) printf("instrument %3d  %s\n", i + 1, GetInstrumentName(module, i));
}

// Loads INPUT in mode; null with the reason in error when it cannot. A file
// that ends early loads, with a warning on standard error.
Module* LoadInput(const std::string& input, int32_t mode, std::string& error) {
    SetFileIo(StdioOpen, StdioClose, StdioRead, StdioSeek, StdioTell);
    last_open_errno = 0;
    Module* module = LoadModuleInMode(input.c_str(), nullptr, mode);
    if (!module) {
        error = GetLoadError();
        if (error.empty()) error = "cannot load it";
        if (last_open_errno) error += std::string(" (") + strerror(last_open_errno) + ")";
        error = input + ": " + error;
    } else if (*GetLoadWarning()) {
        fprintf(stderr, "vinto-render: %s: warning: %s\n", input.c_str(), GetLoadWarning());
    }
    return module;
}

int Info(const char* input, int32_t mode) {
    std::string error;
    Module* module = LoadInput(input, mode, error);
    if (!module) {
        fprintf(stderr, "vinto-render: %s\n", error.c_str());
        return 1;
    }
    PrintInfo(module);
    FreeModule(module);
    return 0;
}

// ---- output files ----------------------------------------------------------------
//
// OUTPUT and the position file are never the input. A new file, or an existing
// regular file the user may write, is written beside its place and renamed
// over it at the end, keeping an existing file's permissions: a failure leaves
// nothing behind. A symbolic link is followed and its target written that way.
// An existing file that is no regular file (a device, a FIFO) is written in place.

struct OutputFile {
    std::string path;       // where the bytes go: a link's final target; empty for standard output
    std::string temporary;  // name while writing; empty when written in place
    bool exists = false;    // path existed before: info describes it
    struct stat info = {};
    FILE* file = nullptr;
};

bool Fails(std::string& error, int number) {
    error = strerror(number);
    return false;
}

// Follows path through symbolic links to the name that is none (which may not
// exist yet); relative targets are taken from their link's directory.
bool FollowLinks(std::string& path, std::string& error) {
    for (int links = 0; links < 40; links++) {
        struct stat info;
        if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return true;
        char target[PATH_MAX];
        const ssize_t length = readlink(path.c_str(), target, sizeof(target) - 1);
        if (length < 0) return Fails(error, errno);
        target[length] = 0;
        const size_t slash = path.rfind('/');
        path = target[0] == '/' || slash == std::string::npos ? std::string(target)
                                                              : path.substr(0, slash + 1) + target;
    }
    return Fails(error, ELOOP);
}

// Finds where path's bytes would go and refuses what a plain open would refuse.
bool Resolve(OutputFile& out, const std::string& path, std::string& error) {
    out.path = path;
    // Through any links as an open would (/dev/stdout included): a device or
    // FIFO is then written by the name given.
    out.exists = stat(path.c_str(), &out.info) == 0;
    if (!out.exists && errno != ENOENT) return Fails(error, errno);
    if (out.exists && S_ISDIR(out.info.st_mode)) return Fails(error, EISDIR);
    if (out.exists && !S_ISREG(out.info.st_mode)) return true;
    // A regular file, or a new one: the name behind the links is replaced.
    if (!FollowLinks(out.path, error)) return false;
    if (!out.exists) return true;
    const int fd = open(out.path.c_str(), O_WRONLY | O_CLOEXEC);  // may this user write it?
    if (fd < 0) return Fails(error, errno);
    close(fd);
    return true;
}

bool SameFile(const OutputFile& out, const struct stat& other) {
    return out.exists && out.info.st_dev == other.st_dev && out.info.st_ino == other.st_ino;
}

bool InPlace(const OutputFile& out) { return out.exists && !S_ISREG(out.info.st_mode); }

// Opens a resolved output: in place, or as a temporary file beside it.
bool Open(OutputFile& out, std::string& error) {
    if (InPlace(out)) {
        const int fd = open(out.path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
        if (fd < 0) return Fails(error, errno);
        out.file = fdopen(fd, "wb");
        if (out.file) return true;
        const int number = errno;
        close(fd);
        return Fails(error, number);
    }
    out.temporary = out.path + ".partial-XXXXXX";
    std::vector<char> name(out.temporary.begin(), out.temporary.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0) {
        out.temporary.clear();
        return Fails(error, errno);
    }
    out.temporary = name.data();
    // mkstemp creates the file private; give it the permissions a new file
    // would get, or those of the file it replaces (its owner too, for root).
    mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, out.exists ? out.info.st_mode & 0777 : 0666 & ~mask);
    if (out.exists && geteuid() == 0) {
        // Best effort: where it is not permitted the file stays root's.
        if (fchown(fd, out.info.st_uid, out.info.st_gid) != 0) errno = 0;
    }
    out.file = fdopen(fd, "wb");
    if (!out.file) {
        error = strerror(errno);
        close(fd);
        unlink(out.temporary.c_str());
        out.temporary.clear();
        return false;
    }
    return true;
}

void Discard(OutputFile& out) {
    if (out.file && out.file != stdout) fclose(out.file);
    out.file = nullptr;
    if (!out.temporary.empty()) unlink(out.temporary.c_str());
    out.temporary.clear();
}

// Closes the temporary file and checks that every byte reached it.
bool Finish(OutputFile& out, std::string& error) {
    if (out.file == stdout) {
        if (fflush(stdout) != 0 || ferror(stdout)) {
            error = strerror(errno);
            return false;
        }
        return true;
    }
    bool ok = !ferror(out.file);
    int saved = errno;
    if (fclose(out.file) != 0) {
        ok = false;
        saved = errno;
    }
    out.file = nullptr;
    if (!ok) error = strerror(saved ? saved : EIO);
    return ok;
}

void Put16(uint8_t*& p, uint32_t v) {
    *p++ = uint8_t(v);
    *p++ = uint8_t(v >> 8);
}
void Put32(uint8_t*& p, uint32_t v) {
    Put16(p, v & 0xFFFF);
    Put16(p, v >> 16);
}
void PutTag(uint8_t*& p, const char* tag) {
    memcpy(p, tag, 4);
    p += 4;
}

void WavHeader(uint8_t header[WAV_HEADER_BYTES], uint32_t data_bytes) {
    uint8_t* p = header;
    PutTag(p, "RIFF");
    Put32(p, 36 + data_bytes);
    PutTag(p, "WAVE");
    PutTag(p, "fmt ");
    Put32(p, 16);            // format chunk size
    Put16(p, 1);             // PCM
    Put16(p, 2);             // channels
    Put32(p, MIX_RATE);      // frames per second
    Put32(p, MIX_RATE * 4);  // bytes per second
    Put16(p, 4);             // bytes per frame
    Put16(p, 16);            // bits per sample
    PutTag(p, "data");
    Put32(p, data_bytes);
}

// Frames as little-endian bytes whatever the host's byte order.
void ToLittleEndian(const int16_t* frames, int32_t count, uint8_t* bytes) {
    for (int32_t i = 0; i < count * 2; i++) {
        uint16_t v = uint16_t(frames[i]);
        bytes[2 * i] = uint8_t(v);
        bytes[2 * i + 1] = uint8_t(v >> 8);
    }
}

int Fail(const std::string& message, OutputFile& pcm, OutputFile& sync, Module* module) {
    fprintf(stderr, "vinto-render: %s\n", message.c_str());
    Discard(pcm);
    Discard(sync);
    if (module) FreeModule(module);
    return 1;
}

// Renders what the options ask for from the start of the song, handing every
// block's frames (the last one maybe cut) to write. Returns the frames, or -1
// when rendering stops or write fails; capped tells whether 30 minutes cut a
// song that never wrapped back.
using BlockWriter = std::function<bool(const int16_t* frames, int32_t count, uint64_t block)>;
int64_t RenderSong(Module* module, const Options& options, const BlockWriter& write, bool& capped) {
    const int32_t block_frames = GetBlockFrames();
    std::string error;
    if (!StartWithControls(module, options, error)) return -1;
    std::vector<int16_t> frames(size_t(block_frames) * 2);
    uint64_t written = 0;
    capped = false;
    for (uint64_t block = 0;; block++) {
        if (options.have_length && written >= options.frames) break;
        int32_t count = RenderNextBlock(frames.data(), block_frames);
        if (count <= 0) {
            if (HasSongEnded(module)) break;  // the last pass (or the song from --start) has ended
            return -1;
        }
        bool last = false;
        if (!options.have_length) {
            // At most 30 minutes of a song that does not end sooner.
            const uint64_t room = ONCE_THROUGH_CAP_FRAMES - written;
            if (uint64_t(count) >= room) {
                capped = uint64_t(count) > room || !HasSongEnded(module);
                count = int32_t(room);
                last = true;
            }
        }
        if (count > 0) {
            if (!write(frames.data(), count, block)) return -1;
            written += uint64_t(count);
        }
        if (last) break;
    }
    return int64_t(written);
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    std::vector<const char*> positional;
    bool have_frames = false, have_seconds = false;
    for (int i = 1; i < argc; i++) {
        const char* arg = argv[i];
        if (!strcmp(arg, "--help") || !strcmp(arg, "-h")) {
            fputs(USAGE, stdout);
            fputs(HELP, stdout);
            return 0;
        }
        if (!strcmp(arg, "--version")) {
            printf("vinto-render %s\n", VINTO_VERSION_STRING);
            return 0;
        }
        if (const int control = ParseControl(argc, argv, i, options.controls)) {
            if (control == 2) return 2;
            continue;
        }
        if (!strcmp(arg, "--frames") || !strcmp(arg, "--seconds") || !strcmp(arg, "--sync") ||
            !strcmp(arg, "--mode")) {
            if (i + 1 >= argc) return UsageError("missing value after", arg);
            const char* value = argv[++i];
            if (!strcmp(arg, "--mode")) {
                if (strcmp(value, "exact") && strcmp(value, "complete"))
                    return UsageError("--mode needs exact or complete", value);
                options.mode = !strcmp(value, "exact") ? VINTO_MODE_EXACT : VINTO_MODE_COMPLETE;
                continue;
            }
            if (!strcmp(arg, "--sync")) {
                if (!options.sync_path.empty()) return UsageError("--sync given twice", nullptr);
                if (!*value || !strcmp(value, "-"))
                    return UsageError("--sync needs a file name", nullptr);
                options.sync_path = value;
                continue;
            }
            bool frames = !strcmp(arg, "--frames");
            if (have_frames || have_seconds)
                return UsageError("give at most one of --frames and --seconds", nullptr);
            (frames ? have_frames : have_seconds) = true;
            bool ok = frames ? ParseFrames(value, options.frames)
                             : ParseSeconds(value, options.frames);
            if (!ok)
                return UsageError(frames ? "--frames needs a whole number of frames above 0"
                                         : "--seconds needs a decimal number of seconds above 0",
                                  value);
            options.have_length = true;
            continue;
        }
        if (arg[0] == '-' && arg[1] == '-' && arg[2] == '\0') {
            for (i++; i < argc; i++) positional.push_back(argv[i]);
            break;
        }
        if (arg[0] == '-' && arg[1] != '\0') return UsageError("unknown option", arg);
        positional.push_back(arg);
    }
    if (options.controls.info) {
        if (positional.size() != 1) return UsageError("--info takes INPUT.xm alone", nullptr);
        return Info(positional[0], options.mode);
    }
    if (positional.size() != 2) return UsageError("expected INPUT.xm and OUTPUT", nullptr);
    options.input = positional[0];
    options.output = positional[1];
    const bool to_stdout = options.output == "-";
    const std::string extension = to_stdout ? "" : Extension(options.output);
    const bool wav = extension == "wav";

    const int32_t block_frames = GetBlockFrames();
    const uint64_t length_frames =  // what --frames or --seconds gives: whole blocks
        (options.frames + uint64_t(block_frames) - 1) / uint64_t(block_frames) * uint64_t(block_frames);

    // Where the bytes would go, checked before anything is read or written.
    OutputFile pcm, sync;
    std::string error;
    struct stat input_info;
    const bool input_found = stat(options.input.c_str(), &input_info) == 0;
    if (input_found && S_ISDIR(input_info.st_mode))
        return Fail(options.input + ": is a directory", pcm, sync, nullptr);
    if (!to_stdout && !Resolve(pcm, options.output, error))
        return Fail(options.output + ": cannot write: " + error, pcm, sync, nullptr);
    if (!options.sync_path.empty() && !Resolve(sync, options.sync_path, error))
        return Fail(options.sync_path + ": cannot write: " + error, pcm, sync, nullptr);
    for (const OutputFile* out : {&pcm, &sync}) {
        if (input_found && SameFile(*out, input_info))
            return Fail((out == &pcm ? options.output : options.sync_path) + ": is the input file (" +
                            options.input + "); refusing to write over it", pcm, sync, nullptr);
    }
    if (!wav && extension != "" && extension != "raw" && extension != "pcm")
        return UsageError("OUTPUT ends in an extension it cannot write (.wav gives WAV; .raw, .pcm or "
                          "none raw PCM)", options.output.c_str());
    if (!sync.path.empty() && (sync.path == pcm.path || (pcm.exists && SameFile(sync, pcm.info))))
        return UsageError("--sync and OUTPUT name the same file", nullptr);
    if (wav && length_frames * 4 > WAV_MAX_DATA_BYTES)
        return UsageError("too long for a WAV file (at most 4 GiB of data)", nullptr);

    Module* module = LoadInput(options.input, options.mode, error);
    if (!module) return Fail(error, pcm, sync, nullptr);
    // The song and the controls checked before any file is made.
    if (!StartWithControls(module, options, error)) return Fail(options.input + ": " + error, pcm, sync, module);

    // A WAV header written in place cannot be rewritten: its size comes first.
    const std::string unplayable = options.input + ": cannot be rendered (unplayable or out of memory)";
    bool capped = false;
    uint64_t wav_frames = length_frames;
    if (wav && InPlace(pcm) && !options.have_length) {
        const int64_t frames = RenderSong(module, options, [](const int16_t*, int32_t, uint64_t) { return true; }, capped);
        if (frames < 0) return Fail(unplayable, pcm, sync, module);
        wav_frames = uint64_t(frames);
    }
    if (to_stdout) {
        pcm.file = stdout;
    } else if (!Open(pcm, error)) {
        return Fail(options.output + ": cannot write: " + error, pcm, sync, module);
    }
    if (!sync.path.empty() && !Open(sync, error))
        return Fail(options.sync_path + ": cannot write: " + error, pcm, sync, module);
    const std::string& pcm_name = to_stdout ? std::string("standard output") : options.output;

    uint8_t header[WAV_HEADER_BYTES] = {};
    if (wav) {
        WavHeader(header, uint32_t(wav_frames * 4));  // rewritten at the end unless in place
        fwrite(header, 1, sizeof(header), pcm.file);
    }
    if (sync.file) fputs("block,order,row,time_ms\n", sync.file);

    std::vector<uint8_t> bytes(size_t(block_frames) * 4);
    int write_errno = 0;
    const auto started = std::chrono::steady_clock::now();
    const int64_t rendered = RenderSong(module, options, [&](const int16_t* frames, int32_t count, uint64_t block) {
        ToLittleEndian(frames, count, bytes.data());
        if (fwrite(bytes.data(), 1, size_t(count) * 4, pcm.file) != size_t(count) * 4) {
            write_errno = errno;
            return false;
        }
        if (sync.file)
            fprintf(sync.file, "%llu,%u,%u,%u\n", (unsigned long long)block, GetPlayOrder(module),
                    GetPlayRow(module), GetPlayTime(module));
        return true;
    }, capped);
    if (rendered < 0 && write_errno)
        return Fail(pcm_name + ": cannot write: " + strerror(write_errno), pcm, sync, module);
    if (rendered < 0) return Fail(options.input + ": rendering stopped unexpectedly", pcm, sync, module);
    const uint64_t written = uint64_t(rendered);
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    if (wav && !InPlace(pcm)) {
        WavHeader(header, uint32_t(written * 4));
        if (fseek(pcm.file, 0, SEEK_SET) != 0 || fwrite(header, 1, sizeof(header), pcm.file) != sizeof(header))
            return Fail(pcm_name + ": cannot write: " + strerror(errno), pcm, sync, module);
    }
    if (!Finish(pcm, error)) return Fail(pcm_name + ": cannot write: " + error, pcm, sync, module);
    if (sync.file && !Finish(sync, error))
        return Fail(options.sync_path + ": cannot write: " + error, pcm, sync, module);
    // Into place: the position file first, so that a failure leaves neither.
    if (!sync.temporary.empty()) {
        if (rename(sync.temporary.c_str(), sync.path.c_str()) != 0)
            return Fail(options.sync_path + ": cannot write: " + strerror(errno), pcm, sync, module);
        sync.temporary.clear();
    }
    if (!pcm.temporary.empty()) {
        if (rename(pcm.temporary.c_str(), pcm.path.c_str()) != 0) {
            std::string reason = strerror(errno);
            if (!sync.path.empty() && !InPlace(sync)) unlink(sync.path.c_str());
            return Fail(options.output + ": cannot write: " + reason, pcm, sync, module);
        }
        pcm.temporary.clear();
    }
    FreeModule(module);

    if (capped)
        fprintf(stderr, "vinto-render: %s did not wrap back within 30 minutes; stopped there\n",
                options.input.c_str());
    const double seconds = double(written) / MIX_RATE;
    fprintf(stderr, "vinto-render: %llu frames, %.3f s of audio in %.3f s wall time, %.1fx real time\n",
            (unsigned long long)written, seconds, wall, wall > 0 ? seconds / wall : 0.0);
    return 0;
}
