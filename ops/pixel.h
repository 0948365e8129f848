// Per-channel arithmetic shared by the image operations. Inline: these run
// once per channel in the hot loops.
#pragma once

#include <cmath>
#include <cstddef>

#include "image/image.h"
#include "image/parallel.h"
#include "image/pixel_halves.h"
#include "image/premultiply.h"

// Runs work(first, count) over the pixels of `image` in blocks of whole rows
// on all processors (forEachRowBlock): `first` is the index of a block's
// first pixel, `count` the number of its pixels.
template <class Work> void forEachPixelBlock(const Image &image, const Work &work) {
    const size_t width = image.width;
    forEachRowBlock(image.height, rowsPerTask(image.width),
                    [&](int first, int last) { work(first * width, (last - first) * width); });
}

// floor(v) as a channel value: below 0 (and NaN) gives 0, above 255 gives 255.
inline int floorToChannel(double v) {
    v = std::floor(v);
    return v > 0.0 ? (v < 255.0 ? (int)v : 255) : 0;
}
