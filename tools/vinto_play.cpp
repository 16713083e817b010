// vinto-play: plays XM modules live on the default audio output, the way a
// host uses the library: file callbacks over ordinary files, StartPlayback,
// the controls (passes, seek, pause, volume, mute) and the queries for what
// is being heard.
#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "vinto/vinto.h"

namespace {

const char* const USAGE = "usage: vinto-play [--loop] [--mode exact|complete] FILE.xm...\n";
const char* const HELP =
    "Plays XM modules on the default audio output (44100 Hz, 16-bit stereo), each\n"
    "once through and then the next; exit status 0 at the end of the list.\n"
    "\n"
    "  --loop           repeat each song until another is chosen\n"
    "  --mode MODE      exact or complete (the default): the replay to load with\n"
    "  --help           show this text\n"
    "\n"
    "Keys while playing (also shown by h or ?):\n";

// The key list, shown by --help and on h or ?; each line fits 80 columns.
const char* const KEY_LINES[] = {
    "  space  pause or resume          n / p       next or previous file",
    "  right  next order               left        previous order",
    "  + / -  volume up or down        1..9, 0     mute or unmute channel 1..10",
    "  h, ?   show or hide the keys    q           quit",
};

const char* const MORE_HELP =
    "\n"
    "On a terminal one display is kept up to date in place; with standard output\n"
    "not a terminal one line is printed per file. Keys also come from a pipe;\n"
    "its end does not stop the playing. A file that cannot be read or played\n"
    "gives a message and the next file plays; the exit status is then 1 (2 for\n"
    "a bad command line; a missing audio device ends at once with status 1).\n"
    "\n"
    "On Linux the sound goes through SDL 2: SDL_AUDIODRIVER chooses its driver\n"
    "(for example SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=out.raw writes the\n"
    "audio to a file in real time).\n";

constexpr int POLL_MS = 50;             // longest wait for a key
constexpr int REDRAW_EVERY = 2;         // polls per redraw of the display
constexpr int VOLUME_STEP = 5;          // per cent per + or -
constexpr int DISPLAY_WIDTH = 79;       // a line never reaches the 80th column
constexpr int BAR_WIDTH = 30;           // progress bar cells
constexpr int MUTE_KEYS = 10;           // 1..9 and 0: channels 1..10

volatile sig_atomic_t interrupted = 0;
int last_open_errno = 0;

// ---- file callbacks over stdio ----------------------------------------------

void* StdioOpen(const char* name) {
    FILE* file = fopen(name, "rb");
    if (!file) last_open_errno = errno;
    return file;
}
void StdioClose(void* stream) { fclose(static_cast<FILE*>(stream)); }
uint32_t StdioRead(uint8_t* buffer, uint32_t size, void* stream) {
    return uint32_t(fread(buffer, 1, size, static_cast<FILE*>(stream)));
}
void StdioSeek(void* stream, int32_t offset, uint8_t origin) {
    const int whence = origin == 1 ? SEEK_CUR : origin == 2 ? SEEK_END : SEEK_SET;
    fseek(static_cast<FILE*>(stream), long(offset), whence);
}
int32_t StdioTell(void* stream) { return int32_t(ftell(static_cast<FILE*>(stream))); }

// ---- command line -----------------------------------------------------------

struct Options {
    bool loop = false;
    int32_t mode = VINTO_MODE_COMPLETE;
    std::vector<std::string> files;
};

// 0 to play, otherwise the exit status (after --help or a usage error).
int ParseArguments(int argc, char** argv, Options& options) {
    bool only_files = false;
    for (int i = 1; i < argc; i++) {
        const std::string arg = argv[i];
        if (only_files || arg.empty() || arg[0] != '-' || arg == "-") {
            options.files.push_back(arg);
        } else if (arg == "--") {
            only_files = true;
        } else if (arg == "--help" || arg == "-h") {
            fputs(USAGE, stdout);
            fputs(HELP, stdout);
            for (const char* line : KEY_LINES) printf("%s\n", line);
            fputs(MORE_HELP, stdout);
            return -1;
        } else if (arg == "--loop") {
            options.loop = true;
        } else if (arg == "--mode" && i + 1 < argc && (!strcmp(argv[i + 1], "exact") || !strcmp(argv[i + 1], "complete"))) {
            options.mode = !strcmp(argv[++i], "exact") ? VINTO_MODE_EXACT : VINTO_MODE_COMPLETE;
        } else {
            fprintf(stderr, "vinto-play: %s: %s\n%s", arg.c_str(),
                    arg == "--mode" ? "needs exact or complete" : "unknown option", USAGE);
            return 2;
        }
    }
    if (options.files.empty()) {
        fputs(USAGE, stderr);
        return 2;
    }
    return 0;
}

// ---- terminal ---------------------------------------------------------------

void OnSignal(int) { interrupted = 1; }

void CatchSignals() {
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no restart: the wait for input ends at once
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

// Keys arrive one at a time and are not echoed; Ctrl-C still interrupts.
struct KeyboardMode {
    bool changed = false;
    termios saved{};
    void Enter() {
        if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &saved) != 0) return;
        termios raw = saved;
        raw.c_lflag &= ~tcflag_t(ICANON | ECHO);
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        changed = tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
    }
    void Leave() {
        if (changed) tcsetattr(STDIN_FILENO, TCSANOW, &saved);
        changed = false;
    }
};

enum Key { KEY_NONE, KEY_PAUSE, KEY_NEXT_FILE, KEY_PREVIOUS_FILE, KEY_NEXT_ORDER, KEY_PREVIOUS_ORDER,
           KEY_LOUDER, KEY_SOFTER, KEY_MUTE, KEY_HELP, KEY_QUIT };

// Reads what waits on standard input, up to timeout_ms, into keys. At its end
// (or when it cannot be read) input stops being watched: that alone ends nothing.
void ReadKeys(int timeout_ms, bool& watching, std::string& keys) {
    if (!watching) {
        poll(nullptr, 0, timeout_ms);
        return;
    }
    pollfd input{STDIN_FILENO, POLLIN, 0};
    const int ready = poll(&input, 1, timeout_ms);
    if (ready <= 0) return;
    char buffer[64];
    const ssize_t count = (input.revents & POLLNVAL) ? 0 : read(STDIN_FILENO, buffer, sizeof(buffer));
    if (count > 0) {
        keys.append(buffer, size_t(count));
    } else if (count == 0 || (errno != EINTR && errno != EAGAIN)) {
        watching = false;
    }
}

// Takes the next key off keys (arrows come as ESC [ C or ESC O C); channel
// gets the channel of a mute key (0-based).
Key NextKey(std::string& keys, int32_t& channel) {
    while (!keys.empty()) {
        const char c = keys[0];
        if (c == '\x1b') {
            if (keys.size() < 3) {  // a lone Escape, or the rest still on its way
                keys.clear();
                return KEY_NONE;
            }
            const char final_byte = keys[2];
            const bool arrow = keys[1] == '[' || keys[1] == 'O';
            keys.erase(0, 3);
            if (arrow && final_byte == 'C') return KEY_NEXT_ORDER;
            if (arrow && final_byte == 'D') return KEY_PREVIOUS_ORDER;
            continue;
        }
        keys.erase(0, 1);
        switch (c) {
            case ' ': return KEY_PAUSE;
            case 'n': return KEY_NEXT_FILE;
            case 'p': return KEY_PREVIOUS_FILE;
            case '+': case '=': return KEY_LOUDER;
            case '-': return KEY_SOFTER;
            case 'h': case '?': return KEY_HELP;
            case 'q': case 'Q': return KEY_QUIT;
            default: break;
        }
        if (c >= '0' && c <= '9') {
            channel = c == '0' ? MUTE_KEYS - 1 : c - '1';
            return KEY_MUTE;
        }
    }
    return KEY_NONE;
}

// ---- display ----------------------------------------------------------------

std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Printable text of at most width columns (bytes outside ASCII shown as '?').
std::string Fit(const std::string& text, size_t width) {
    std::string out;
    for (char c : text) out += (c >= 32 && c < 127) ? c : '?';
    if (out.size() > width) out = out.substr(0, width - 3) + "...";
    return out;
}

std::string Clock(uint32_t ms) {
    char text[16];
    snprintf(text, sizeof(text), "%u:%02u", unsigned(ms / 60000), unsigned(ms / 1000 % 60));
    return text;
}

struct Song {
    Module* module = nullptr;
    std::string path;
    int32_t index = 0, count = 0;  // position in the list
    uint32_t duration_ms = 0;      // 0: no end within 30 minutes
};

struct Screen {
    bool terminal = false;
    bool help = false;
    int32_t volume = 100;  // per cent, kept from song to song
    int lines = 0;         // lines of the display on the terminal now
};

std::vector<std::string> DisplayLines(const Song& song, const Screen& screen, int32_t mode) {
    Module* module = song.module;
    std::vector<std::string> lines;
    char text[256];
    snprintf(text, sizeof(text), "vinto-play  %d/%d  ", song.index + 1, song.count);
    lines.push_back(text + Fit(BaseName(song.path), DISPLAY_WIDTH - strlen(text)));
    snprintf(text, sizeof(text), "  %d channels  %s  volume %d%%", GetChannelCount(module),
             mode == VINTO_MODE_EXACT ? "exact" : "complete", screen.volume);
    lines.push_back("\"" + Fit(GetSongTitle(module), DISPLAY_WIDTH - strlen(text) - 2) + "\"" + text);
    const uint32_t heard = GetPlayPositionMs(module);
    const int filled = song.duration_ms ? int(uint64_t(heard % (song.duration_ms + 1)) * BAR_WIDTH / song.duration_ms) : 0;
    snprintf(text, sizeof(text), "[%s%s]  %s / %s  order %u/%d  row %u", std::string(size_t(filled), '=').c_str(),
             std::string(size_t(BAR_WIDTH - filled), ' ').c_str(), Clock(heard).c_str(),
             song.duration_ms ? Clock(song.duration_ms).c_str() : "--:--", GetPlayOrder(module),
             GetSongLength(module), GetPlayRow(module));
    lines.push_back(text);
    std::string state = IsPlaybackPaused(module) ? "paused" : HasSongEnded(module) ? "ended" : "playing";
    std::string muted;
    for (int32_t c = 0; c < GetChannelCount(module); c++)
        if (IsChannelMuted(module, c)) muted += " " + std::to_string(c + 1);
    if (!muted.empty()) state += "  muted:" + muted;
    lines.push_back(Fit(state, DISPLAY_WIDTH));
    if (screen.help) {
        for (const char* line : KEY_LINES) lines.push_back(line);
    } else {
        lines.push_back("h or ?: keys   q: quit");
    }
    return lines;
}

// Redraws the display where it stands: back to its first line, every line
// rewritten and cleared to its end, anything below it cleared.
void Draw(const Song& song, Screen& screen, int32_t mode) {
    const std::vector<std::string> lines = DisplayLines(song, screen, mode);
    std::string out = "\r";
    if (screen.lines > 1) out += "\x1b[" + std::to_string(screen.lines - 1) + "A";
    for (size_t i = 0; i < lines.size(); i++) out += lines[i] + "\x1b[K" + (i + 1 < lines.size() ? "\n" : "");
    out += "\x1b[J";
    fputs(out.c_str(), stdout);
    fflush(stdout);
    screen.lines = int(lines.size());
}

// With standard output not a terminal: one line per song.
void PrintSongLine(const Song& song) {
    const int32_t channels = GetChannelCount(song.module);
    printf("%s: \"%s\", %d channel%s, %s\n", song.path.c_str(), Fit(GetSongTitle(song.module), 40).c_str(),
           channels, channels == 1 ? "" : "s", song.duration_ms ? Clock(song.duration_ms).c_str() : "no end");
    fflush(stdout);
}

// ---- playing ----------------------------------------------------------------

// Loads a song; on failure says why on standard error and returns null.
Module* Load(const std::string& path, int32_t mode) {
    struct stat info;
    if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        fprintf(stderr, "vinto-play: %s: is a directory\n", path.c_str());
        return nullptr;
    }
    last_open_errno = 0;
    Module* module = LoadModuleInMode(path.c_str(), nullptr, mode);
    if (!module) {
        const char* reason = GetLoadError();
        if (last_open_errno) {
            fprintf(stderr, "vinto-play: %s: %s (%s)\n", path.c_str(), reason, strerror(last_open_errno));
        } else {
            fprintf(stderr, "vinto-play: %s: %s\n", path.c_str(), reason[0] ? reason : "cannot be loaded");
        }
        return nullptr;
    }
    if (*GetLoadWarning()) fprintf(stderr, "vinto-play: %s: warning: %s\n", path.c_str(), GetLoadWarning());
    return module;
}

enum Outcome { NEXT, PREVIOUS, QUIT, NO_DEVICE };

// Acts on one key; returns true when the song is left (outcome says how).
bool Act(Key key, int32_t channel, Song& song, Screen& screen, Outcome& outcome) {
    Module* module = song.module;
    switch (key) {
        case KEY_PAUSE:
            if (IsPlaybackPaused(module)) {
                ResumePlayback(module);
            } else {
                PausePlayback(module);
            }
            break;
        case KEY_NEXT_FILE: outcome = NEXT; return true;
        case KEY_PREVIOUS_FILE: outcome = PREVIOUS; return true;
        case KEY_QUIT: outcome = QUIT; return true;
        case KEY_NEXT_ORDER:
            SeekToOrder(module, int32_t(GetPlayOrder(module)) + 1, 0);
            break;
        case KEY_PREVIOUS_ORDER: {
            const int32_t order = int32_t(GetPlayOrder(module));
            SeekToOrder(module, order > 0 ? order - 1 : 0, 0);
            break;
        }
        case KEY_LOUDER:
        case KEY_SOFTER:
            screen.volume += key == KEY_LOUDER ? VOLUME_STEP : -VOLUME_STEP;
            screen.volume = screen.volume < 0 ? 0 : screen.volume > 100 ? 100 : screen.volume;
            SetMasterVolume(module, float(screen.volume) / 100.0f);
            break;
        case KEY_MUTE:
            SetChannelMuted(module, channel, !IsChannelMuted(module, channel));  // nothing beyond the song's channels
            break;
        case KEY_HELP: screen.help = !screen.help; break;
        case KEY_NONE: break;
    }
    return false;
}

// Plays one loaded song until it ends (unless looping), a key leaves it, or a signal.
Outcome Play(Song& song, Screen& screen, const Options& options, bool& watching_input) {
    Module* module = song.module;
    SetPassCount(module, options.loop ? 0 : 1);
    SetMasterVolume(module, float(screen.volume) / 100.0f);
    if (!StartPlayback(module)) {
        fprintf(stderr, "vinto-play: %s: cannot play: %s\n", song.path.c_str(), GetPlaybackError());
        return NO_DEVICE;
    }
    song.duration_ms = GetSongDurationMs(module);
    if (!screen.terminal) PrintSongLine(song);
    std::string keys;
    for (int poll_count = 0; !interrupted; poll_count++) {
        if (screen.terminal && poll_count % REDRAW_EVERY == 0) Draw(song, screen, options.mode);
        ReadKeys(POLL_MS, watching_input, keys);
        Outcome outcome = NEXT;
        int32_t channel = 0;
        for (Key key; (key = NextKey(keys, channel)) != KEY_NONE;) {
            if (Act(key, channel, song, screen, outcome)) return outcome;
            if (screen.terminal) Draw(song, screen, options.mode);
        }
        if (HasSongEnded(module)) return NEXT;
    }
    return QUIT;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (const int status = ParseArguments(argc, argv, options)) return status < 0 ? 0 : status;

    SetFileIo(StdioOpen, StdioClose, StdioRead, StdioSeek, StdioTell);
    CatchSignals();
    Screen screen;
    screen.terminal = isatty(STDOUT_FILENO);
    KeyboardMode keyboard;
    keyboard.Enter();
    bool watching_input = true;
    int status = 0;
    const int32_t count = int32_t(options.files.size());
    for (int32_t index = 0; index < count && !interrupted;) {
        Song song;
        song.path = options.files[size_t(index)];
        song.index = index;
        song.count = count;
        song.module = Load(song.path, options.mode);
        if (!song.module) {
            status = 1;
            index++;
            continue;
        }
        const Outcome outcome = Play(song, screen, options, watching_input);
        StopPlayback(song.module);
        FreeModule(song.module);
        if (outcome == QUIT) break;
        if (outcome == NO_DEVICE) {
            status = 1;
            break;
        }
        index = outcome == PREVIOUS ? (index > 0 ? index - 1 : 0) : index + 1;
    }
    keyboard.Leave();
    if (screen.terminal && screen.lines > 0) printf("\n");
    return status;
}
