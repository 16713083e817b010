/* Test helper run under Wine beside vinto.exe, speaking to the player dialog as Windows itself would:
 *   vinto-send post MESSAGE WPARAM   posts the message to the dialog
 *   vinto-send rect ID               prints the screen rectangle of control ID ("left top right bottom")
 * Numbers decimal or 0x-hexadecimal. Exit status 0 on success, 1 with no dialog (or no such control), 2 on bad usage. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char** argv) {
    HWND dialog = FindWindowA("#32770", NULL); /* the system dialog class */
    if (argc == 4 && strcmp(argv[1], "post") == 0)
        return dialog && PostMessageA(dialog, (UINT)strtoul(argv[2], NULL, 0), (WPARAM)strtoul(argv[3], NULL, 0), 0) ? 0 : 1;
    if (argc == 3 && strcmp(argv[1], "rect") == 0) {
        HWND control = dialog ? GetDlgItem(dialog, (int)strtol(argv[2], NULL, 0)) : NULL;
        RECT rect;
        if (!control || !GetWindowRect(control, &rect)) return 1;
        printf("%ld %ld %ld %ld\n", (long)rect.left, (long)rect.top, (long)rect.right, (long)rect.bottom);
        return 0;
    }
    fprintf(stderr, "usage: vinto-send post MESSAGE WPARAM | rect ID\n");
    return 2;
}
