#include "dialogs.h"

#include <FL/Fl_File_Chooser.H>
#include <FL/fl_ask.H>

// The message dialogs carry the program's name as their title.
Dialogs dialogs = {
    [](const char *message) {
        fl_message_title("Compositor");
        fl_alert("%s", message);
    },
    [](const char *label) {
        fl_message_title("Compositor");
        return fl_input("%s", nullptr, label);
    },
    [](const char *message, const char *pattern, const char *preset) {
        return (const char *)fl_file_chooser(message, pattern, preset);
    },
};
