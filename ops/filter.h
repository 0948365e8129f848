// Convolution with small square integer kernels, and the unsharp mask built
// on it. Both filter all four channels alike, alpha included, which suits
// premultiplied pixels; width and height stay.
#pragma once

#include "image/image.h"

// The kernels, numbered by their codes.
enum class Kernel {
    Edge = 2,    // 3x3: -1 around 8; weights sum to 0
    Box = 4,     // 3x3: all 1
    Sharpen = 6, // 3x3: -1 around 25
    Blur5 = 7,   // 5x5 smoothing, weights sum to 52
    Blur7 = 8,   // 7x7 smoothing, weights sum to 999
};

// Replaces the pixels of `image` by their convolution with `kernel`. Each
// channel is the weighted sum of the taps inside the image divided by the sum
// of their weights (1 where that is 0), so borders are renormalised; the
// quotient is truncated toward zero and saturated to 0..255. False, with the
// image untouched, when memory runs out.
bool convolveImage(Image &image, Kernel kernel);

// Sharpens by subtracting part of a 3x3 box blur B from the original O: each
// byte becomes O * 1.3196721311475408 - B * 0.31967213114754084, truncated
// toward zero and saturated to 0..255. False, untouched, without memory.
bool unsharpMaskImage(Image &image);
