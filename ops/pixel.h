// Per-channel arithmetic shared by the image operations. Inline: these run
// once per channel in the hot loops.
#pragma once

#include <cmath>
#include <cstddef>

#include "image/image.h"
#include "image/parallel.h"
#include "image/pixel_halves.h"

// Runs work(first, count) over the pixels of `image` in blocks of whole rows
// on all processors (forEachRowBlock): `first` is the index of a block's
// first pixel, `count` the number of its pixels.
template <class Work> void forEachPixelBlock(const Image &image, const Work &work) {
    const size_t width = image.width;
    forEachRowBlock(image.height, rowsPerTask(image.width),
                    [&](int first, int last) { work(first * width, (last - first) * width); });
}

// c x a / 255 rounded to the nearest integer, for 0 <= c, a <= 255; the
// product by which a channel is premultiplied by an alpha. a = 255 gives c.
inline int mulDiv255(int c, int a) {
    int t = c * a + 128;
    return (t + (t >> 8)) >> 8;
}

// Straight colour of a premultiplied channel, for a > 0: c x 255 / a
// truncated, at most 255 (only a colour above its alpha would exceed it).
inline int unpremultiplyChannel(int c, int a) {
    int q = c * 255 / a;
    return q > 255 ? 255 : q;
}

// unpremultiplyChannel for every alpha above 0 and colour, [alpha][colour]:
// a lookup instead of a division per channel.
struct StraightColours {
    unsigned char of[256][256] = {};
    StraightColours() {
        for (int a = 1; a < 256; ++a)
            for (int c = 0; c < 256; ++c) of[a][c] = (unsigned char)unpremultiplyChannel(c, a);
    }
};

inline const StraightColours &straightColours() {
    static const StraightColours table;
    return table;
}

// floor(v) as a channel value: below 0 (and NaN) gives 0, above 255 gives 255.
inline int floorToChannel(double v) {
    v = std::floor(v);
    return v > 0.0 ? (v < 255.0 ? (int)v : 255) : 0;
}
