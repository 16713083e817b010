// The Linux dialog stand-in: dialog units to pixels as Windows computes them,
// and the terminal dialog's messages for what arrives on its input.
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/dialog_linux.h"

using namespace vinto;

namespace {

// Dialog units to pixels as Windows rounds them: the average width of the 52
// letters to the nearest pixel (6.48 down, 6.5 up), then each value, halves up.
TEST(LinuxDialogUnits, RoundedAsWindowsRoundsThem) {
    EXPECT_EQ(BaseUnitsFromFont(337, 13).x, 6);
    EXPECT_EQ(BaseUnitsFromFont(338, 16).x, 7);
    const PixelRect dialog = DialogUnitsToPixels(0, 0, 153, 50, {6, 13});  // 229.5 up, 81.25 down
    const PixelRect halves = DialogUnitsToPixels(1, 4, 3, 12, {6, 13});    // 1.5, 6.5, 4.5, 19.5 up
    EXPECT_EQ(std::vector<int>({dialog.width, dialog.height, halves.x, halves.y, halves.width, halves.height}),
              std::vector<int>({230, 81, 2, 7, 5, 20}));
}

std::string received;  // the messages so far, a word each
std::string end_on;    // the message on which the procedure ends the dialog

INT_PTR CALLBACK RecordingProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    const std::string name = message == WM_INITDIALOG ? "init(" + std::to_string(lparam) + ")"
                             : message == WM_CLOSE    ? "close"
                                                      : "command(" + std::to_string(wparam) + ")";
    received += name + " ";
    if (name == end_on) EndDialog(window, 42);
    return 0;
}

// DialogBoxParamA without a display, `keys` waiting on a pipe as its standard
// input (closed after them if asked), what it writes caught in `shown`.
std::string shown;
INT_PTR Show(const std::string& keys, bool close_input, LPCSTR name = MAKEINTRESOURCEA(120)) {
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    int input[2], output[2];
    if (pipe(input) || pipe(output) || write(input[1], keys.data(), keys.size()) != ssize_t(keys.size())) return -2;
    if (close_input) close(input[1]);
    const int saved_input = dup(STDIN_FILENO), saved_output = dup(STDOUT_FILENO);
    dup2(input[0], STDIN_FILENO);
    dup2(output[1], STDOUT_FILENO);
    const INT_PTR result = DialogBoxParamA(nullptr, name, nullptr, RecordingProc, 5);
    dup2(saved_input, STDIN_FILENO);
    dup2(saved_output, STDOUT_FILENO);
    for (int fd : {saved_input, saved_output, input[0], close_input ? -1 : input[1], output[1]}) close(fd);
    char buffer[4096];
    shown.clear();
    for (ssize_t count; (count = read(output[0], buffer, sizeof buffer)) > 0;) shown.append(buffer, size_t(count));
    close(output[0]);
    return result;
}

// The title in its box, the button, and a fresh line for the shell's prompt.
const std::string DRAWN =
    "+---------------------------------+\n|       - vinto - talbet -        |\n"
    "+---------------------------------+\n[ close ] Press Enter to close. \n";

TEST(LinuxTerminalDialog, EachInputSendsTheWindowsMessage) {
    const struct { const char* what; std::string keys; bool input_closed; std::string end_on, expected; } cases[] = {
        {"Enter is the close button", "\n", false, "command(1003)", "init(5) command(1003) "},
        {"end of input closes the window", "", true, "close", "init(5) close "},
        {"so does Ctrl-D", "\x04", false, "close", "init(5) close "},
        {"Escape is IDCANCEL, other keys nothing", "x \x1b" "q\r", true, "command(1003)",
         "init(5) command(2) command(1003) "},
        {"the procedure decides what ends it", "\x04\n\n", false, "command(1003)", "init(5) close command(1003) "},
        {"ended while starting: not drawn", "", false, "init(5)", "init(5) "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        received.clear();
        end_on = c.end_on;
        EXPECT_EQ(Show(c.keys, c.input_closed), 42);
        EXPECT_EQ(received, c.expected);
        EXPECT_EQ(shown, c.end_on == "init(5)" ? "" : DRAWN);
    }
    received.clear();  // a template it does not have
    EXPECT_EQ(Show("\n", true, MAKEINTRESOURCEA(121)), -1);
    EXPECT_EQ(received, "");
}

}  // namespace
