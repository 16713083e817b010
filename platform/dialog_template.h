// The player dialog's template as resources/vinto.rc declares it for Windows.
// The Linux stand-in of DialogBoxParamA lays its window out from this record,
// so a change to the dialog is made here and in the .rc file, nowhere else.
#pragma once

#include <stdint.h>

namespace vinto {

// Window and control style bits the stand-in honours.
constexpr uint32_t DIALOG_WS_BORDER = 0x00800000;  // thin line around the window
constexpr uint32_t DIALOG_DS_CENTER = 0x00000800;  // centred on the screen
constexpr uint32_t DIALOG_WS_TABSTOP = 0x00010000; // reachable with Tab
constexpr uint32_t DIALOG_SS_CENTER = 0x00000001;  // text centred horizontally
constexpr uint32_t DIALOG_SS_CENTERIMAGE = 0x00000200;  // text centred vertically
constexpr uint32_t DIALOG_SS_SUNKEN = 0x00001000;  // half-sunken edge

enum DialogControlClass : uint8_t { DIALOG_STATIC, DIALOG_BUTTON };

struct DialogControlTemplate {
    DialogControlClass control_class;
    int16_t id;              // command id sent on a click; -1 for the static
    uint32_t style;          // Windows style bits
    uint32_t extended_style; // Windows extended style bits
    int16_t x, y;            // dialog units from the client area's top left
    int16_t width, height;   // dialog units
    const char* text;
};

struct DialogTemplate {
    uint16_t resource_id;      // dialog resource number
    uint32_t style;            // Windows style bits
    int16_t width, height;     // client area in dialog units
    int16_t point_size;        // font size in points
    const char* face;          // font face name
    int32_t control_count;     // entries in controls
    const DialogControlTemplate* controls;
};

constexpr DialogControlTemplate PLAYER_DIALOG_CONTROLS[] = {
    {DIALOG_STATIC, -1, 0x50021201, 0x20, 5, 5, 140, 15, "- vinto - talbet -"},
    {DIALOG_BUTTON, 1003, 0x50010000, 0, 5, 25, 140, 19, "close"},
};

constexpr DialogTemplate PLAYER_DIALOG = {
    120, 0x80800840, 153, 50, 8, "MS Sans Serif", 2, PLAYER_DIALOG_CONTROLS,
};

}  // namespace vinto
