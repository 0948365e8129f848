// Zoom: a large picture opens fitted, the View menu and keys, the wheel,
// painting below one to one, the mouse operations and the readout in the
// picture's own pixels, and what a command does to the scale.
#include "gui_support.h"

#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Choice.H>

#include <climits>

namespace {

const Rgb kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255}, kWhite{255, 255, 255}, kGrey{128, 128, 128};
const Rgb kYellow{255, 255, 0}, kMagenta{255, 0, 255};

class ZoomTest : public GuiTest {
  protected:
    // A shown window on A, a 4000 x 3000 grey picture with a 100 x 100 block
    // of its own colour at each corner. The 1280 x 1024 screen fits it at
    // 1220 / 4000: 1220 x 915 screen pixels.
    ImageWindow *openPhotograph() {
        struct Corner {
            const char *colour;
            int x, y;
        };
        runFormatted("solid A 4000 3000 128 128 128 255");
        for (const Corner &c : {Corner{"255 0 0", 0, 0}, Corner{"0 255 0", 3900, 0}, Corner{"0 0 255", 0, 2900},
                                Corner{"255 255 255", 3900, 2900}}) {
            runFormatted("solid P 100 100 %s 255", c.colour);
            runFormatted("composite P over A %d %d", c.x, c.y);
        }
        ImageWindow *window = openWindow('A');
        window->window->wait_for_expose();
        return window;
    }
};

// The leftmost, topmost, rightmost and bottommost pixels of a colour in the view.
std::vector<int> extent(const Capture &c, const ImageView *view, Rgb colour) {
    std::vector<int> e{INT_MAX, INT_MAX, -1, -1};
    for (int y = view->y(); y < view->y() + view->h(); ++y)
        for (int x = view->x(); x < view->x() + view->w(); ++x)
            if (c.at(x, y) == colour) e = {std::min(e[0], x), std::min(e[1], y), std::max(e[2], x), std::max(e[3], y)};
    return e;
}

TEST_F(ZoomTest, ALargePictureOpensFittedWithAllItsCornersAndOneAndFSwitchScale) {
    ImageWindow *w = openPhotograph();
    Fl_Window *win = w->window;
    EXPECT_STREQ(win->label(), "Image A (30.5%)");
    EXPECT_TRUE(win->x() >= 0 && win->y() >= 0 && win->x() + win->w() <= Fl::w() && win->y() + win->h() <= Fl::h());
    const int x = w->view->x(), y = w->view->y();
    Capture screen = readScreen(win);
    EXPECT_EQ(std::vector<Rgb>({screen.at(x, y), screen.at(x + 1219, y), screen.at(x, y + 914),
                                screen.at(x + 1219, y + 914), screen.at(x + 600, y + 400)}),
              std::vector<Rgb>({kRed, kGreen, kBlue, kWhite, kGrey}));
    EXPECT_FALSE(w->view->child(0)->visible() || w->view->child(1)->visible()); // no scroll bars

    sendKey(win, '1', "1");
    EXPECT_STREQ(win->label(), "Image A");
    EXPECT_TRUE(w->view->child(0)->visible() && w->view->child(1)->visible());
    // Scrolled to the end, the white block is 100 pixels wide at the corner.
    w->view->scrollTo(4000, 3000);
    screen = readScreen(win);
    const int right = x + w->view->w() - Fl::scrollbar_size() - 1, bottom = y + w->view->h() - Fl::scrollbar_size() - 1;
    EXPECT_EQ(std::vector<Rgb>({screen.at(right, bottom), screen.at(right - 99, bottom - 99), screen.at(right - 100, bottom)}),
              std::vector<Rgb>({kWhite, kWhite, kGrey}));

    sendKey(win, 'f', "f");
    EXPECT_STREQ(win->label(), "Image A (30.5%)");
    EXPECT_EQ(readScreen(win).at(x + 1219, y + 914), kWhite);
}

TEST_F(ZoomTest, TheViewMenuAndItsKeysClimbTheLadderWithoutACommand) {
    fill('A', 40, 30);
    ImageWindow *w = openWindow('A');
    const Box size = box(w->window);
    console->output->clear();
    Lines titles;
    const auto title = [&] { titles.push_back(w->window->label()); };
    const std::string out = captureOutput([&] {
        for (const char *key : {"-", "-", "-", "-", "-", "=", "+"}) {
            sendKey(w->window, key[0], key);
            title();
        }
        for (int i = 0; i < 20; ++i) pick(w, "View/Zoom In");
        title();
        pick(w, "View/Zoom Out");
        title();
        pick(w, "View/Fit in Window"); // never above one to one
        title();
    });
    EXPECT_EQ(titles, Lines({"Image A (66.7%)", "Image A (50%)", "Image A (33.3%)", "Image A (25%)",
                             "Image A (12.5%)", "Image A (25%)", "Image A (33.3%)", "Image A (1600%)",
                             "Image A (1200%)", "Image A"}));
    EXPECT_EQ(commandLines(), Lines{});
    EXPECT_EQ(out, "");
    EXPECT_EQ(box(w->window), size);
}

TEST_F(ZoomTest, CtrlWheelZoomsAboutThePointerAndTheWheelAloneScrolls) {
    fill('A', 500, 100); // wider and taller than the view once enlarged
    ImageWindow *w = openWindow('A');
    auto wheel = [&](int x, int y, int dy, int state) {
        Fl::e_x = x, Fl::e_y = y, Fl::e_dx = 0, Fl::e_dy = dy, Fl::e_state = state;
        w->window->handle(FL_MOUSEWHEEL);
        Fl::e_state = 0;
    };
    const int x = w->view->x() + 50, y = w->view->y() + 40;
    const ImageView::Point under = w->view->toPicture(x, y);
    wheel(x, y, -1, FL_CTRL);
    wheel(x, y, -1, FL_CTRL);
    EXPECT_STREQ(w->window->label(), "Image A (200%)");
    EXPECT_EQ(std::make_pair(w->view->toPicture(x, y).x, w->view->toPicture(x, y).y), std::make_pair(under.x, under.y));
    const int top = w->view->scrollPosition().y;
    wheel(x, y, 1, 0);
    EXPECT_EQ(w->view->scrollPosition().y, top + 16);
    EXPECT_STREQ(w->window->label(), "Image A (200%)");
}

// Displayed column or row i starts at picture column or row floor(i / scale).
TEST_F(ZoomTest, BelowOneToOneEachScreenPixelIsTheRoundedAverageOfThoseItCovers) {
    fill('A', 9, 6);
    const Image *a = registerAt(0);
    ImageWindow *w = openWindow('A');
    // Where the displayed columns (and rows, up to the picture's 6) start at
    // 2/3 and at 1/2, and the end.
    for (const std::vector<int> &starts : {std::vector<int>{0, 1, 3, 4, 6, 7, 9}, std::vector<int>{0, 2, 4, 6, 8, 9}}) {
        sendKey(w->window, '-', "-");
        for (int alpha = 0; alpha < 2; ++alpha) {
            w->alphaToggle->value(alpha);
            const Capture shown = captureWidget(w->window);
            for (size_t i = 0; i + 1 < starts.size(); ++i)
                for (size_t j = 0; starts[j] < 6; ++j) {
                    const int rowEnd = std::min(starts[j + 1], 6);
                    const int n = (starts[i + 1] - starts[i]) * (rowEnd - starts[j]);
                    int sums[4] = {n / 2, n / 2, n / 2, n / 2};
                    for (int y = starts[j]; y < rowEnd; ++y)
                        for (int x = starts[i]; x < starts[i + 1]; ++x)
                            for (int k = 0; k < 4; ++k) sums[k] += a->pixels[(y * 9 + x) * 4 + k];
                    const uint8_t r = (uint8_t)(sums[0] / n), g = (uint8_t)(sums[1] / n), b = (uint8_t)(sums[2] / n);
                    const uint8_t grey = (uint8_t)(sums[3] / n);
                    EXPECT_EQ(shown.at(w->view->x() + (int)i, w->view->y() + (int)j),
                              (alpha ? Rgb{grey, grey, grey} : Rgb{r, g, b}))
                        << starts.size() << " " << i << "," << j << " alpha " << alpha;
                }
        }
    }
}

TEST_F(ZoomTest, TheReadoutTellsThePixelUnderThePointerAsAFileStoresItAndTheScale) {
    fill('A', 40, 30);
    ImageWindow *w = openWindow('A');
    const Fl_Widget *readout = w->view->readout;
    EXPECT_STREQ(readout->label(), "100%");
    sendMouse(w->window, FL_MOVE, w->view->x() + 5, w->view->y() + 3);
    EXPECT_STREQ(readout->label(), "x 5  y 3  R 51 G 30 B 103 A 247  100%"); // premultiplied 50, 30, 100
    sendKey(w->window, '-', "-");
    sendMouse(w->window, FL_MOVE, w->view->x() + 6, w->view->y() + 4);
    EXPECT_STREQ(readout->label(), "x 9  y 6  R 95 G 63 B 106 A 240  66.7%");
    sendMouse(w->window, FL_MOVE, w->view->x() + 27, w->view->y() + 4); // past the picture
    EXPECT_STREQ(readout->label(), "66.7%");
}

TEST_F(ZoomTest, CropAndCompositeOnTheFittedViewTakeThePicturesPixelsUnderTheOutline) {
    ImageWindow *w = openPhotograph();
    runFormatted("solid B 400 300 255 0 255 255");
    pick(w, "Required/Composite");
    captureOutput([&] { w->sourceChoice->picked(w->sourceChoice->find_item("B")); });
    Fl_Window *win = w->window;
    sendMouse(win, FL_PUSH, w->view->x() + 200, w->view->y() + 150);
    const std::vector<int> outline = extent(captureWidget(win), w->view, kYellow);
    console->output->clear();
    captureOutput([&] { sendMouse(win, FL_RELEASE, w->view->x() + 200, w->view->y() + 150); });
    // 200 x 4000 / 1220 is 655.7, less half the width, 200.
    EXPECT_EQ(commandLines(), Lines({"copy z A", "composite B over A 455 341"}));
    // The source's size times the scale, 122 x 91.5; screen pixels that the
    // source covers in part are a mixture.
    EXPECT_EQ(outline[2] - outline[0] + 1, 122);
    EXPECT_NEAR(outline[3] - outline[1] + 1, 91.5, 0.5);
    const std::vector<int> landed = extent(captureWidget(win), w->view, kMagenta);
    EXPECT_TRUE(landed[0] == outline[0] && landed[1] == outline[1]) << landed[0] << "," << landed[1];
    EXPECT_TRUE(abs(landed[2] - outline[2]) <= 1 && abs(landed[3] - outline[3]) <= 1) << landed[2] << "," << landed[3];

    pick(w, "Required/Crop");
    console->output->clear();
    captureOutput([&] { dragOver(w->view, {{100, 50}, {200, 150}, {300, 250}}); });
    EXPECT_EQ(commandLines(), Lines({"crop A 327 163 656 656"})); // 100 x 4000 / 1220 is 327.9
    EXPECT_STREQ(w->window->label(), "Image A"); // what fits the screen is shown one to one
}

TEST_F(ZoomTest, AfterACommandAFittedWindowRefitsAndAChosenScaleStays) {
    ImageWindow *w = openPhotograph();
    captureOutput([&] { pick(w, "Required/Half"); });
    EXPECT_STREQ(w->window->label(), "Image A (61%)"); // 1220 / 2000
    sendKey(w->window, '-', "-");
    captureOutput([&] { pick(w, "Required/Half"); });
    EXPECT_STREQ(w->window->label(), "Image A (50%)");
    EXPECT_EQ(box(w->view), (Box{55, 30, 500, 375})); // the window fits the picture at that scale
}

} // namespace
