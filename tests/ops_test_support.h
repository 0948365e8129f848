// Small images built and read pixel by pixel, for the operation tests.
#pragma once

#include <array>
#include <cstring>
#include <functional>

#include "image/image.h"

using Pixel = std::array<unsigned char, 4>;

inline Pixel grey4(int v) {
    const unsigned char b = (unsigned char)v;
    return Pixel{b, b, b, b};
}
inline Pixel opaque(int r, int g, int b) { return Pixel{(unsigned char)r, (unsigned char)g, (unsigned char)b, 255}; }
// Opaque pixels whose red channel names the source column and green the row.
inline Pixel tagged(int c, int r) { return opaque(c + 1, r + 1, 50); }

// An image that owns its pixels and frees them when the test is done.
struct TestImage : Image {
    TestImage(int w, int h, const std::function<Pixel(int c, int r)> &colour) {
        replace(w, h, allocPixels(w, h));
        for (int r = 0; r < h; ++r)
            for (int c = 0; c < w; ++c) memcpy(pixels + (r * w + c) * 4, colour(c, r).data(), 4);
    }
    // The same value in all four channels.
    TestImage(int w, int h, const std::function<int(int c, int r)> &grey)
        : TestImage(w, h, [&](int c, int r) { return grey4(grey(c, r)); }) {}
    ~TestImage() { release(); }
    TestImage(const TestImage &) = delete;
    TestImage &operator=(const TestImage &) = delete;

    Pixel at(int c, int r) const {
        Pixel p;
        memcpy(p.data(), pixels + (r * width + c) * 4, 4);
        return p;
    }
    int grey(int c, int r) const { return pixels[(r * width + c) * 4]; }
};
