#include "display_dialog.h"

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Window.H>

#include <algorithm>
#include <cstdio>

#include "core/command.h"
#include "core/registers.h"
#include "gui.h"
#include "image_view.h"

void lessSimpModalDis(Image &image) {
    const int w = image.width, h = image.height;
    printf("in lessSimpModalDis WIDTH %d HEIGHT %d\n", w, h);
    fflush(stdout);
    Fl_Window *window = new Fl_Window(std::max(w + 10, 80), h + 35);
    Fl_Button *done = new Fl_Button(w - 40, h + 10, 35, 20, "Done");
    done->labelsize(10);
    Fl_Button *alpha = new Fl_Button(5, h + 10, 35, 20, "Alpha");
    alpha->type(FL_TOGGLE_BUTTON);
    alpha->selection_color(FL_YELLOW);
    alpha->labelsize(10);
    ImageDisplay *display = new ImageDisplay(5, 5, w, h, image.pixels, alpha);
    window->end();
    window->set_modal();
    window->show();

    // The buttons keep FLTK's default callback, which queues them to be read
    // here. Whatever else comes out is Alpha: repaint in the other mode.
    Fl_Widget *read = nullptr;
    while (window->shown() && read != done) {
        Fl::wait();
        while ((read = Fl::readqueue()) && read != done) display->damage(1);
    }
    delete display;
    delete alpha;
    delete done;
    delete window;
}

namespace {

// show R: displays register R in the modal dialog until it is closed.
int show(const Command &self, char *args) {
    if (!requireWindowedMode(self.name)) return 1;
    splitWord(args);
    Image *image = lookupRegister(args);
    if (image) lessSimpModalDis(*image);
    return 1;
}

} // namespace

FunctionCommand showCommand("show", "show R", "shows R in a modal dialog (windowed mode)", show);
