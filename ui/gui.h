// The windowed mode: the console window and interactive start-up.
#pragma once

#include <string>
#include <vector>

class Fl_Input;
class Fl_Multi_Browser;
class Fl_Widget;
class Fl_Window;

// The main window of the windowed mode: output list above a command line.
struct Console {
    Fl_Window *window;
    Fl_Multi_Browser *output;
    Fl_Input *input;
};

// Opens the display, builds the console once and points console output at
// it. Null, after saying why, when there is no display.
Console *startConsole();

// True when windows can be opened, that is in the windowed mode. Otherwise
// prints that `command` needs the windowed mode and a display.
bool requireWindowedMode(const char *command);

// Whether a command is running: the windows show the busy cursor meanwhile.
bool commandRunning();

// Runs the console and image windows until every window is closed, starting
// with a window on each of `pictures` or, with none, with the chooser of a
// first picture. Returns false, after saying why, when the windowed mode
// cannot start.
bool runGui(const std::vector<std::string> &pictures);

// Runs the typed line, empties the input field and refreshes every image
// window.
void consoleInputCallback(Fl_Widget *input, void *);
