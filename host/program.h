#pragma once

#include "platform/win32.h"

// The process entry: takes no arguments and never returns.
extern "C" void WINAPI ProgramEntry();
namespace vinto {
INT_PTR CALLBACK PlayerDialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
}  // namespace vinto
