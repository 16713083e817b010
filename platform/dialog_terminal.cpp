// The dialog in the terminal, for sessions without a display (over ssh, on a
// console): the title line in a box and the "close" button as a prompt.
// Enter is the button, end of input and Ctrl-C close the window, Escape is
// IDCANCEL: the same messages the window would send.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include "platform/dialog_linux.h"

namespace vinto {

constexpr char KEY_END_OF_TEXT = 0x03;  // Ctrl-C when the terminal passes it through
constexpr char KEY_END_OF_INPUT = 0x04; // Ctrl-D in non-canonical mode
constexpr char KEY_ESCAPE = 0x1b;
constexpr int ESCAPE_SEQUENCE_MS = 30;  // bytes of one key sequence arrive within this

// Terminal state to restore on the way out, also from signal handlers.
static int terminal = -1;               // the input while it is in dialog mode
static struct termios saved_mode, dialog_mode;
static int interrupt_pipe[2] = {-1, -1};  // SIGINT → a byte the loop polls for
static struct sigaction saved_actions[NSIG];

static const int RESTORING_SIGNALS[] = {SIGTERM, SIGHUP, SIGQUIT, SIGTSTP};

static void OnInterrupt(int) {
    int saved_errno = errno;
    char byte = 1;
    if (write(interrupt_pipe[1], &byte, 1) < 0) {
    }
    errno = saved_errno;
}

// The terminal gets its own mode back before the process stops or dies.
static void OnLeavingSignal(int signal_number) {
    int saved_errno = errno;
    if (terminal >= 0) tcsetattr(terminal, TCSANOW, &saved_mode);
    struct sigaction own, previous;
    sigaction(signal_number, &saved_actions[signal_number], &own);
    sigset_t unblock;
    sigemptyset(&unblock);
    sigaddset(&unblock, signal_number);
    sigprocmask(SIG_UNBLOCK, &unblock, nullptr);
    raise(signal_number);
    // Back from a stop (SIGTSTP): dialog mode and this handler again.
    sigaction(signal_number, &own, &previous);
    if (terminal >= 0) tcsetattr(terminal, TCSANOW, &dialog_mode);
    errno = saved_errno;
}

static void Write(int output, const char* text, size_t length) {
    while (length > 0) {
        ssize_t written = write(output, text, length);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        text += written;
        length -= size_t(written);
    }
}

static void Write(int output, const char* text) { Write(output, text, strlen(text)); }

static const DialogControlTemplate* FindControl(const DialogTemplate* dialog, DialogControlClass kind) {
    for (int i = 0; i < dialog->control_count; ++i) {
        if (dialog->controls[i].control_class == kind) return &dialog->controls[i];
    }
    return nullptr;
}

// The title in a box as wide as its control (a dialog unit is a quarter of
// a character's width), then the button and the prompt.
static void Draw(const DialogTemplate* dialog, int output) {
    const DialogControlTemplate* title = FindControl(dialog, DIALOG_STATIC);
    const DialogControlTemplate* button = FindControl(dialog, DIALOG_BUTTON);
    if (title) {
        int text_length = int(strlen(title->text));
        int inner = title->width / 4 - 2;
        if (inner < text_length + 2) inner = text_length + 2;
        char line[256];
        if (inner > int(sizeof line) - 4) inner = int(sizeof line) - 4;
        line[0] = '+';
        memset(line + 1, '-', size_t(inner));
        memcpy(line + 1 + inner, "+\n", 3);
        Write(output, line);
        int left = (inner - text_length) / 2;
        Write(output, "|");
        for (int i = 0; i < left; ++i) Write(output, " ");
        Write(output, title->text, size_t(text_length < inner ? text_length : inner));
        for (int i = left + text_length; i < inner; ++i) Write(output, " ");
        Write(output, "|\n");
        Write(output, line);
    }
    if (button) {
        Write(output, "[ ");
        Write(output, button->text);
        Write(output, " ] Press Enter to close. ");
    }
}

static bool InputPending(int input, int timeout_ms) {
    struct pollfd wait = {input, POLLIN, 0};
    return poll(&wait, 1, timeout_ms) > 0;
}

static void EnterDialogMode(int input) {
    if (!isatty(input) || tcgetattr(input, &saved_mode) != 0) return;
    dialog_mode = saved_mode;
    dialog_mode.c_lflag &= tcflag_t(~(ICANON | ECHO));  // keys one by one, unechoed
    dialog_mode.c_cc[VMIN] = 1;
    dialog_mode.c_cc[VTIME] = 0;
    terminal = input;
    struct sigaction leaving = {};
    leaving.sa_handler = OnLeavingSignal;
    sigemptyset(&leaving.sa_mask);
    for (int signal_number : RESTORING_SIGNALS) sigaction(signal_number, &leaving, &saved_actions[signal_number]);
    tcsetattr(input, TCSANOW, &dialog_mode);
}

static void LeaveDialogMode() {
    if (terminal < 0) return;
    tcsetattr(terminal, TCSANOW, &saved_mode);
    for (int signal_number : RESTORING_SIGNALS) sigaction(signal_number, &saved_actions[signal_number], nullptr);
    terminal = -1;
}

bool RunTerminalDialog(LinuxWindow* window, int input, int output) {
    const DialogControlTemplate* button = FindControl(window->dialog, DIALOG_BUTTON);
    WPARAM click = button ? WPARAM(uint16_t(button->id)) : WPARAM(DIALOG_IDOK);
    if (pipe2(interrupt_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    struct sigaction interrupt = {}, saved_interrupt;
    interrupt.sa_handler = OnInterrupt;
    sigemptyset(&interrupt.sa_mask);
    sigaction(SIGINT, &interrupt, &saved_interrupt);
    EnterDialogMode(input);

    SendDialogMessage(window, WM_INITDIALOG, 0, window->init);
    bool shown = !window->ended;
    if (shown) Draw(window->dialog, output);
    bool input_open = true;
    while (!window->ended) {
        struct pollfd waits[2] = {{interrupt_pipe[0], POLLIN, 0}, {input, POLLIN, 0}};
        if (poll(waits, input_open ? 2 : 1, -1) < 0) continue;  // EINTR: the pipe has the news
        if (waits[0].revents) {
            char bytes[16];
            while (read(interrupt_pipe[0], bytes, sizeof bytes) > 0) {
            }
            SendDialogMessage(window, WM_CLOSE, 0, 0);
            continue;
        }
        if (!input_open || !waits[1].revents) continue;
        char keys[64];
        ssize_t count = read(input, keys, sizeof keys);
        if (count < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (count <= 0) {
            input_open = false;  // nothing more will come: as closing the window
            SendDialogMessage(window, WM_CLOSE, 0, 0);
            continue;
        }
        for (ssize_t i = 0; i < count && !window->ended; ++i) {
            char key = keys[i];
            if (key == '\r' || key == '\n') {
                SendDialogMessage(window, WM_COMMAND, click, 0);
            } else if (key == KEY_END_OF_TEXT || key == KEY_END_OF_INPUT) {
                SendDialogMessage(window, WM_CLOSE, 0, 0);
            } else if (key == KEY_ESCAPE) {
                // Escape alone; the start of a longer key's sequence is dropped
                // with the rest of that sequence.
                if (terminal >= 0 && (i + 1 < count || InputPending(input, ESCAPE_SEQUENCE_MS))) break;
                SendDialogMessage(window, WM_COMMAND, IDCANCEL, 0);
            }
        }
    }

    if (shown) Write(output, "\n");  // the shell's prompt on a line of its own
    LeaveDialogMode();
    sigaction(SIGINT, &saved_interrupt, nullptr);
    close(interrupt_pipe[0]);
    close(interrupt_pipe[1]);
    interrupt_pipe[0] = interrupt_pipe[1] = -1;
    return true;
}

}  // namespace vinto
