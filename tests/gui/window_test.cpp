// Image windows: their controls, fitting and refreshing, every menu item's
// command lines, the dialogs and shortcuts, and the IW and open commands.
#include "gui_support.h"
#include <FL/filename.H>

#include "image/image_file.h"

#include <FL/Fl_Button.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Output.H>
#include <FL/Fl_Slider.H>
#include <FL/Fl_Value_Slider.H>

#include <signal.h>
#include <sys/resource.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

class WindowTest : public GuiTest {};

std::string fileText(const std::string &path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST_F(WindowTest, StartsWithTheInteractiveControlsHiddenAndOverCurrent) {
    ImageWindow *w = openWindow('c');
    EXPECT_STREQ(w->window->label(), "Image C");
    EXPECT_EQ(w->window->user_data(), w);
    for (Fl_Widget *control : std::vector<Fl_Widget *>{w->sourceChoice, w->operatorChoice, w->targetOutput,
                                                       w->paramSlider, w->finishButton, w->bkSlider,
                                                       w->mu1Slider, w->mu2Slider}) {
        EXPECT_FALSE(control->visible());
        EXPECT_FALSE(control->active());
    }
    EXPECT_EQ(w->alphaToggle->type(), FL_TOGGLE_BUTTON);
    Lines operators;
    for (int i = 0; i < w->operatorChoice->size() - 1; ++i) operators.push_back(w->operatorChoice->text(i));
    EXPECT_EQ(operators, Lines({"over", "under", "clear", "first", "second", "in", "out", "atop", "below",
                                "heldout", "heldin", "xor", "plus"}));
    EXPECT_STREQ(w->operatorChoice->text(), "over");
    Lines titles;
    for (const Fl_Menu_Item *m = w->menuBar->menu(); m->label(); m = m->next()) titles.push_back(m->label());
    EXPECT_EQ(titles, Lines({"Basics", "Required", "Advanced", "Matte", "View"}));
}

TEST_F(WindowTest, FitsTheViewToTheImageAndRefreshReportsIt) {
    fill('A', 200, 100);
    ImageWindow *w = openWindow('a');
    EXPECT_STREQ(w->window->label(), "Image A");
    const int narrowest = w->minimumWidth; // wider than the image needs
    EXPECT_EQ(w->window->w(), narrowest);
    EXPECT_EQ(w->window->h(), 158);
    EXPECT_EQ(box(w->view), (Box{55, 30, narrowest - 60, 100}));
    // Only the view grows: the bar under it moves down, the columns stay.
    EXPECT_EQ(box(w->alphaToggle), (Box{55, 135, 40, 20}));
    EXPECT_EQ(w->operatorChoice->y(), 135);
    EXPECT_EQ(box(w->menuBar), (Box{0, 0, narrowest, 25}));
    EXPECT_EQ(box(w->finishButton), (Box{5, 135, 40, 20}));
    EXPECT_EQ(w->paramSlider->x(), 5);
    EXPECT_EQ(w->paramSlider->w(), 40);

    fill('A', 100, 50); // what "half A" leaves
    EXPECT_EQ(captureOutput([&] { w->refresh(); }), "reset image A\n");
    EXPECT_EQ(box(w->view), (Box{55, 30, narrowest - 60, 50}));
    EXPECT_EQ(w->view->image()->pixels, registerAt(0)->pixels);
    EXPECT_EQ(w->view->image()->width, 100);

    w->noResize = true;
    fill('A', 30, 20);
    captureOutput([&] { w->refresh(); });
    EXPECT_EQ(box(w->view), (Box{55, 30, narrowest - 60, 50}));
    EXPECT_EQ(w->view->image()->width, 30);

    ImageWindow *empty = openWindow('Q');
    EXPECT_EQ(empty->window->w(), narrowest);
    EXPECT_EQ(empty->window->h(), 58);
}

// A view never paints from a buffer its register has released, even before
// its own window is refreshed.
TEST_F(WindowTest, SecondWindowRepaintsTheRegistersNewBufferBeforeItsRefresh) {
    fill('A', 40, 30);
    ImageWindow *first = openWindow('A');
    ImageWindow *second = openWindow('A');
    Fl::check();
    unsigned char *old = registerAt(0)->pixels;
    EXPECT_EQ(second->view->image()->pixels, old);

    // A slider replaces A's buffer and refreshes its own window only.
    captureOutput([&] {
        pick(first, "Required/Darken");
        first->paramSlider->value(0.5);
        first->paramSlider->do_callback();
    });
    EXPECT_EQ(commandLines().back(), "darken A 0.5 0.5");

    second->window->damage(FL_DAMAGE_ALL);
    Fl::check(); // repaints on screen from the register, not from `old`
    Capture c = captureWidget(second->window);
    const unsigned char *now = registerAt(0)->pixels;
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) {
            const unsigned char *p = now + (y * 40 + x) * 4;
            ASSERT_EQ(c.at(55 + x, 30 + y), (Rgb{p[0], p[1], p[2]})) << x << "," << y;
        }
}

struct LinesCase {
    const char *item;
    Lines lines;
    bool refreshes;
};

TEST_F(WindowTest, MenuItemsRunTheirLinesWithTheWindowsLetter) {
    fill('C', 4, 4);
    ImageWindow *w = openWindow('c');
    const LinesCase cases[] = {
        {"Required/Half", {"half C"}, true},
        {"Required/Double", {"double C"}, true},
        {"Required/Blur", {"blur C 1"}, true},
        {"Required/BW-dither", {"bw C"}, true},
        {"Required/BW-clip", {"bw C 1"}, true},
        {"Required/BW - ordered dither 2x2", {"bw C 2"}, true},
        {"Required/BW - ordered dither 3x3", {"bw C 3"}, true},
        {"Advanced/Grays", {"grays C"}, true},
        {"Advanced/Painter (dots)", {"half C", "painter C"}, true},
        {"Advanced/Painter (squiggles)", {"half C", "painter2 C"}, true},
        {"Advanced/Painter (highlighted squiggles)", {"half C", "painter3 C"}, true},
        {"Basics/Help", {"help"}, true},
        {"Basics/Solid", {}, false}, // the one item without an action
        {"Required/Solid", {}, true},
        {"Matte/difference", {}, true},
    };
    for (const LinesCase &c : cases) {
        console->output->clear();
        std::string out = captureOutput([&] { pick(w, c.item); });
        EXPECT_EQ(commandLines(), c.lines) << c.item;
        EXPECT_EQ(out, c.refreshes ? "reset image C\n" : "") << c.item;
    }
    EXPECT_EQ(asked, Lines({"alert Solid must be called from console",
                            "alert Difference Matting Must be Done from Console!"}));
}

TEST_F(WindowTest, WriteAsksForANameAndRunsTheLineUnlessCancelled) {
    fill('B', 3, 2);
    ImageWindow *w = openWindow('B');
    answers = {path("b.tga"), std::string(""), std::nullopt};
    console->output->clear();
    std::string out = captureOutput([&] {
        pick(w, "Basics/Write");
        pick(w, "Basics/Write");
        pick(w, "Basics/Write");
    });
    EXPECT_EQ(asked, Lines(3, "input File Name?"));
    EXPECT_EQ(commandLines(), Lines({"write B " + path("b.tga"), "write B "}));
    EXPECT_EQ(out, "reset image B\nreset image B\nreset image B\n");
    Image back;
    ASSERT_EQ(loadImageFile(path("b.tga").c_str(), &back), IMAGE_FILE_OK);
    EXPECT_EQ(back.width, 3);
    back.release();
}

// The choosers list every picture file in any case and start in the working
// folder, then in that of the last file chosen, also after a cancel. A long
// path reaches the command whole.
TEST_F(WindowTest, ReadChoosesAPictureAndRefreshesEvenWhenCancelled) {
    const std::string pattern = imageFilePattern();
    for (const char *name : {"a.tga", "b.PNG", "c.Jpg", "d.jpeg"}) EXPECT_TRUE(fl_filename_match(name, pattern.c_str()));
    EXPECT_FALSE(fl_filename_match("e.txt", pattern.c_str()));
    fill('D', 5, 7);
    const std::string file = path(std::string(150, 'd') + ".png");
    ASSERT_EQ(saveImageFile(file.c_str(), *registerAt(3)), IMAGE_FILE_OK);
    registerAt(3)->release();
    ImageWindow *w = openWindow('A');
    answers = {file, std::nullopt, std::nullopt};
    console->output->clear();
    std::string out = captureOutput([&] {
        pick(w, "Basics/Read");
        pick(w, "Basics/Read");
        pick(w, "Basics/Read Script");
    });
    EXPECT_EQ(asked, Lines({"choose File to Read " + pattern + " \"./\"", "choose File to Read " + pattern + " \"" + dir + "/\"",
                            "choose Pick a script file *.txt \"" + dir + "/\""}));
    EXPECT_EQ(commandLines(), Lines({"read A " + file}));
    EXPECT_EQ(registerAt(0)->width, 5);
    EXPECT_EQ(out, "reset image A\nreset image A\nreset image A\n");
    EXPECT_EQ(box(w->view), (Box{55, 30, w->minimumWidth - 60, 7}));
}

TEST_F(WindowTest, ScriptsAreReadAndTheHistoryWrittenAsAScript) {
    ImageWindow *w = openWindow('A');
    std::ofstream(path("s.txt")) << "Sample one\nhelp\n";
    answers = {path("s.txt"), std::nullopt};
    console->output->clear();
    std::string out = captureOutput([&] {
        pick(w, "Basics/Read Script");
        pick(w, "Basics/Read Script");
    });
    EXPECT_EQ(asked, Lines({"choose Pick a script file *.txt \"./\"", "choose Pick a script file *.txt \"" + dir + "/\""}));
    EXPECT_EQ(commandLines(), Lines({"script " + path("s.txt"), "Sample one\n", "help\n"}));
    EXPECT_EQ(out, "reset image A\nreset image A\n");

    asked.clear();
    answers = {path("history.txt")};
    pick(w, "Basics/Write Script");
    EXPECT_EQ(asked, Lines({"input Script File Name?"}));
    EXPECT_EQ(fileText(path("history.txt")), "script " + path("s.txt") + "\nSample one\n\nhelp\n\n");

    // A file that cannot be created: nothing in the history, an alert for the user.
    asked.clear();
    const size_t lines = consoleLines().size();
    answers = {path("no/such/dir.txt")};
    pick(w, "Basics/Write Script");
    EXPECT_EQ(asked, Lines({"input Script File Name?",
                            "alert Could not create the script file `" + path("no/such/dir.txt") + "'"}));
    EXPECT_EQ(consoleLines().size(), lines);

    // A failed write keeps the old history and says so; so does a full device.
    const std::string old = fileText(path("history.txt"));
    rlimit before;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    rlimit tiny = before;
    tiny.rlim_cur = 4;
    sighandler_t ignored = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tiny), 0);
    asked.clear();
    answers = {path("history.txt"), std::string("/dev/full")};
    pick(w, "Basics/Write Script");
    pick(w, "Basics/Write Script");
    setrlimit(RLIMIT_FSIZE, &before);
    signal(SIGXFSZ, ignored);
    EXPECT_EQ(asked, Lines({"input Script File Name?", "alert Could not write the script file `" + path("history.txt") + "'",
                            "input Script File Name?", "alert Could not write the script file `/dev/full'"}));
    EXPECT_EQ(fileText(path("history.txt")), old);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()), 2);
}

TEST_F(WindowTest, CopyOpensAWindowOnTheFirstFreeRegister) {
    fill('A', 6, 6);
    fill('B', 2, 2);
    ImageWindow *w = openWindow('B');
    console->output->clear();
    pick(w, "Basics/Copy");
    EXPECT_EQ(commandLines(), Lines({"copy B C", "iw C"}));
    EXPECT_STREQ(imageWindows->window->label(), "Image C");
    EXPECT_TRUE(imageWindows->window->shown());
}

TEST_F(WindowTest, ShortcutsReachTheirItems) {
    fill('A', 4, 4);
    ImageWindow *w = openWindow('A');
    w->window->wait_for_expose();
    w->window->take_focus(); // as when the pointer enters it
    EXPECT_EQ(Fl::focus(), w->alphaToggle);
    console->output->clear();
    sendKey(w->window, 's', "s", FL_ALT);
    sendKey(w->window, 'o', "o", FL_ALT);
    sendKey(w->window, FL_Tab, "\t");
    EXPECT_EQ(asked, Lines({"input File Name?", "choose file to open " + imageFilePattern() + " null"}));
    EXPECT_EQ(commandLines(), Lines({"open", "help"}));
}

TEST_F(WindowTest, IwOpensAWindowPerCallAndRefusesBadNames) {
    console->output->clear();
    runFormatted("iw");
    runFormatted("iw AB");
    runFormatted("iw 7");
    EXPECT_EQ(imageWindows, nullptr);
    Lines errors;
    for (const std::string &line : consoleLines())
        if (line.rfind("@C1@.--", 0) != 0 && line.rfind("@C4@.", 0) != 0) errors.push_back(line);
    EXPECT_EQ(errors, Lines({"@C1@.No register name!\n",
                             "@C1@.Register name `AB' is bad - must have 1 character!\n",
                             "@C1@.Bad register name `7'\n"}));

    fill('E', 3, 3);
    ImageWindow *one = openWindow('e');
    ImageWindow *two = openWindow('E');
    EXPECT_NE(one, two);
    EXPECT_EQ(two->next, one);
    EXPECT_EQ(two->registerIndex, 4);
    EXPECT_EQ(two->image, registerAt(4));
    EXPECT_TRUE(two->window->shown());
}

TEST_F(WindowTest, OpenReadsTheChosenFileIntoTheFirstFreeRegister) {
    fill('C', 9, 4);
    ASSERT_EQ(saveImageFile(path("c.tga").c_str(), *registerAt(2)), IMAGE_FILE_OK);
    fill('A', 1, 1);
    std::ofstream(path("bad.tga")) << "no picture";
    answers = {std::nullopt, path("bad.tga"), path("c.tga")};
    console->output->clear();
    runFormatted("open"); // cancelled
    runFormatted("open"); // a file that cannot be read: the read says why
    EXPECT_EQ(imageWindows, nullptr);
    EXPECT_TRUE(registerAt(1)->empty());
    runFormatted("OPEN");
    EXPECT_EQ(asked, Lines(3, "choose file to open " + imageFilePattern() + " null"));
    EXPECT_EQ(commandLines(),
              Lines({"open", "open", "read B " + path("bad.tga"), "OPEN", "read B " + path("c.tga"), "iw B"}));
    ASSERT_NE(imageWindows, nullptr);
    EXPECT_STREQ(imageWindows->window->label(), "Image B");
    EXPECT_EQ(registerAt(1)->width, 9);

    // With every register in use the read goes to Z, whose picture stays.
    for (char letter = 'C'; letter <= 'Z'; ++letter) fill(letter, 2, 1);
    ImageWindow *last = imageWindows;
    answers = {path("bad.tga")};
    runFormatted("open");
    EXPECT_EQ(imageWindows, last);
}

// However narrow the picture, the menu titles reach as far as in a wide
// window, and the composite controls keep their size.
TEST_F(WindowTest, NarrowPicturesKeepEveryMenuTitleAndControlWhole) {
    fill('A', 400, 30);
    fill('B', 20, 20);
    auto titlesEnd = [](ImageWindow *w) { // the last column of black text
        const Capture c = captureWidget(w->window);
        int end = 0;
        for (int y = 2; y < w->menuBar->h() - 2; ++y) // inside the bar's frame
            for (int x = 2; x < w->menuBar->w() - 2; ++x) end = c.at(x, y).r < 64 ? std::max(end, x) : end;
        return end;
    };
    const int end = titlesEnd(openWindow('A'));
    EXPECT_EQ(titlesEnd(openWindow('Q')), end); // empty
    ImageWindow *w = openWindow('B');
    EXPECT_EQ(titlesEnd(w), end);
    pick(w, "Required/Composite");
    EXPECT_EQ(box(w->targetOutput), (Box{225, w->alphaToggle->y(), 35, 20}));
}

// A picture larger than the screen, shown one to one, scrolls in a window
// that stays on the screen with its controls; the pointer still names the
// picture's pixels.
TEST_F(WindowTest, APictureLargerThanTheScreenScrolls) {
    fill('A', 4000, 3000);
    ImageWindow *w = openWindow('A');
    w->window->wait_for_expose();
    pick(w, "Required/Darken"); // shows the finish button
    Fl_Window *win = w->window;
    EXPECT_LE(win->x() + win->w(), Fl::w());
    for (Fl_Widget *control : {(Fl_Widget *)w->finishButton, (Fl_Widget *)w->alphaToggle}) {
        EXPECT_GE(win->x() + control->x(), 0);
        EXPECT_LE(win->y() + control->y() + control->h(), Fl::h());
    }
    pick(w, "View/Actual Size");
    w->view->scrollTo(2000, 1500);
    EXPECT_EQ(captureWidget(win).at(55 + 100, 30 + 50), (Rgb{(2100 * 10) & 255, (1550 * 10) & 255, 100}));
    pick(w, "Required/Crop");
    console->output->clear();
    sendMouse(win, FL_PUSH, 55 + 100, 30 + 50);
    captureOutput([&] { sendMouse(win, FL_RELEASE, 55 + 300, 30 + 250); });
    EXPECT_EQ(commandLines(), Lines({"crop A 2100 1550 200 200"}));
}

TEST_F(WindowTest, QuitEndsTheProgramThroughStop) {
    ImageWindow *w = openWindow('A');
    EXPECT_EXIT(pick(w, "Basics/Quit"), testing::ExitedWithCode(1), "");
}

} // namespace
