// The operating-system calls the program makes, in their Windows shapes.
// Windows builds use the real ones; on Linux, platform/ implements a small
// stand-in with the same names, types and behaviour the program relies on.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
// The public header names its LoadModule and FreeModule differently on
// Windows, so both headers go together as they are.
#include <windows.h>
#include <mmsystem.h>
#else
#include <stdint.h>

namespace vinto {

typedef int BOOL;
typedef uint32_t UINT;
typedef uint32_t DWORD;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t INT_PTR;
typedef void* HANDLE;
typedef void* HINSTANCE;
typedef HINSTANCE HMODULE;
typedef struct LinuxWindow* HWND;
typedef void* HRSRC;
typedef void* HGLOBAL;
typedef const char* LPCSTR;

#define WINAPI
#define CALLBACK
#define MAKEINTRESOURCEA(id) ((LPCSTR)(uintptr_t)(uint16_t)(id))
#define RT_RCDATA MAKEINTRESOURCEA(10)
#define RT_DIALOG MAKEINTRESOURCEA(5)

// Windows messages the dialog procedure sees.
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_INITDIALOG = 0x0110;
constexpr UINT WM_COMMAND = 0x0111;
constexpr int IDCANCEL = 2;

typedef INT_PTR(CALLBACK* DLGPROC)(HWND, UINT, WPARAM, LPARAM);

// Process and dialogs.
HMODULE GetModuleHandleA(LPCSTR name);
INT_PTR DialogBoxParamA(HINSTANCE instance, LPCSTR template_name, HWND owner, DLGPROC procedure,
                        LPARAM init);
BOOL EndDialog(HWND window, INT_PTR result);
[[noreturn]] void ExitProcess(UINT exit_code);

// Resources: the embedded module and the dialog template.
HRSRC FindResourceA(HMODULE module, LPCSTR name, LPCSTR type);
HGLOBAL LoadResource(HMODULE module, HRSRC resource);
void* LockResource(HGLOBAL loaded);
DWORD SizeofResource(HMODULE module, HRSRC resource);

}  // namespace vinto
#endif
