#include "x_display.h"

#include <FL/x.H>

#include <cstdlib>

bool openDisplay() {
    if (fl_display) return true;
    const char *name = getenv("DISPLAY");
    Display *display = name && *name ? XOpenDisplay(nullptr) : nullptr;
    // FLTK adopts the connection; opening it itself would exit on failure.
    if (display) fl_open_display(display);
    return display != nullptr;
}
