// Offscreen pictures of widgets, for pixel checks that no other window on
// the screen can disturb.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class Fl_Widget;

struct Rgb {
    uint8_t r, g, b;
    bool operator==(const Rgb &o) const { return r == o.r && g == o.g && b == o.b; }
};

// What `widget` draws, as rows of RGB pixels, widget->w() wide.
struct Capture {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
    Rgb at(int x, int y) const {
        const uint8_t *p = &rgb[(size_t)(y * width + x) * 3];
        return {p[0], p[1], p[2]};
    }
};

// Draws the widget (usually a whole window) into an offscreen image first
// filled with `background`.
Capture captureWidget(Fl_Widget *widget, Rgb background = {1, 2, 3});
