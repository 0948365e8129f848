#include "gui.h"

#include <FL/Fl.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Multi_Browser.H>
#include <FL/Fl_Window.H>

#include "commands.h"
#include "core/command.h"
#include "core/console.h"
#include "image_window.h"
#include "x_display.h"

namespace {

Console *theConsole = nullptr;

} // namespace

Console *startConsole() {
    if (theConsole) return theConsole;
    if (!openDisplay()) {
        consolePrintRed("The windowed mode needs a display, and DISPLAY is unset or cannot be opened\n");
        return nullptr;
    }
    Console *console = new Console;
    console->window = new Fl_Window(505, 469, "Compositor Console");
    console->window->user_data(console);
    console->output = new Fl_Multi_Browser(5, 5, 500, 430);
    console->input = new Fl_Input(5, 440, 500, 25, "input:");
    console->input->callback(consoleInputCallback);
    console->input->when(FL_WHEN_ENTER_KEY);
    console->window->end();
    console->window->resizable(console->window);
    consoleOutput = console->output;
    theConsole = console;
    return console;
}

bool requireWindowedMode(const char *command) {
    if (theConsole) return true;
    consolePrintRed("%s needs the windowed mode and a display\n", command);
    return false;
}

bool runGui() {
    Console *console = startConsole();
    if (!console) return false;
    console->window->show();
    while (console->window->shown()) {
        runCommandLine(openCommand);
        Fl::run();
    }
    return true;
}

void consoleInputCallback(Fl_Widget *widget, void *) {
    Fl_Input *input = (Fl_Input *)widget;
    runCommand(input->value());
    input->value("");
    for (ImageWindow *w = imageWindows; w; w = w->next) w->refresh();
}
