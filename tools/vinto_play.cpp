// vinto-play: plays an XM module live on the default audio output, the way a
// host uses the library: file callbacks over ordinary files, StartPlayback,
// and the three position queries for what is being heard.
#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include <string>

#include "vinto/vinto.h"

namespace {

const char* const USAGE = "usage: vinto-play FILE.xm\n";
const char* const HELP =
    "Plays an XM module on the default audio output (44100 Hz, 16-bit stereo)\n"
    "and shows the order, row and song time of what is being heard.\n"
    "\n"
    "Stops on q, Enter, end of input or Ctrl-C, with exit status 0. A file that\n"
    "cannot be read or played, or a missing audio device, gives a message and\n"
    "exit status 1 (2 for a bad command line).\n"
    "\n"
    "On Linux the sound goes through SDL 2: SDL_AUDIODRIVER chooses its driver\n"
    "(for example SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=out.raw writes the\n"
    "audio to a file in real time).\n";

constexpr int REFRESH_MS = 100;           // status line refresh while playing
constexpr int PLAIN_LINE_EVERY = 10;      // refreshes per line when not on a terminal

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

// Waits up to timeout_ms for input; true when playing should stop: q, Enter,
// end of input, or an input that cannot be read any more.
bool StopRequestedByInput(int timeout_ms) {
    pollfd input{STDIN_FILENO, POLLIN, 0};
    const int ready = poll(&input, 1, timeout_ms);
    if (ready < 0) return errno != EINTR;
    if (ready == 0) return false;
    if (input.revents & POLLNVAL) return true;  // no standard input at all
    char keys[64];
    const ssize_t count = read(STDIN_FILENO, keys, sizeof(keys));
    if (count == 0) return true;  // end of input
    if (count < 0) return errno != EINTR && errno != EAGAIN;
    for (ssize_t i = 0; i < count; i++) {
        if (keys[i] == 'q' || keys[i] == 'Q' || keys[i] == '\n' || keys[i] == '\r') return true;
    }
    return false;
}

std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void ShowPosition(Module* module, const std::string& name, bool terminal) {
    const uint32_t time_ms = GetPlayTime(module);
    char line[512];
    snprintf(line, sizeof(line), "%s  order %3u  row %3u  %u:%02u.%u", name.c_str(),
             unsigned(GetPlayOrder(module)), unsigned(GetPlayRow(module)), unsigned(time_ms / 60000),
             unsigned(time_ms / 1000 % 60), unsigned(time_ms / 100 % 10));
    // On a terminal one line refreshed in place; elsewhere plain lines.
    if (terminal) {
        printf("\r%s\x1b[K", line);
    } else {
        printf("%s\n", line);
    }
    fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) {
        fputs(USAGE, stdout);
        fputs(HELP, stdout);
        return 0;
    }
    if (argc != 2 || argv[1][0] == '\0' || (argv[1][0] == '-' && argv[1][1] != '\0')) {
        fputs(USAGE, stderr);
        return 2;
    }
    const std::string path = argv[1];

    SetFileIo(StdioOpen, StdioClose, StdioRead, StdioSeek, StdioTell);
    Module* module = LoadModule(path.c_str(), nullptr);
    if (!module) {
        const char* reason = GetLoadError();
        if (last_open_errno) {
            fprintf(stderr, "vinto-play: %s: %s (%s)\n", path.c_str(), reason, strerror(last_open_errno));
        } else {
            fprintf(stderr, "vinto-play: %s: %s\n", path.c_str(), reason[0] ? reason : "cannot be loaded");
        }
        return 1;
    }

    CatchSignals();
    if (!StartPlayback(module)) {
        fprintf(stderr, "vinto-play: %s: cannot play: no audio output device could be opened\n",
                path.c_str());
        FreeModule(module);
        return 1;
    }

    const std::string name = BaseName(path);
    const bool terminal = isatty(STDOUT_FILENO);
    KeyboardMode keyboard;
    keyboard.Enter();
    for (int refresh = 0; !interrupted; refresh++) {
        if (terminal || refresh % PLAIN_LINE_EVERY == 0) ShowPosition(module, name, terminal);
        if (StopRequestedByInput(REFRESH_MS)) break;
    }
    keyboard.Leave();
    if (terminal) printf("\n");
    StopPlayback(module);
    FreeModule(module);
    return 0;
}
