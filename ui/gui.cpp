#include "gui.h"

#include <FL/Fl.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Menu_Bar.H>
#include <FL/Fl_Multi_Browser.H>
#include <FL/Fl_Window.H>

#include <string>
#include <vector>

#include "commands.h"
#include "core/command.h"
#include "core/console.h"
#include "image_window.h"
#include "x_display.h"

namespace {

Console *theConsole = nullptr;

// The console's command line: Up and Down step through the lines typed
// before in this session, as in a shell; a recalled line runs only on Enter.
class ConsoleInput : public Fl_Input {
  public:
    ConsoleInput(int x, int y, int w, int h, const char *label) : Fl_Input(x, y, w, h, label) {}

    void remember(const char *line) {
        if (*line) typed.push_back(line);
        recalled = typed.size();
    }

    int handle(int event) override {
        const int key = Fl::event_key();
        if (event != FL_KEYBOARD || (key != FL_Up && key != FL_Down)) return Fl_Input::handle(event);
        if (key == FL_Up && recalled > 0) --recalled;
        if (key == FL_Down && recalled < typed.size()) ++recalled;
        value(recalled < typed.size() ? typed[recalled].c_str() : "");
        position(size());
        return 1;
    }

  private:
    std::vector<std::string> typed;
    size_t recalled = 0; // typed.size() past the last line
};

// The window manager's close button hides the console; Escape, which FLTK
// would take for the same, does nothing.
void closeConsole(Fl_Widget *window, void *) {
    if (Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape) return;
    window->hide();
}

// A key that is a menu shortcut of an image window reaches the menu before
// the widget with the focus, which would take Tab to move the focus.
int shortcutsFirst(int event, Fl_Window *window) {
    if (event == FL_KEYBOARD)
        for (ImageWindow *w = imageWindows; w; w = w->next)
            if (w->window == window && w->menuBar->handle(FL_SHORTCUT)) return 1;
    return Fl::handle_(event, window);
}

// The busy cursor over every window while a command runs.
int commandsRunning = 0;
void showBusy(bool running) {
    commandsRunning += running ? 1 : -1;
    if (commandsRunning > (running ? 1 : 0)) return; // a nested command
    for (Fl_Window *w = Fl::first_window(); w; w = Fl::next_window(w))
        w->cursor(running ? FL_CURSOR_WAIT : FL_CURSOR_DEFAULT);
    if (running) Fl::flush();
}

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
    console->window->callback(closeConsole);
    console->output = new Fl_Multi_Browser(5, 5, 500, 430);
    console->input = new ConsoleInput(50, 440, 455, 25, "input:");
    console->input->callback(consoleInputCallback);
    console->input->when(FL_WHEN_ENTER_KEY);
    console->window->end();
    console->window->resizable(console->window);
    consoleOutput = console->output;
    Fl::event_dispatch(shortcutsFirst);
    watchCommands(showBusy);
    theConsole = console;
    return console;
}

bool commandRunning() { return commandsRunning > 0; }

bool requireWindowedMode(const char *command) {
    if (theConsole) return true;
    // Not an error: a saved session replays headless with its window lines.
    consolePrintRedResult("%s needs the windowed mode and a display\n", command);
    return false;
}

bool runGui(const std::vector<std::string> &pictures) {
    Console *console = startConsole();
    if (!console) return false;
    console->window->show();
    for (const std::string &picture : pictures) openInNewWindow(picture.c_str());
    for (bool choose = pictures.empty(); console->window->shown(); choose = true) {
        if (choose) runCommandLine(openCommand);
        Fl::run();
    }
    return true;
}

void consoleInputCallback(Fl_Widget *widget, void *) {
    ConsoleInput *input = (ConsoleInput *)widget;
    input->remember(input->value());
    runCommand(input->value());
    input->value("");
    refreshImageWindows();
}
