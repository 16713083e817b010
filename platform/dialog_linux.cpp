// DialogBoxParamA and EndDialog on Linux: the template's dialog in a GTK
// window when there is a display, in the terminal otherwise.
#include "platform/dialog_linux.h"

#include <unistd.h>

namespace vinto {

const char* const DIALOG_ALPHABET = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

// The dialogs this program carries, found by resource number.
static const DialogTemplate* const DIALOG_RESOURCES[] = {&PLAYER_DIALOG};

// The dialog whose modal loop runs; EndDialog accepts only this one.
static LinuxWindow* active_dialog;

DialogBaseUnits BaseUnitsFromFont(int alphabet_width, int height) {
    return {(alphabet_width / 26 + 1) / 2, height};
}

// a * b / c rounded to the nearest integer, halves away from zero.
static int MulDiv(int a, int b, int c) {
    long long product = (long long)a * b;
    long long half = c / 2;
    return int(product >= 0 ? (product + half) / c : (product - half) / c);
}

PixelRect DialogUnitsToPixels(int x, int y, int width, int height, DialogBaseUnits base) {
    return {MulDiv(x, base.x, 4), MulDiv(y, base.y, 8), MulDiv(width, base.x, 4),
            MulDiv(height, base.y, 8)};
}

INT_PTR SendDialogMessage(LinuxWindow* window, UINT message, WPARAM wparam, LPARAM lparam) {
    return window->procedure(window, message, wparam, lparam);
}

static const DialogTemplate* FindDialog(LPCSTR name) {
    uintptr_t id = uintptr_t(name);
    if (id > 0xFFFF) return nullptr;  // only numbered dialogs exist
    for (const DialogTemplate* dialog : DIALOG_RESOURCES) {
        if (dialog->resource_id == id) return dialog;
    }
    return nullptr;
}

INT_PTR DialogBoxParamA(HINSTANCE, LPCSTR template_name, HWND, DLGPROC procedure, LPARAM init) {
    const DialogTemplate* dialog = FindDialog(template_name);
    if (!dialog || !procedure || active_dialog) return -1;
    LinuxWindow window = {dialog, procedure, init, false, 0};
    active_dialog = &window;
    bool shown = GtkDialogAvailable() ? RunGtkDialog(&window)
                                      : RunTerminalDialog(&window, STDIN_FILENO, STDOUT_FILENO);
    active_dialog = nullptr;
    return shown ? window.result : -1;
}

BOOL EndDialog(HWND window, INT_PTR result) {
    if (!window || window != active_dialog) return 0;
    window->ended = true;
    window->result = result;
    return 1;
}

}  // namespace vinto
