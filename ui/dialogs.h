// The standard dialogs the windows ask the user through. Tests replace them
// with functions that answer at once.
#pragma once

#include <functional>

struct Dialogs {
    // Shows a message and waits until the user closes it.
    std::function<void(const char *message)> alert;
    // Asks for a line of text; null when the user cancels.
    std::function<const char *(const char *label)> input;
    // Asks for a file; null when the user cancels. `preset` may be null.
    std::function<const char *(const char *message, const char *pattern, const char *preset)> chooseFile;
};

// FLTK's fl_alert, fl_input and fl_file_chooser unless replaced.
extern Dialogs dialogs;
