// The Linux stand-in of the modal dialog: one window record shared by the
// GTK dialog (with a display) and the terminal dialog (without one).
#pragma once

#include "platform/dialog_template.h"
#include "platform/win32.h"

namespace vinto {

// Codes the stand-in sends besides WM_COMMAND with a control's id.
constexpr int DIALOG_IDOK = 1;  // Enter while no push button has the focus

struct LinuxWindow {
    const DialogTemplate* dialog;  // the template being shown
    DLGPROC procedure;             // receives the dialog's messages
    LPARAM init;                   // lParam of WM_INITDIALOG
    bool ended;                    // set by EndDialog; ends the modal loop
    INT_PTR result;                // what EndDialog asked DialogBoxParamA to return
};

// Dialog base units: pixels per 4 horizontal and per 8 vertical dialog units.
struct DialogBaseUnits {
    int x;  // average character width in pixels
    int y;  // character height in pixels
};

struct PixelRect {
    int x, y, width, height;  // pixels
};

// Base units from a font's measures, rounded the way Windows does: the width
// in pixels of "A".."Z" "a".."z" (52 letters) and the font's height.
DialogBaseUnits BaseUnitsFromFont(int alphabet_width, int height);

// Dialog units to pixels (each value rounded to the nearest pixel, halves up).
PixelRect DialogUnitsToPixels(int x, int y, int width, int height, DialogBaseUnits base);

// The text whose width gives the average character width.
extern const char* const DIALOG_ALPHABET;

// Sends one message to the dialog procedure and returns its result.
INT_PTR SendDialogMessage(LinuxWindow* window, UINT message, WPARAM wparam, LPARAM lparam);

// True when a display can be opened (and GTK is set up for it).
bool GtkDialogAvailable();

// The modal loops: show the dialog, send WM_INITDIALOG and the user's actions
// until EndDialog; false when the dialog could not be shown at all.
bool RunGtkDialog(LinuxWindow* window);
bool RunTerminalDialog(LinuxWindow* window, int input, int output);

}  // namespace vinto
