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
    Fl_Window *window = new Fl_Window(80, 35);
    Fl_Button *done = new Fl_Button(0, 0, 35, 20, "Done");
    done->labelsize(10);
    Fl_Button *alpha = new Fl_Button(5, 0, 35, 20, "Alpha");
    alpha->type(FL_TOGGLE_BUTTON);
    alpha->selection_color(FL_YELLOW);
    alpha->labelsize(10);
    ImageView *display = new ImageView(5, 5, w, h);
    display->setDragMode(ImageView::DragMode::Off);
    display->setImage(&image, alpha);
    // A picture too large for the work area is fitted to it; an empty
    // register keeps its size of -1 x -1.
    int areaX, areaY, areaWidth, areaHeight;
    Fl::screen_work_area(areaX, areaY, areaWidth, areaHeight);
    display->fitWithin(areaWidth - 10, areaHeight - 35);
    const ImageView::Size fitted = display->displayedSize();
    const int shownWidth = std::min(w, fitted.width), shownHeight = std::min(h, fitted.height);
    // Sizing the window stretches its widgets: they are placed after it.
    window->size(std::max(shownWidth + 10, 80), shownHeight + 35);
    done->resize(shownWidth - 40, shownHeight + 10, 35, 20);
    alpha->resize(5, shownHeight + 10, 35, 20);
    display->resize(5, 5, shownWidth, shownHeight);
    window->end();
    window->set_modal();
    window->show();

    // Alpha repaints the picture in the other mode as it is pressed, so the
    // next drawing shows it however soon that comes. Done keeps FLTK's
    // default callback, which queues it to be read here.
    alpha->callback([](Fl_Widget *, void *view) { ((ImageView *)view)->redraw(); }, display);
    Fl_Widget *read = nullptr;
    while (window->shown() && read != done) {
        Fl::wait();
        while ((read = Fl::readqueue()) && read != done) {
        }
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
