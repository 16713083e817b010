// The player program: plays the embedded song behind a small dialog and ends
// the process when the dialog is closed.
#include "host/program.h"

#ifndef _WIN32
#include <stdio.h>
#endif

#include "module/file_io.h"
#include "module/resource_file.h"
#include "vinto/vinto.h"

namespace vinto {

constexpr int IDD_PLAYER = 120;
constexpr int IDC_CLOSE = 1003;

static HINSTANCE instance;

INT_PTR CALLBACK PlayerDialogProc(HWND window, UINT message, WPARAM wparam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            break;  // 0: no default keyboard focus
        case WM_COMMAND:
            // Exactly a click on "close" (notification code 0); Escape (IDCANCEL) is ignored.
            if (wparam == WPARAM(IDC_CLOSE)) EndDialog(window, 0);
            break;
        case WM_CLOSE:
            EndDialog(window, 0);
            break;
    }
    return 0;
}

}  // namespace vinto

using namespace vinto;

void WINAPI ProgramEntry() {
    instance = GetModuleHandleA(nullptr);
    SetFileIo(ResourceFileOpen, ResourceFileClose, ResourceFileRead, ResourceFileSeek, ResourceFileTell);
    Module* module = VintoLoadModule("0.xm", nullptr);
    // A silent player still shows its dialog.
    if (module && !StartPlayback(module)) {
#ifndef _WIN32
        // Windows stays silent, but a player started from a shell says why.
        fprintf(stderr, "vinto: %s: playing nothing\n", GetPlaybackError());
#endif
    }
    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_PLAYER), nullptr, PlayerDialogProc, 0);
    // The end of the process stops the output thread and releases everything.
    ExitProcess(0);
}
