// The interactive operations of image windows, driven with synthetic events
// and the controls' callbacks: the command lines they run, the controls they
// show, the window's size, and the display dialog of `show`.
#include "gui_support.h"

#include <FL/Fl_Button.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Output.H>
#include <FL/Fl_Slider.H>
#include <FL/Fl_Value_Slider.H>
#include <FL/fl_draw.H>

#include <functional>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes pixelsOf(char letter) {
    const Image *image = registerAt(letter - 'A');
    if (!image->pixels) return {};
    return Bytes(image->pixels, image->pixels + (size_t)image->width * image->height * 4);
}

class InteractiveTest : public GuiTest {
  protected:
    // The command lines that `action` runs, and what it prints on standard output.
    Lines linesOf(const std::function<void()> &action) {
        console->output->clear();
        out = captureOutput(action);
        return commandLines();
    }
    // Moves a valuator as a drag does: a new value, then its callback.
    Lines move(Fl_Valuator *valuator, double value) {
        return linesOf([&] {
            valuator->value(value);
            valuator->do_callback();
        });
    }
    // Picks the item of a choice as a click on it does.
    Lines choose(Fl_Choice *choice, const char *text) {
        return linesOf([&] { choice->picked(choice->find_item(text)); });
    }

    std::string out;
};

TEST_F(InteractiveTest, CropRunsTheRectangleDraggedInAnyDirectionOnce) {
    struct Case {
        std::pair<int, int> from, to;
        const char *line;
    };
    const Case cases[] = {
        {{10, 20}, {50, 60}, "crop A 10 20 40 40"},
        {{50, 60}, {10, 20}, "crop A 10 20 40 40"},
        // Toward the upper right the height is negative; crop turns it round.
        {{10, 60}, {50, 20}, "crop A 10 60 40 -40"},
    };
    for (const Case &c : cases) {
        fill('A', 100, 80);
        ImageWindow *w = openWindow('A');
        EXPECT_EQ(linesOf([&] { pick(w, "Required/Crop"); }), Lines{}) << c.line;
        EXPECT_EQ(w->mode, ImageWindow::Mode::Crop);
        EXPECT_EQ(linesOf([&] { dragOver(w->view, {c.from, {30, 30}, c.to}); }), Lines{c.line});
        EXPECT_EQ(out, "reset image A\n");
        EXPECT_EQ(w->mode, ImageWindow::Mode::Idle);
        EXPECT_EQ(box(w->view), (Box{55, 30, w->minimumWidth - 60, 40})) << c.line;
        // Pixel (10, 20) of the 100 x 80 image is now the corner.
        EXPECT_EQ(Bytes(registerAt(0)->pixels, registerAt(0)->pixels + 4), (Bytes{100, 200, 100, 225}));
    }

    // A click, or a drag along one line, crops nothing: the picture stays and
    // the window waits for a rectangle.
    fill('A', 100, 80);
    ImageWindow *clicked = openWindow('A');
    pick(clicked, "Required/Crop");
    EXPECT_EQ(linesOf([&] { dragOver(clicked->view, {{10, 20}}); }), Lines{});
    EXPECT_EQ(linesOf([&] { dragOver(clicked->view, {{10, 20}, {10, 50}}); }), Lines{});
    EXPECT_EQ(registerAt(0)->width, 100);
    EXPECT_EQ(clicked->mode, ImageWindow::Mode::Crop);
    EXPECT_EQ(linesOf([&] { dragOver(clicked->view, {{10, 20}, {50, 60}}); }), Lines{"crop A 10 20 40 40"});

    // The crop is a single shot: the next drag only refreshes.
    ImageWindow *w = imageWindows;
    EXPECT_EQ(linesOf([&] { dragOver(w->view, {{1, 1}, {20, 20}}); }), Lines{});
    EXPECT_EQ(out, "reset image A\n");
    EXPECT_EQ(registerAt(0)->width, 40);
}

TEST_F(InteractiveTest, CompositePlacesTheSourceCentredOnThePointerOverTheSavedImage) {
    fill('A', 100, 80);
    fill('B', 30, 20);
    fill('C', 10, 10);
    fill('Y', 5, 5); // Y and Z are never offered
    fill('Z', 5, 5);
    runFormatted("copy A P"); // to compare with
    ImageWindow *w = openWindow('A');
    EXPECT_EQ(linesOf([&] { pick(w, "Required/Composite"); }), Lines({"copy A z"}));
    EXPECT_EQ(w->mode, ImageWindow::Mode::Composite);
    EXPECT_EQ(w->view->dragMode(), ImageView::DragMode::Placement);
    Lines sources;
    for (int i = 0; i < w->sourceChoice->size() - 1; ++i) sources.push_back(w->sourceChoice->text(i));
    EXPECT_EQ(sources, Lines({"B", "C", "P"}));
    EXPECT_STREQ(w->sourceChoice->text(), "C"); // the entry at index 1
    // The outline has its size from the start, so the first drag centres it too.
    EXPECT_EQ(std::make_pair(w->view->placement().width, w->view->placement().height), std::make_pair(10, 10));
    EXPECT_STREQ(w->targetOutput->value(), "A");
    EXPECT_STREQ(w->operatorChoice->text(), "over");

    // A source picked composites at once at the top-left corner.
    EXPECT_EQ(choose(w->sourceChoice, "B"), Lines({"copy z A", "composite B over A 0 0"}));
    EXPECT_EQ(out, "reset image A\n");
    EXPECT_EQ(std::make_pair(w->view->placement().width, w->view->placement().height), std::make_pair(30, 20));

    // The rectangle follows the pointer with its centre; the release
    // composites again onto the saved image, and refreshes once more.
    EXPECT_EQ(linesOf([&] { dragOver(w->view, {{20, 20}, {40, 40}, {50, 50}}); }),
              Lines({"copy z A", "composite B over A 35 40"}));
    EXPECT_EQ(out, "reset image A\nreset image A\n");
    EXPECT_EQ(choose(w->operatorChoice, "plus"), Lines({"copy z A", "composite B plus A 35 40"}));
    runFormatted("composite B plus P 35 40");
    EXPECT_EQ(pixelsOf('A'), pixelsOf('P'));
}

TEST_F(InteractiveTest, CompositeWithoutACurrentSourceRunsNothing) {
    fill('A', 40, 30);
    ImageWindow *w = openWindow('A');
    pick(w, "Required/Composite");
    EXPECT_EQ(w->sourceChoice->size(), 0);
    EXPECT_EQ(w->sourceChoice->text(), nullptr);
    EXPECT_EQ(linesOf([&] { dragOver(w->view, {{20, 20}}); }), Lines{});
    EXPECT_EQ(out, "reset image A\nreset image A\n");
    EXPECT_EQ(std::make_pair(w->view->placement().width, w->view->placement().height), std::make_pair(4, 4));
    EXPECT_EQ(choose(w->operatorChoice, "in"), Lines{});

    // With one candidate there is no entry at index 1: none is current.
    fill('D', 6, 6);
    pick(w, "Required/Composite");
    EXPECT_EQ(w->sourceChoice->size(), 2);
    EXPECT_EQ(w->sourceChoice->text(), nullptr);
    EXPECT_EQ(choose(w->operatorChoice, "over"), Lines{});
    // A source emptied since the list was filled still gets its lines.
    registerAt(3)->release();
    EXPECT_EQ(choose(w->sourceChoice, "D"), Lines({"copy z A", "composite D over A 0 0"}));
    EXPECT_EQ(std::make_pair(w->view->placement().width, w->view->placement().height), std::make_pair(4, 4));
}

TEST_F(InteractiveTest, SliderOperationsRecomputeFromTheSavedImageOnEveryChange) {
    struct Case {
        const char *item, *label;
        double minimum, maximum, initial;
        bool noResize;
        double value;
        const char *line;
    };
    const Case cases[] = {
        {"Required/Darken", "darken", 0, 1.5, 1, false, 0.5, "darken C 0.5 0.5"},
        {"Required/Dissolve", "fade", 0, 1, 1, false, 0.25, "dissolve C 0.25 0.25"},
        {"Advanced/Rotate", "rot", -90, 90, 0, true, -30, "rotate C -30 -30"},
        // The bounds are single-precision numbers widened.
        {"Advanced/Scale", "scale", (double)0.1f, 4, 1, true, 0.75, "scale C 0.75 0.75"},
    };
    fill('C', 12, 10);
    ImageWindow *w = openWindow('C');
    for (const Case &c : cases) {
        runFormatted("copy C P"); // what the operation saves
        EXPECT_EQ(linesOf([&] { pick(w, c.item); }), Lines({"copy C z"})) << c.item;
        EXPECT_STREQ(w->finishButton->label(), c.label);
        EXPECT_EQ(std::vector<double>({w->paramSlider->minimum(), w->paramSlider->maximum(),
                                       w->paramSlider->value(), w->paramSlider->step()}),
                  std::vector<double>({c.minimum, c.maximum, c.initial, 0.05}))
            << c.item;
        EXPECT_EQ(w->noResize, c.noResize) << c.item;
        EXPECT_EQ(w->mode, ImageWindow::Mode::Slider);
        EXPECT_EQ(w->view->dragMode(), ImageView::DragMode::RubberBand);
        EXPECT_EQ(move(w->paramSlider, c.value), Lines({"copy z C", c.line}));
        EXPECT_EQ(out.substr(out.size() - 14), "reset image C\n");
        // Back to the start value: the result is computed from the saved
        // image, as if the first move had never been.
        move(w->paramSlider, c.initial);
        runFormatted("copy P Q");
        runCommandLine(*w->sliderCommand, "%c %g %g", 'Q', c.initial, c.initial);
        EXPECT_EQ(pixelsOf('C'), pixelsOf('Q')) << c.item;
        EXPECT_EQ(linesOf([&] { w->finishButton->do_callback(); }), Lines{});
        EXPECT_FALSE(w->noResize);
    }

    // A real click on the slider reaches the same callback.
    fill('C', 12, 200); // room for the slider
    pick(w, "Required/Darken");
    w->window->wait_for_expose();
    const Fl_Value_Slider *s = w->paramSlider;
    const Lines lines = linesOf([&] { dragOver(w->paramSlider, {{20, s->h() - 5}}); });
    ASSERT_EQ(lines.size(), 2u);
    char value[40];
    snprintf(value, sizeof value, "%g", s->value());
    EXPECT_NE(s->value(), 1);
    EXPECT_EQ(lines[1], std::string("darken C ") + value + " " + value);
}

TEST_F(InteractiveTest, RotateKeepsTheWindowsSizeUntilTheFinishButton) {
    fill('A', 40, 30);
    ImageWindow *w = openWindow('A');
    pick(w, "Advanced/Rotate");
    move(w->paramSlider, 45);
    EXPECT_EQ(box(w->view), (Box{55, 30, w->minimumWidth - 60, 30})); // the taller picture scrolls
    EXPECT_GT(w->view->image()->width, 40);
    EXPECT_EQ(w->view->image()->width, registerAt(0)->width);
    EXPECT_EQ(w->window->w(), w->minimumWidth);
    EXPECT_EQ(w->window->h(), 88);

    clickOn(w->finishButton); // "rot"
    EXPECT_EQ(box(w->view), (Box{55, 30, w->minimumWidth - 60, registerAt(0)->height}));
    EXPECT_FALSE(w->finishButton->visible());
}

// While Scale shrinks the picture in a window that keeps its size, the view
// clears what the picture leaves: no old pixel stays on the screen.
TEST_F(InteractiveTest, ShrinkingByScaleLeavesNoOldPixelsOnTheScreen) {
    fill('A', 100, 80);
    ImageWindow *w = openWindow('A');
    w->window->wait_for_expose();
    readScreen(w->window); // the whole picture is on the screen
    pick(w, "Advanced/Scale");
    move(w->paramSlider, 0.5);
    ASSERT_EQ(registerAt(0)->width, 50);
    const Capture screen = readScreen(w->window);
    uchar r, g, b;
    Fl::get_color(w->view->color(), r, g, b);
    for (int y = 0; y < 80; ++y)
        for (int x = 50; x < 100; ++x) ASSERT_EQ(screen.at(55 + x, 30 + y), (Rgb{r, g, b})) << x << "," << y;
}

// Which controls each action leaves shown and active.
TEST_F(InteractiveTest, EachActionShowsItsOwnControls) {
    fill('A', 20, 20);
    fill('B', 5, 5);
    ImageWindow *w = openWindow('A');
    const std::vector<Fl_Widget *> composite{w->sourceChoice, w->operatorChoice, w->targetOutput};
    const std::vector<Fl_Widget *> matte{w->bkSlider, w->mu1Slider, w->mu2Slider};
    // "shown": visible and active; "hidden": not visible; "off": neither
    // visible nor active.
    auto states = [](const std::vector<Fl_Widget *> &controls) {
        Lines s;
        for (Fl_Widget *c : controls)
            s.push_back(c->visible() ? (c->active() ? "shown" : "inactive") : c->active() ? "hidden" : "off");
        return s;
    };
    const Lines shown3(3, "shown"), off3(3, "off");

    pick(w, "Required/Composite");
    EXPECT_EQ(states(composite), shown3);
    EXPECT_EQ(states({w->paramSlider, w->finishButton}), Lines({"off", "off"}));
    EXPECT_EQ(states(matte), off3);

    pick(w, "Required/Dissolve");
    EXPECT_EQ(states(composite), Lines(3, "hidden"));
    EXPECT_EQ(states({w->paramSlider, w->finishButton}), Lines({"shown", "shown"}));
    EXPECT_STREQ(w->finishButton->label(), "fade");
    EXPECT_EQ(states(matte), off3);

    pick(w, "Matte/bluescreen");
    EXPECT_EQ(states(composite), Lines(3, "hidden"));
    EXPECT_EQ(states({w->paramSlider, w->finishButton}), Lines({"hidden", "shown"}));
    EXPECT_STREQ(w->finishButton->label(), "blue");
    EXPECT_EQ(states(matte), shown3);
    EXPECT_EQ(w->mode, ImageWindow::Mode::Slider); // the matte leaves the mode alone

    w->finishButton->do_callback();
    EXPECT_EQ(states({w->paramSlider, w->finishButton}), Lines({"off", "hidden"}));
    EXPECT_EQ(states(matte), off3);
    EXPECT_EQ(w->mode, ImageWindow::Mode::Slider);

    // Crop changes no control: the composite choices, once shown, stay and
    // recomposite from Z, which undoes the crop.
    pick(w, "Required/Composite");
    pick(w, "Required/Crop");
    EXPECT_EQ(states(composite), shown3);
    EXPECT_EQ(w->view->dragMode(), ImageView::DragMode::RubberBand);
    EXPECT_EQ(linesOf([&] { dragOver(w->view, {{2, 2}, {12, 7}}); }), Lines({"crop A 2 2 10 5"}));
    // A rubber band leaves the placement at its end corner.
    EXPECT_EQ(choose(w->sourceChoice, "B"), Lines({"copy z A", "composite B over A 12 7"}));
    EXPECT_EQ(registerAt(0)->width, 20);
}

TEST_F(InteractiveTest, BluescreenShowsTheMatteAtOnceAndAgainOnEverySlider) {
    fill('A', 8, 8);
    runFormatted("copy A P");
    ImageWindow *w = openWindow('A');
    EXPECT_EQ(linesOf([&] { pick(w, "Matte/bluescreen"); }),
              Lines({"copy A z", "copy z A", "bluescreen A 255 2.1 0.6"}));
    EXPECT_EQ(out, "reset image A\nreset image A\nbk 255 mu1 2.1 mu2 0.6\nreset image A\nreset image A\n");
    EXPECT_EQ(move(w->mu1Slider, 3), Lines({"copy z A", "bluescreen A 255 3 0.6"}));
    EXPECT_EQ(move(w->bkSlider, 200.9), Lines({"copy z A", "bluescreen A 200 3 0.6"}));
    EXPECT_EQ(move(w->mu2Slider, 0.25), Lines({"copy z A", "bluescreen A 200 3 0.25"}));
    runFormatted("bluescreen P 200 3 0.25");
    EXPECT_EQ(pixelsOf('A'), pixelsOf('P'));

    // The values stay for the next use.
    w->finishButton->do_callback();
    EXPECT_EQ(linesOf([&] { pick(w, "Matte/bluescreen"); }),
              Lines({"copy A z", "copy z A", "bluescreen A 200 3 0.25"}));

    // Each slider shows its name above it, and every value it can take whole.
    Lines names;
    char text[128];
    for (Fl_Value_Slider *s : {w->bkSlider, w->mu1Slider, w->mu2Slider}) {
        names.push_back(s->label());
        fl_font(s->labelfont(), s->labelsize());
        EXPECT_TRUE(s->align() == FL_ALIGN_TOP && fl_width(s->label()) <= s->w()) << s->label();
        EXPECT_GE(s->y() - fl_height(), w->menuBar->h()) << s->label();
        fl_font(s->textfont(), s->textsize());
        for (double v = s->minimum(); v <= s->maximum(); v += s->step()) {
            s->value(v);
            s->format(text);
            EXPECT_LE(fl_width(text), s->w()) << text;
        }
    }
    EXPECT_EQ(names, Lines({"BK", "MU1", "MU2"}));
}

// `show` under a timer that looks into its dialog while it is open.
class ShowTest : public InteractiveTest {
  protected:
    using Step = std::function<void(Fl_Window *dialog)>;

    // Runs `line`; each step runs in its own turn of the dialog's loop, and
    // the last should end the dialog. A dialog still open a second after the
    // last step is hidden and counted as `forced`.
    Lines showWith(const char *line, std::vector<Step> dialogSteps) {
        steps = std::move(dialogSteps);
        next = 0;
        idleTurns = 0;
        forced = false;
        Fl::add_timeout(0.02, onTimer, this);
        Lines lines = linesOf([&] { runFormatted("%s", line); });
        Fl::remove_timeout(onTimer, this);
        return lines;
    }

    // Each turn is timed from its own end (add_timeout, not repeat_timeout):
    // on a loaded machine a repeated timeout that is already due runs again
    // in the same pass, before the dialog's loop has seen the last step.
    static void onTimer(void *data) {
        ShowTest *t = (ShowTest *)data;
        Fl_Window *dialog = openDialog();
        if (!dialog) return Fl::add_timeout(0.02, onTimer, data);
        // Short turns, so that the loop soon looks at what a step queued.
        if (t->next < t->steps.size()) {
            t->steps[t->next++](dialog);
        } else if (++t->idleTurns == 50) {
            t->forced = true;
            return dialog->hide();
        }
        Fl::add_timeout(0.02, onTimer, data);
    }

    static Fl_Window *openDialog() {
        for (Fl_Window *w = Fl::first_window(); w; w = Fl::next_window(w))
            if (w->modal()) return w;
        return nullptr;
    }

    // The colour of a pixel on the screen, once the dialog has been drawn.
    static Rgb onScreen(Fl_Window *dialog, int x, int y) { return readScreen(dialog).at(x, y); }

    std::vector<Step> steps;
    size_t next = 0;
    int idleTurns = 0;
    bool forced = false;
};

TEST_F(ShowTest, DialogFitsTheImageAndEndsWithDone) {
    struct Case {
        char letter;
        int width, height;
        Box window, done;
    };
    const Case cases[] = {
        {'A', 50, 40, {0, 0, 80, 75}, {10, 50, 35, 20}},
        {'B', 200, 100, {0, 0, 210, 135}, {160, 110, 35, 20}},
    };
    for (const Case &c : cases) {
        fill(c.letter, c.width, c.height);
        Box window{}, done{}, alpha{}, display{};
        const unsigned char *pixels = nullptr;
        const std::string line = std::string("show ") + c.letter;
        EXPECT_EQ(showWith(line.c_str(), {[&](Fl_Window *d) {
                      window = {0, 0, d->w(), d->h()};
                      done = box(d->child(0)), alpha = box(d->child(1)), display = box(d->child(2));
                      pixels = ((ImageView *)d->child(2))->image()->pixels;
                      // On a narrow image Alpha covers all of Done but its right end.
                      dragOver(d->child(0), {{done.w - 3, done.h / 2}});
                  }}),
                  Lines({line}));
        EXPECT_FALSE(forced) << "Done did not end the dialog";
        EXPECT_EQ(out, "in lessSimpModalDis WIDTH " + std::to_string(c.width) + " HEIGHT " +
                           std::to_string(c.height) + "\n");
        EXPECT_EQ(window, c.window);
        EXPECT_EQ(done, c.done);
        EXPECT_EQ(alpha, (Box{5, c.height + 10, 35, 20}));
        EXPECT_EQ(display, (Box{5, 5, c.width, c.height}));
        EXPECT_EQ(pixels, registerAt(c.letter - 'A')->pixels); // the register's own buffer
    }
}

TEST_F(ShowTest, AlphaSwitchesTheDisplayAtOnce) {
    fill('C', 50, 40);
    Rgb colour{}, alpha{}, colourAgain{};
    Fl_Widget *toggle = nullptr;
    showWith("show c", {
                           [&](Fl_Window *d) {
                               d->wait_for_expose();
                               colour = onScreen(d, 5 + 3, 5 + 2);
                               toggle = d->child(1);
                               clickOn(toggle);
                           },
                           [&](Fl_Window *d) {
                               alpha = onScreen(d, 5 + 3, 5 + 2);
                               clickOn(toggle);
                           },
                           [&](Fl_Window *d) {
                               colourAgain = onScreen(d, 5 + 3, 5 + 2);
                               dragOver(d->child(0), {{32, 10}}); // Done's end, clear of Alpha
                           },
                       });
    EXPECT_FALSE(forced);
    EXPECT_EQ(colour, (Rgb{30, 20, 100}));
    EXPECT_EQ(alpha, (Rgb{250, 250, 250}));
    EXPECT_EQ(colourAgain, colour);
}

TEST_F(ShowTest, APictureLargerThanTheScreenIsShownFittedAndTheZoomKeysWork) {
    fill('D', 4000, 3000);
    Box window{}, display{};
    bool fitted = false, oneToOne = false;
    showWith("show d", {[&](Fl_Window *d) {
                 window = {0, 0, d->w(), d->h()};
                 ImageView *view = (ImageView *)d->child(2);
                 display = box(view);
                 fitted = !view->oneToOne();
                 sendKey(d, '1', "1");
                 oneToOne = view->oneToOne();
                 Fl::handle(FL_CLOSE, d);
             }});
    EXPECT_FALSE(forced);
    EXPECT_EQ(out, "in lessSimpModalDis WIDTH 4000 HEIGHT 3000\n");
    // At 1270 / 4000, which leaves the dialog's margins on the 1280 x 1024 screen.
    EXPECT_EQ(window, (Box{0, 0, 1280, 988}));
    EXPECT_EQ(display, (Box{5, 5, 1270, 953}));
    EXPECT_TRUE(fitted);
    EXPECT_TRUE(oneToOne);
}

TEST_F(ShowTest, EmptyRegisterGivesADialogClosedFromItsFrame) {
    Box window{}, done{};
    EXPECT_EQ(showWith("show q and more", {[&](Fl_Window *d) {
                  window = {0, 0, d->w(), d->h()};
                  done = box(d->child(0));
                  Fl::handle(FL_CLOSE, d); // as the window manager's close
              }}),
              Lines({"show q and more"}));
    EXPECT_FALSE(forced);
    EXPECT_EQ(out, "in lessSimpModalDis WIDTH -1 HEIGHT -1\n");
    EXPECT_EQ(window, (Box{0, 0, 80, 34}));
    EXPECT_EQ(done, (Box{-41, 9, 35, 20})); // outside the window
}

TEST_F(ShowTest, BadRegisterOpensNoDialog) {
    showWith("show 7", {[&](Fl_Window *) { ADD_FAILURE() << "a dialog opened"; }});
    EXPECT_EQ(out, "");
    EXPECT_EQ(consoleLines()[1], "@C1@.Bad register name `7'\n");
}

} // namespace
