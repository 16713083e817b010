// The Linux dialog stand-in: dialog units to pixels as Windows computes them,
// and the terminal dialog's messages for what arrives on its input.
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/dialog_linux.h"

namespace {

TEST(LinuxDialogUnits, BaseUnitsRoundTheAverageLetterWidth) {
    struct Case {
        int alphabet_width, height;
        DialogBaseUnits expected;
    } cases[] = {
        {312, 13, {6, 13}},  // exactly 6 pixels a letter
        {337, 13, {6, 13}},  // 6.48: rounded down
        {338, 16, {7, 16}},  // 6.5: rounded up
        {363, 16, {7, 16}},  // 6.98
        {0, 0, {0, 0}},
    };
    for (const Case& c : cases) {
        DialogBaseUnits base = BaseUnitsFromFont(c.alphabet_width, c.height);
        EXPECT_EQ(base.x, c.expected.x) << c.alphabet_width;
        EXPECT_EQ(base.y, c.expected.y) << c.alphabet_width;
    }
}

TEST(LinuxDialogUnits, PixelsAsWindowsLaysOutThePlayerDialog) {
    // 8 pt "MS Sans Serif" at 96 dpi has base units 6 x 13 on Windows.
    struct Case {
        int x, y, width, height;
        PixelRect expected;
    } cases[] = {
        {0, 0, 153, 50, {0, 0, 230, 81}},    // the dialog: 229.5 rounds up, 81.25 down
        {5, 5, 140, 15, {8, 8, 210, 24}},    // title line
        {5, 25, 140, 19, {8, 41, 210, 31}},  // close button: 40.625 and 30.875 round up
        {1, 4, 3, 12, {2, 7, 5, 20}},        // halves (1.5, 6.5, 4.5, 19.5) round up
    };
    for (const Case& c : cases) {
        PixelRect rect = DialogUnitsToPixels(c.x, c.y, c.width, c.height, {6, 13});
        EXPECT_EQ(rect.x, c.expected.x) << c.x;
        EXPECT_EQ(rect.y, c.expected.y) << c.y;
        EXPECT_EQ(rect.width, c.expected.width) << c.width;
        EXPECT_EQ(rect.height, c.expected.height) << c.height;
    }
}

struct Message {
    UINT message;
    WPARAM wparam;
    LPARAM lparam;
    bool operator==(const Message& other) const {
        return message == other.message && wparam == other.wparam && lparam == other.lparam;
    }
};

std::vector<Message> received;
UINT end_on;          // the message that ends the dialog
WPARAM end_on_wparam; // its wParam, for WM_COMMAND
bool raise_interrupt; // raise SIGINT while handling WM_INITDIALOG

INT_PTR CALLBACK RecordingProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    received.push_back({message, wparam, lparam});
    if (message == WM_INITDIALOG && raise_interrupt) raise(SIGINT);
    if (message == end_on && (message != WM_COMMAND || wparam == end_on_wparam)) EndDialog(window, 42);
    return 0;
}

struct Pipe {
    int read_end = -1, write_end = -1;
    Pipe() {
        int ends[2];
        EXPECT_EQ(pipe(ends), 0);
        read_end = ends[0];
        write_end = ends[1];
    }
    ~Pipe() {
        CloseWrite();
        if (read_end >= 0) close(read_end);
    }
    void Write(const std::string& bytes) {
        ASSERT_EQ(write(write_end, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }
    void CloseWrite() {
        if (write_end >= 0) close(write_end);
        write_end = -1;
    }
    std::string ReadAll() {
        CloseWrite();
        std::string text;
        char buffer[256];
        ssize_t count;
        while ((count = read(read_end, buffer, sizeof buffer)) > 0) text.append(buffer, size_t(count));
        return text;
    }
};

// The dialog through DialogBoxParamA, without a display, over pipes in place
// of the process's standard input and output.
class LinuxTerminalDialog : public ::testing::Test {
protected:
    void SetUp() override {
        received.clear();
        end_on = WM_CLOSE;
        end_on_wparam = 0;
        raise_interrupt = false;
        saved_input = dup(STDIN_FILENO);
        saved_output = dup(STDOUT_FILENO);
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
    }
    void TearDown() override {
        dup2(saved_input, STDIN_FILENO);
        dup2(saved_output, STDOUT_FILENO);
        close(saved_input);
        close(saved_output);
    }
    // Shows the dialog with `keys` waiting on its input, closed after them
    // unless kept open; returns DialogBoxParamA's result.
    INT_PTR Show(const std::string& keys, bool close_input = true, LPCSTR name = MAKEINTRESOURCEA(120)) {
        Pipe input, output;
        input.Write(keys);
        if (close_input) input.CloseWrite();
        dup2(input.read_end, STDIN_FILENO);
        dup2(output.write_end, STDOUT_FILENO);
        INT_PTR result = DialogBoxParamA(nullptr, name, nullptr, RecordingProc, 5);
        dup2(saved_output, STDOUT_FILENO);
        dup2(saved_input, STDIN_FILENO);
        shown = output.ReadAll();
        return result;
    }
    int saved_input = -1, saved_output = -1;
    std::string shown;  // what the dialog wrote
};

constexpr Message INIT = {WM_INITDIALOG, 0, 5};
constexpr Message CLICK = {WM_COMMAND, 1003, 0};
constexpr Message CLOSE = {WM_CLOSE, 0, 0};
constexpr Message CANCEL = {WM_COMMAND, IDCANCEL, 0};

TEST_F(LinuxTerminalDialog, EnterIsTheCloseButton) {
    end_on = WM_COMMAND;
    end_on_wparam = 1003;
    EXPECT_EQ(Show("\n", false), 42);
    EXPECT_EQ(received, (std::vector<Message>{INIT, CLICK}));
    EXPECT_NE(shown.find("|       - vinto - talbet -        |\n"), std::string::npos) << shown;
    EXPECT_NE(shown.find("[ close ]"), std::string::npos) << shown;
    EXPECT_EQ(shown.back(), '\n');  // the shell's prompt starts on a fresh line
}

TEST_F(LinuxTerminalDialog, EndOfInputClosesTheWindow) {
    EXPECT_EQ(Show(""), 42);
    EXPECT_EQ(received, (std::vector<Message>{INIT, CLOSE}));
    received.clear();
    EXPECT_EQ(Show("\x04", false), 42);  // Ctrl-D, as a terminal without line editing passes it
    EXPECT_EQ(received, (std::vector<Message>{INIT, CLOSE}));
}

TEST_F(LinuxTerminalDialog, EscapeAndOtherKeysLeaveItOpen) {
    end_on = WM_COMMAND;
    end_on_wparam = 1003;
    Show("x \x1b" "q\r");
    EXPECT_EQ(received, (std::vector<Message>{INIT, CANCEL, CLICK}));
}

TEST_F(LinuxTerminalDialog, ProcedureDecidesWhatEnds) {
    // A procedure that ends only on the button sees Enter after a refused close.
    end_on = WM_COMMAND;
    end_on_wparam = 1003;
    Show("\x04\n\n", false);
    EXPECT_EQ(received, (std::vector<Message>{INIT, CLOSE, CLICK}));
}

TEST_F(LinuxTerminalDialog, InterruptClosesTheWindowAndIsRestored) {
    struct sigaction before;
    sigaction(SIGINT, nullptr, &before);
    raise_interrupt = true;
    EXPECT_EQ(Show("", false), 42);
    EXPECT_EQ(received, (std::vector<Message>{INIT, CLOSE}));
    struct sigaction after;
    sigaction(SIGINT, nullptr, &after);
    EXPECT_EQ(after.sa_handler, before.sa_handler);
}

TEST_F(LinuxTerminalDialog, EndedDuringInitNeitherDrawsNorWaits) {
    end_on = WM_INITDIALOG;
    EXPECT_EQ(Show("", false), 42);
    EXPECT_EQ(received, (std::vector<Message>{INIT}));
    EXPECT_EQ(shown, "");
}

TEST_F(LinuxTerminalDialog, MissingTemplateFailsAtOnce) {
    EXPECT_EQ(Show("\n", true, MAKEINTRESOURCEA(121)), -1);
    EXPECT_EQ(Show("\n", true, "PLAYER"), -1);
    EXPECT_TRUE(received.empty());
}

TEST(LinuxEndDialog, RefusesWindowsThatAreNotShown) {
    LinuxWindow stranger = {&PLAYER_DIALOG, RecordingProc, 0, false, 0};
    EXPECT_FALSE(EndDialog(&stranger, 1));
    EXPECT_FALSE(stranger.ended);
    EXPECT_FALSE(EndDialog(nullptr, 1));
}

}  // namespace
