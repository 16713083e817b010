// The process side of the program on Linux: its instance handle, its exit,
// and a main that hands over to the program's entry.
#include <stdio.h>
#include <unistd.h>

#include "host/program.h"

// Set by the linker at the start of the executable's image, as a module
// handle on Windows is the image's base address.
extern "C" const char __executable_start[];

namespace vinto {

HMODULE GetModuleHandleA(LPCSTR name) {
    if (name) return nullptr;  // the program loads no other modules by name
    return HMODULE(__executable_start);
}

// Ends every thread at once, as Windows does: nothing is stopped or released
// first, and no exit handlers or destructors run beside the output thread.
void ExitProcess(UINT exit_code) {
    fflush(stdout);
    fflush(stderr);
    _exit(int(exit_code));
}

}  // namespace vinto

// The program takes no command line.
int main() {
    ProgramEntry();
}
