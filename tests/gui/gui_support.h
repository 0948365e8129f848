// A fixture for tests of the windows: a display, the console, empty
// registers, no windows from earlier tests, and dialogs that answer at once.
#pragma once

#include "tests/test_support.h"

#include <FL/Fl.H>
#include <FL/Fl_Menu_Bar.H>
#include <FL/Fl_Multi_Browser.H>
#include <FL/Fl_Window.H>
#include <FL/fl_draw.H>

#include <cstdlib>
#include <deque>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "capture.h"
#include "core/command.h"
#include "core/console.h"
#include "ui/dialogs.h"
#include "ui/gui.h"
#include "ui/image_view.h"
#include "ui/image_window.h"
#include "ui/x_display.h"

using Lines = std::vector<std::string>;

// A widget's place and size, comparable and printable.
struct Box {
    int x, y, w, h;
};
inline Box box(const Fl_Widget *w) { return {w->x(), w->y(), w->w(), w->h()}; }
inline bool operator==(const Box &a, const Box &b) {
    return a.x == b.x && a.y == b.y && a.w == b.w && a.h == b.h;
}
inline std::ostream &operator<<(std::ostream &o, const Box &b) {
    return o << b.x << "," << b.y << " " << b.w << "x" << b.h;
}

class GuiTest : public TempDirTest {
  protected:
    void SetUp() override {
        TempDirTest::SetUp();
        if (!openDisplay()) {
            if (getenv("GUI_TESTS_REQUIRED")) FAIL() << "no X display, and GUI_TESTS_REQUIRED is set";
            GTEST_SKIP() << "no X display";
        }
        console = startConsole();
        console->output->clear();
        // Windows are never destroyed: earlier tests' ones are only hidden
        // and taken off the list, so that refreshes leave them out.
        static std::vector<ImageWindow *> earlier;
        for (ImageWindow *w = imageWindows; w; w = w->next) {
            w->window->hide();
            earlier.push_back(w);
        }
        imageWindows = nullptr;
        chooserFolder.clear();
        dialogs.alert = [this](const char *message) { asked.push_back(std::string("alert ") + message); };
        dialogs.input = [this](const char *label) {
            asked.push_back(std::string("input ") + label);
            return answer();
        };
        dialogs.chooseFile = [this](const char *message, const char *pattern, const char *preset) {
            asked.push_back(std::string("choose ") + message + " " + pattern + " " +
                            (preset ? "\"" + std::string(preset) + "\"" : "null"));
            return answer();
        };
    }

    // The next answer queued for a dialog; null (cancel) when none is left.
    const char *answer() {
        if (answers.empty()) return nullptr;
        lastAnswer = answers.front();
        answers.pop_front();
        return lastAnswer ? lastAnswer->c_str() : nullptr;
    }

    // The console's lines as added, colour prefix included.
    std::vector<std::string> consoleLines() const {
        std::vector<std::string> lines;
        for (int i = 1; i <= console->output->size(); ++i) lines.push_back(console->output->text(i));
        return lines;
    }
    // Only the echoed command lines, without their prefix.
    std::vector<std::string> commandLines() const {
        std::vector<std::string> lines;
        for (const std::string &line : consoleLines())
            if (line.rfind("@C4@.", 0) == 0) lines.push_back(line.substr(5));
        return lines;
    }

    // Opens a window on a register the way the console's `iw` does.
    ImageWindow *openWindow(char letter) {
        runFormatted("iw %c", letter);
        return imageWindows;
    }

    // Runs a menu item as a click on it does; `path` as "Basics/Write".
    void pick(ImageWindow *w, const char *path) {
        const Fl_Menu_Item *item = w->menuBar->find_item(path);
        ASSERT_NE(item, nullptr) << path;
        w->menuBar->picked(item);
    }

    // A register filled with a w x h image whose pixel (x, y) is
    // (x * 10, y * 10, 100, 255 - x - y).
    void fill(char letter, int width, int height) {
        Image *image = lookupRegister(std::string(1, letter).c_str());
        unsigned char *p = allocPixels(width, height);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                unsigned char *q = p + (y * width + x) * 4;
                q[0] = (unsigned char)(x * 10), q[1] = (unsigned char)(y * 10), q[2] = 100;
                q[3] = (unsigned char)(255 - x - y);
            }
        image->replace(width, height, p);
    }

    Console *console = nullptr;
    std::vector<std::string> asked;
    std::deque<std::optional<std::string>> answers;
    std::optional<std::string> lastAnswer;
};

// Synthetic events through the same path that X events take.
inline void sendKey(Fl_Window *window, int key, const char *text, int state = 0) {
    Fl::e_keysym = Fl::e_original_keysym = key;
    Fl::e_text = (char *)text;
    Fl::e_length = (int)strlen(text);
    Fl::e_state = state;
    Fl::handle(FL_KEYBOARD, window);
    Fl::e_state = 0;
}

inline void sendMouse(Fl_Window *window, int event, int x, int y) {
    Fl::e_x = x;
    Fl::e_y = y;
    Fl::e_x_root = window->x() + x;
    Fl::e_y_root = window->y() + y;
    Fl::e_keysym = FL_Button + 1;
    Fl::e_state = event == FL_RELEASE ? 0 : FL_BUTTON1;
    Fl::handle(event, window);
}

// Press, drags and release of the first button at points relative to the
// widget's top-left corner: the first point is the press, the last the release.
inline void dragOver(Fl_Widget *widget, const std::vector<std::pair<int, int>> &points) {
    Fl_Window *window = widget->window();
    const int x = widget->x(), y = widget->y();
    sendMouse(window, FL_PUSH, x + points.front().first, y + points.front().second);
    for (size_t i = 1; i + 1 < points.size(); ++i)
        sendMouse(window, FL_DRAG, x + points[i].first, y + points[i].second);
    sendMouse(window, FL_RELEASE, x + points.back().first, y + points.back().second);
}

// What a shown window shows on the screen, once pending drawing is done.
// Unlike an offscreen capture, this keeps whatever the window left there.
inline Capture readScreen(Fl_Window *window) {
    Fl::flush();
    window->make_current();
    unsigned char *p = fl_read_image(nullptr, 0, 0, window->w(), window->h());
    Capture capture{window->w(), window->h(), std::vector<uint8_t>(p, p + window->w() * window->h() * 3)};
    delete[] p;
    return capture;
}

// A click in the middle of a widget.
inline void clickOn(Fl_Widget *widget) { dragOver(widget, {{widget->w() / 2, widget->h() / 2}}); }
