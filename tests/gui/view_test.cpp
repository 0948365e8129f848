// The image view: painting colour and alpha, the drag outline and the drag
// tracking, on a bare window and offscreen captures.
#include "gui_support.h"

#include <FL/Fl_Button.H>

namespace {

const Rgb kBackground{1, 2, 3};
const Rgb kCleared{7, 8, 9}; // the view's own colour
const Rgb kYellow{255, 255, 0};
const Rgb kBlue{0, 0, 255};

// A window that draws nothing but a view at (10, 10).
class ViewTest : public GuiTest {
  protected:
    void SetUp() override {
        GuiTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        window = new Fl_Window(100, 90);
        window->box(FL_NO_BOX);
        view = new ImageView(10, 10, 60, 50);
        view->color(fl_rgb_color(kCleared.r, kCleared.g, kCleared.b));
        toggle = new Fl_Button(0, 80, 10, 10);
        toggle->type(FL_TOGGLE_BUTTON);
        toggle->hide();
        window->end();
        window->show();
    }
    void TearDown() override {
        delete window;
        GuiTest::TearDown();
    }
    Fl_Window *window = nullptr;
    ImageView *view = nullptr;
    Fl_Button *toggle = nullptr;
};

TEST_F(ViewTest, PaintsColourOrAlphaOneToOneFromTheCorner) {
    fill('A', 6, 4);
    Image *a = registerAt(0);
    view->setImage(a, toggle);

    Capture colour = captureWidget(window, kBackground);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x) {
            const unsigned char *p = a->pixels + (y * 6 + x) * 4;
            EXPECT_EQ(colour.at(10 + x, 10 + y), (Rgb{p[0], p[1], p[2]})) << x << "," << y;
        }
    // The rest of the view is cleared, so nothing painted earlier stays.
    EXPECT_EQ(colour.at(16, 10), kCleared);
    EXPECT_EQ(colour.at(10, 14), kCleared);
    EXPECT_EQ(colour.at(69, 59), kCleared);

    toggle->value(1);
    Capture alpha = captureWidget(window, kBackground);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x) {
            const uint8_t grey = (uint8_t)(255 - x - y);
            EXPECT_EQ(alpha.at(10 + x, 10 + y), (Rgb{grey, grey, grey})) << x << "," << y;
        }
}

TEST_F(ViewTest, EmptyImagesAndMissingToggleLeaveTheViewClear) {
    Image empty; // -1 x -1, no pixels
    view->setImage(&empty, nullptr);
    EXPECT_EQ(captureWidget(window, kBackground).at(10, 10), kCleared);

    fill('A', 3, 3);
    registerAt(0)->release(); // 0 x 0
    view->setImage(registerAt(0), nullptr);
    EXPECT_EQ(captureWidget(window, kBackground).at(10, 10), kCleared);
}

// It is cut where the scroll bars begin, which take the view's right and
// bottom edges.
TEST_F(ViewTest, AnImageLargerThanTheViewIsCutAtItsEdges) {
    fill('A', 80, 70);
    Image *a = registerAt(0);
    view->setImage(a, nullptr);
    Capture c = captureWidget(window, kBackground);
    // The last column and row of the picture shown, and scroll bars past them.
    const int right = 59 - Fl::scrollbar_size(), bottom = 49 - Fl::scrollbar_size();
    EXPECT_EQ(c.at(10 + right, 10 + bottom), (Rgb{(uint8_t)(right * 10), (uint8_t)(bottom * 10), 100}));
    EXPECT_FALSE(c.at(10 + right + 1, 10 + 20) == (Rgb{(uint8_t)(right * 10 + 10), 200, 100}));
    EXPECT_FALSE(c.at(10 + 20, 10 + bottom + 1) == (Rgb{200, (uint8_t)(bottom * 10 + 10), 100}));
    EXPECT_EQ(c.at(10 + 60, 10 + 20), kBackground);
    EXPECT_EQ(c.at(10 + 20, 10 + 50), kBackground);
}

TEST_F(ViewTest, RubberBandOutlineSpansItsCornersByTheHorizontalRule) {
    sendMouse(window, FL_PUSH, 10 + 10, 10 + 5);
    sendMouse(window, FL_DRAG, 10 + 30, 10 + 25);
    ASSERT_TRUE(view->dragging());
    Capture down = captureWidget(window, kBackground);
    EXPECT_EQ(down.at(20, 15), kYellow);      // top-left corner
    EXPECT_EQ(down.at(39, 34), kYellow);      // bottom-right corner (20 x 20)
    EXPECT_EQ(down.at(21, 16), kBlue);        // one pixel inside
    EXPECT_EQ(down.at(38, 33), kBlue);
    EXPECT_EQ(down.at(25, 25), kCleared);     // the inside is not filled
    EXPECT_EQ(down.at(40, 35), kCleared);

    // Up and to the left: the same frame, taken from end to start.
    sendMouse(window, FL_RELEASE, 10 + 30, 10 + 25);
    sendMouse(window, FL_PUSH, 10 + 30, 10 + 25);
    sendMouse(window, FL_DRAG, 10 + 10, 10 + 5);
    EXPECT_EQ(captureWidget(window, kBackground).rgb, down.rgb);

    // Up and to the right: the height is negative and nothing shows.
    sendMouse(window, FL_RELEASE, 10 + 10, 10 + 5);
    sendMouse(window, FL_PUSH, 10 + 10, 10 + 25);
    sendMouse(window, FL_DRAG, 10 + 30, 10 + 5);
    Capture none = captureWidget(window, kBackground);
    EXPECT_EQ(none.at(20, 15), kCleared);
    EXPECT_EQ(none.at(20, 35), kCleared);

    // After the release no outline is drawn.
    sendMouse(window, FL_RELEASE, 10 + 30, 10 + 5);
    dragOver(view, {{10, 5}, {30, 25}});
    EXPECT_EQ(captureWidget(window, kBackground).at(20, 15), kCleared);
}

TEST_F(ViewTest, PlacementOutlineIsTheRectangleCentredOnThePointer) {
    view->setDragMode(ImageView::DragMode::Placement);
    view->setPlacement({0, 0, 4, 4});
    sendMouse(window, FL_PUSH, 10 + 10, 10 + 10);
    EXPECT_EQ(view->placement().left, 8);
    EXPECT_EQ(view->placement().top, 8);
    view->setPlacement({8, 8, 5, 5});
    sendMouse(window, FL_DRAG, 10 + 10, 10 + 10);
    EXPECT_EQ(view->placement().left, 8); // 5 / 2 is 2
    EXPECT_EQ(view->placement().top, 8);
    EXPECT_EQ(view->placement().width, 5); // the size is the owner's

    view->setPlacement({8, 8, 12, 8});
    sendMouse(window, FL_DRAG, 10 + 30, 10 + 20);
    Capture c = captureWidget(window, kBackground);
    EXPECT_EQ(c.at(10 + 24, 10 + 16), kYellow); // left, top = 30 - 6, 20 - 4
    EXPECT_EQ(c.at(10 + 35, 10 + 23), kYellow);
    EXPECT_EQ(c.at(10 + 25, 10 + 17), kBlue);
    EXPECT_EQ(c.at(10 + 36, 10 + 16), kCleared);
    sendMouse(window, FL_RELEASE, 10 + 30, 10 + 20);
}

TEST_F(ViewTest, ReleaseEndsTheDragAtItsOwnPointAndCallsBack) {
    int calls = 0, draggingInCallback = -1;
    struct Seen { int *calls, *dragging; ImageView *view; } seen{&calls, &draggingInCallback, view};
    view->callback(
        [](Fl_Widget *, void *data) {
            Seen *s = (Seen *)data;
            ++*s->calls;
            *s->dragging = s->view->dragging();
        },
        &seen);

    // X merges motion: a release can arrive with no drag to its point.
    dragOver(view, {{10, 20}, {50, 60}});
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(draggingInCallback, 0);
    auto band = [&] {
        const ImageView::Rect r = view->rubberBand();
        return std::vector<int>({r.left, r.top, r.width, r.height});
    };
    EXPECT_EQ(band(), std::vector<int>({10, 20, 40, 40}));

    dragOver(view, {{7, 9}, {7, 9}});
    EXPECT_EQ(band(), std::vector<int>({7, 9, 0, 0}));

    // Beyond the widget's left and top edges the values go negative.
    dragOver(view, {{5, 5}, {-3, 0}, {-8, -4}});
    EXPECT_EQ(band(), std::vector<int>({-8, -4, 13, 9}));
    EXPECT_EQ(calls, 3);

    EXPECT_EQ(view->handle(FL_MOVE), 0);
    EXPECT_EQ(view->handle(FL_KEYBOARD), 0);
    // A wheel's sideways clicks arrive as presses of buttons 6 and 7.
    Fl::e_keysym = FL_Button + 7;
    EXPECT_EQ(view->handle(FL_PUSH), 0);
    EXPECT_FALSE(view->dragging());
}

// The display dialog's view.
TEST_F(ViewTest, DisplayPaintsItsPixelsAndTakesNoEvents) {
    fill('B', 5, 5);
    Image *b = registerAt(1);
    Fl_Window *dialog = new Fl_Window(20, 20);
    dialog->box(FL_NO_BOX);
    ImageView *display = new ImageView(5, 5, 5, 5);
    display->setDragMode(ImageView::DragMode::Off);
    display->setImage(b, toggle);
    dialog->end();
    dialog->show();
    Capture c = captureWidget(dialog, kBackground);
    EXPECT_EQ(c.at(5 + 4, 5 + 3), (Rgb{40, 30, 100}));
    EXPECT_EQ(c.at(10, 10), kBackground);
    toggle->value(1);
    EXPECT_EQ(captureWidget(dialog, kBackground).at(5 + 4, 5 + 3), (Rgb{248, 248, 248}));
    EXPECT_EQ(display->handle(FL_PUSH), 0);
    delete dialog; // with its display
}

} // namespace
