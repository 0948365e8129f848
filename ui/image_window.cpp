#include "image_window.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Menu_Bar.H>
#include <FL/Fl_Output.H>
#include <FL/Fl_Value_Slider.H>
#include <FL/Fl_Window.H>
#include <FL/fl_draw.H>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "core/command.h"
#include "core/console.h"
#include "core/registers.h"
#include "commands.h"
#include "dialogs.h"
#include "gui.h"
#include "image/image_file.h"
#include "image/safe_output.h"
#include "image/tga.h"
#include "image_view.h"

ImageWindow *imageWindows = nullptr;

void refreshImageWindows() {
    for (ImageWindow *w = imageWindows; w; w = w->next) w->refresh();
}
std::string chooserFolder;

namespace {

// The window a widget or menu bar belongs to.
ImageWindow *owner(Fl_Widget *widget) { return (ImageWindow *)widget->top_window()->user_data(); }

void redrawView(Fl_Widget *widget, void *) { owner(widget)->view->redraw(); }

// A View menu item: zooms the window's view, and runs no command line.
void zoomView(Fl_Widget *menu, void *key) { (owner(menu)->view->*((const ImageView::ZoomKey *)key)->zoom)(); }

// A callback that calls an operation of the widget's window.
template <void (ImageWindow::*operation)()> void callWindow(Fl_Widget *widget, void *) {
    (owner(widget)->*operation)();
}

// A slider operation as a menu item starts it; rotation and scaling keep
// the window's size while the slider moves.
struct SliderItem {
    const char *label;
    const Command &command;
    float minimum, maximum, factor, initial;
    bool keepSize;
};
const SliderItem darkenItem{"darken", darkenCommand, 0, 1.5f, 1, 1, false};
const SliderItem dissolveItem{"fade", dissolveCommand, 0, 1, 1, 1, false};
const SliderItem rotateItem{"rot", rotateCommand, -90, 90, 1, 0, true};
const SliderItem scaleItem{"scale", scaleCommand, 0.1f, 4, 1, 1, true};

void startSlider(Fl_Widget *menu, void *data) {
    const SliderItem &s = *(const SliderItem *)data;
    ImageWindow *w = owner(menu);
    if (s.keepSize) w->noResize = true;
    w->startSliderOperation(s.label, s.command, s.minimum, s.maximum, s.factor, s.initial);
}

// A menu item's command line: the command and its arguments, formatted with
// the window's letter (null for none).
struct MenuLine {
    const Command &command;
    const char *arguments;
};
const MenuLine halfLine{halfCommand, "%c"}, doubleLine{doubleCommand, "%c"}, blurLine{blurCommand, "%c 1"},
    ditherLine{bwCommand, "%c"}, clipLine{bwCommand, "%c 1"}, ordered2Line{bwCommand, "%c 2"},
    ordered3Line{bwCommand, "%c 3"}, graysLine{graysCommand, "%c"}, painterLine{painterCommand, "%c"},
    painter2Line{painter2Command, "%c"}, painter3Line{painter3Command, "%c"}, openLine{openCommand, nullptr},
    helpLine{helpCommand, nullptr};

// Asks for a file, and remembers its folder for the next chooser.
const char *chooseFile(const char *message, const char *pattern, const char *preset) {
    const char *path = dialogs.chooseFile(message, pattern, preset);
    if (path) {
        const char *name = strrchr(path, '/');
        chooserFolder.assign(path, name ? name + 1 - path : 0);
    }
    return path;
}

// Where Read and Read Script open the chooser. Given no folder, the chooser
// would start from the last file it returned, which after a cancel is none:
// the list of file systems.
const char *startFolder() { return chooserFolder.empty() ? "./" : chooserFolder.c_str(); }

// Menu actions.

// Each is followed by a refresh of every window, as a typed line is: an
// action may change any register, a script from a file any number.
template <Fl_Callback *action> void refreshingAll(Fl_Widget *menu, void *data) {
    action(menu, data);
    refreshImageWindows();
}

void runLine(Fl_Widget *menu, void *data) {
    const MenuLine &line = *(const MenuLine *)data;
    runCommandLine(line.command, line.arguments, owner(menu)->letter());
}

// The painters work on the image halved first.
void halveAndRun(Fl_Widget *menu, void *line) {
    runCommandLine(halfCommand, "%c", owner(menu)->letter());
    runLine(menu, line);
}

// The one word that is no command: the dispatcher ends the program on it.
void stop(Fl_Widget *, void *) { runFormatted("stop"); }

void showAlert(Fl_Widget *, void *message) { dialogs.alert((const char *)message); }

void writeImage(Fl_Widget *menu, void *) {
    const char *name = dialogs.input("File Name?");
    if (name) runCommandLine(writeCommand, "%c %s", owner(menu)->letter(), name);
}

void readImage(Fl_Widget *menu, void *) {
    const char *path = chooseFile("File to Read", imageFilePattern().c_str(), startFolder());
    if (path) runCommandLine(readCommand, "%c %s", owner(menu)->letter(), path);
}

void copyToNewWindow(Fl_Widget *menu, void *) {
    const char target = (char)('A' + firstFreeRegister());
    runCommandLine(copyCommand, "%c %c", owner(menu)->letter(), target);
    runCommandLine(iwCommand, "%c", target);
}

void readScript(Fl_Widget *, void *) {
    const char *path = chooseFile("Pick a script file", "*.txt", startFolder());
    if (path) runCommandLine(scriptCommand, "%s", path);
}

// The history is gathered first and then written like an image file, so a
// failed write keeps the old file; the user is told of any failure in a
// dialog naming the file.
void writeScript(Fl_Widget *, void *) {
    const char *name = dialogs.input("Script File Name?");
    if (!name) return;
    char *text = nullptr;
    size_t size = 0;
    FILE *history = open_memstream(&text, &size);
    bool gathered = history != nullptr;
    if (gathered) {
        writeCommandHistory(history);
        gathered = !ferror(history);
        gathered = fclose(history) == 0 && gathered;
    }
    std::unique_ptr<char, decltype(&free)> owned(text, free);
    SafeOutput out;
    const int opened = gathered ? out.open(name, size) : TGA_CANNOT_WRITE;
    if (opened == TGA_NO_ERROR && out.commit(out.write(text, size)) == TGA_NO_ERROR) return;
    char message[300];
    snprintf(message, sizeof message,
             opened == TGA_CANNOT_OPEN ? "Could not create the script file `%s'" : "Could not write the script file `%s'",
             name);
    dialogs.alert(message);
}

// One entry of a static menu table; the label null ends a (sub)menu.
Fl_Menu_Item item(const char *label, Fl_Callback *action = nullptr, const void *data = nullptr,
                  int flags = 0, int shortcut = 0) {
    return {label, shortcut, action, (void *)data, flags, 0, 0, 0, 0};
}

// "Solid" under "Basics" is the one item that does nothing at all.
const Fl_Menu_Item menuTable[] = {
    item("Basics", nullptr, nullptr, FL_SUBMENU),
    item("Write", refreshingAll<writeImage>, nullptr, 0, FL_ALT + 's'),
    item("Read", refreshingAll<readImage>),
    item("Open in New Window", refreshingAll<runLine>, &openLine, FL_MENU_DIVIDER, FL_ALT + 'o'),
    item("Copy", refreshingAll<copyToNewWindow>),
    item("Solid", nullptr, nullptr, FL_MENU_DIVIDER),
    item("Read Script", refreshingAll<readScript>),
    item("Write Script", refreshingAll<writeScript>, nullptr, FL_MENU_DIVIDER),
    item("Help", refreshingAll<runLine>, &helpLine, 0, FL_Tab),
    item("Quit", stop),
    item(nullptr),
    item("Required", nullptr, nullptr, FL_SUBMENU),
    item("Half", refreshingAll<runLine>, &halfLine),
    item("Double", refreshingAll<runLine>, &doubleLine),
    item("Crop", refreshingAll<callWindow<&ImageWindow::startCrop>>),
    item("Blur", refreshingAll<runLine>, &blurLine),
    item("Darken", refreshingAll<startSlider>, &darkenItem),
    item("Dissolve", refreshingAll<startSlider>, &dissolveItem, FL_MENU_DIVIDER),
    item("BW-dither", refreshingAll<runLine>, &ditherLine),
    item("BW-clip", refreshingAll<runLine>, &clipLine),
    item("BW - ordered dither 2x2", refreshingAll<runLine>, &ordered2Line),
    item("BW - ordered dither 3x3", refreshingAll<runLine>, &ordered3Line, FL_MENU_DIVIDER),
    item("Composite", refreshingAll<callWindow<&ImageWindow::startComposite>>),
    item("Solid", refreshingAll<showAlert>, "Solid must be called from console"),
    item(nullptr),
    item("Advanced", nullptr, nullptr, FL_SUBMENU),
    item("Rotate", refreshingAll<startSlider>, &rotateItem),
    item("Scale", refreshingAll<startSlider>, &scaleItem, FL_MENU_DIVIDER),
    item("Painter (dots)", refreshingAll<halveAndRun>, &painterLine),
    item("Painter (squiggles)", refreshingAll<halveAndRun>, &painter2Line),
    item("Painter (highlighted squiggles)", refreshingAll<halveAndRun>, &painter3Line, FL_MENU_DIVIDER),
    item("Grays", refreshingAll<runLine>, &graysLine),
    item(nullptr),
    item("Matte", nullptr, nullptr, FL_SUBMENU),
    item("bluescreen", refreshingAll<callWindow<&ImageWindow::startBluescreen>>),
    item("difference", refreshingAll<showAlert>, "Difference Matting Must be Done from Console!"),
    item(nullptr),
    item(nullptr),
};

// The operators of the composite command, "over" first.
const Fl_Menu_Item operatorTable[] = {
    item("over"), item("under"), item("clear"), item("first"), item("second"),
    item("in"), item("out"), item("atop"), item("below"), item("heldout"),
    item("heldin"), item("xor"), item("plus"), item(nullptr),
};

// The controls of the interactive operations start hidden and inactive.
template <class W> W *hidden(W *widget) {
    widget->deactivate();
    widget->hide();
    return widget;
}

// One of the three matte sliders, in the column at x: its value at its top
// and its name above it, both in small type to fit the column.
Fl_Value_Slider *matteSlider(int x, const char *name, double minimum, double maximum, double step, double value) {
    Fl_Value_Slider *slider = hidden(new Fl_Value_Slider(x, 42, 18, 198, name));
    slider->align(FL_ALIGN_TOP);
    slider->labelsize(7);
    slider->textsize(8);
    slider->bounds(minimum, maximum);
    slider->step(step);
    slider->value(value);
    slider->callback(callWindow<&ImageWindow::applyBluescreen>);
    return slider;
}

// The widest readout of a picture under 10000 pixels a side.
int readoutWidth(const Fl_Box *readout) {
    fl_font(readout->labelfont(), readout->labelsize());
    return (int)fl_width("x 0000  y 0000  R 255 G 255 B 255 A 255  1600%") + 4;
}

// The width of the menu bar's titles as it draws them: from 6 pixels in, each
// 16 wider than its label.
int titlesWidth(const Fl_Menu_Bar *menuBar) {
    int width = 6;
    for (const Fl_Menu_Item *m = menuBar->menu(); m->label(); m = m->next())
        width += m->measure(nullptr, menuBar) + 16;
    return width;
}

} // namespace

ImageWindow::ImageWindow(Image *image, int registerIndex) : registerIndex(registerIndex), image(image) {
    next = imageWindows;
    imageWindows = this;

    window = new Fl_Window(395, 268, "Unnamed Image Window");
    window->user_data(this);
    Fl_Group *imageArea = new Fl_Group(55, 30, 335, 235);
    Fl_Box *readout; // the part of the bar under the view that follows its width
    {
        Fl_Group *bottomBar = new Fl_Group(55, 245, 335, 20);
        alphaToggle = new Fl_Button(55, 245, 40, 20, "Alpha");
        alphaToggle->type(FL_TOGGLE_BUTTON);
        alphaToggle->selection_color(FL_YELLOW);
        alphaToggle->labelsize(10);
        alphaToggle->callback(redrawView);
        // It ends where the bar begins to stretch, so its controls never shrink.
        Fl_Group *compositeControls = new Fl_Group(105, 245, 160, 20);
        sourceChoice = hidden(new Fl_Choice(115, 245, 50, 20));
        sourceChoice->callback(callWindow<&ImageWindow::applyComposite>);
        operatorChoice = hidden(new Fl_Choice(165, 245, 60, 20));
        operatorChoice->menu(operatorTable);
        operatorChoice->callback(callWindow<&ImageWindow::applyComposite>);
        targetOutput = hidden(new Fl_Output(225, 245, 35, 20));
        compositeControls->end();
        readout = new Fl_Box(265, 245, 125, 20);
        readout->labelsize(10);
        readout->align(FL_ALIGN_INSIDE | FL_ALIGN_RIGHT | FL_ALIGN_CLIP);
        bottomBar->resizable(readout);
        bottomBar->end();
    }
    view = new ImageView(55, 30, 335, 210);
    view->callback(callWindow<&ImageWindow::onViewRelease>);
    view->readout = readout;
    view->onScaleChange = [this] { showTitle(); };
    view->setImage(image, alphaToggle);
    imageArea->resizable(view);
    imageArea->end();
    window->resizable(imageArea);

    menuBar = new Fl_Menu_Bar(0, 0, 395, 25);
    menuBar->menu(menuTable);
    for (const ImageView::ZoomKey &key : ImageView::zoomKeys)
        if (key.label) menuBar->add((std::string("View/") + key.label).c_str(), key.key, zoomView, (void *)&key);

    Fl_Group *sliderColumn = new Fl_Group(5, 30, 40, 235);
    paramSlider = hidden(new Fl_Value_Slider(5, 30, 40, 210));
    paramSlider->callback(callWindow<&ImageWindow::applySliderOperation>);
    finishButton = hidden(new Fl_Button(5, 245, 40, 20, "button"));
    finishButton->labelsize(10);
    finishButton->callback(callWindow<&ImageWindow::finishOperation>);
    sliderColumn->resizable(paramSlider);
    sliderColumn->end();

    Fl_Group *matteColumn = new Fl_Group(0, 30, 54, 210);
    bkSlider = matteSlider(0, "BK", 0, 255, 1, 255);
    mu1Slider = matteSlider(18, "MU1", 0, 10, 0.1, 2.1);
    mu2Slider = matteSlider(36, "MU2", 0, 5, 0.05, 0.6);
    matteColumn->resizable(bkSlider); // the names keep their place above
    matteColumn->end();

    window->end();
    minimumWidth = std::max(window->w() - readout->w() + readoutWidth(readout), titlesWidth(menuBar));
    window->size_range(minimumWidth, window->h() - view->h());
    fitToImage();
    showTitle();
}

void ImageWindow::showTitle() {
    if (view->oneToOne())
        snprintf(title, sizeof title, "Image %c", letter());
    else
        snprintf(title, sizeof title, "Image %c (%s)", letter(), view->scaleText().c_str());
    window->label(title);
}

void ImageWindow::fitToImage() {
    if (!noResize) {
        int areaX, areaY, areaWidth, areaHeight;
        Fl::screen_work_area(areaX, areaY, areaWidth, areaHeight, window->x(), window->y());
        const int aroundWidth = window->w() - view->w(), aroundHeight = window->h() - view->h();
        view->fitWithin(areaWidth - aroundWidth, areaHeight - aroundHeight);
        // The window around the whole displayed picture. One too large for
        // the work area scrolls, and a scroll bar wants room across the other way.
        const ImageView::Size shown = view->displayedSize();
        const int fullWidth = shown.width + aroundWidth, fullHeight = shown.height + aroundHeight;
        const int bar = Fl::scrollbar_size();
        const int w = std::min(std::max(fullWidth + (fullHeight > areaHeight ? bar : 0), minimumWidth), areaWidth);
        const int h = std::min(fullHeight + (fullWidth > areaWidth ? bar : 0), areaHeight);
        window->resize(std::max(areaX, std::min(window->x(), areaX + areaWidth - w)),
                       std::max(areaY, std::min(window->y(), areaY + areaHeight - h)), w, h);
    }
}

void ImageWindow::refresh() {
    image = registerAt(registerIndex);
    view->setImage(image, alphaToggle);
    fitToImage();
    view->redraw();
    // At once, for whoever follows the windows on standard output.
    printf("reset image %c\n", letter());
    fflush(stdout);
}

namespace {

// IW R: opens a further window on register R, empty or not.
int openWindow(const Command &self, char *args) {
    if (!requireWindowedMode(self.name)) return 1;
    splitWord(args);
    if (!lookupRegister(args)) return 1;
    const int index = toupper((unsigned char)args[0]) - 'A';
    (new ImageWindow(registerAt(index), index))->window->show();
    return 1;
}

bool readable(const char *path) {
    FILE *f = fopen(path, "r");
    if (f) fclose(f);
    return f != nullptr;
}

// open: asks for an image file and shows it in a new window on the first
// free register.
int openImage(const Command &self, char *) {
    if (!requireWindowedMode(self.name)) return 1;
    const char *course = "p:/course/ip301-studio/public/Images/beach.tga";
    const char *local = "c:/tga/beach.tga";
    const char *preset = readable(course) ? course : readable(local) ? local : nullptr;
    const char *path = chooseFile("file to open", imageFilePattern().c_str(), preset);
    if (path) openInNewWindow(path);
    return 1;
}

} // namespace

void openInNewWindow(const char *path) {
    const int index = firstFreeRegister();
    // Only a read that succeeds replaces the register's buffer; one that
    // fails has said why, and leaves nothing new to show.
    const unsigned char *before = registerAt(index)->pixels;
    runCommandLine(readCommand, "%c %s", 'A' + index, path);
    if (registerAt(index)->pixels != before) runCommandLine(iwCommand, "%c", 'A' + index);
}

FunctionCommand iwCommand("IW", "IW R", "opens a further window on R (windowed mode)", openWindow);
FunctionCommand openCommand("open", nullptr,
    "asks for a picture file and opens it in a new window (windowed mode)", openImage);
