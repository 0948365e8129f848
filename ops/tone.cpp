#include "tone.h"

#include <cstdlib>

#include "pixel.h"

namespace {
// 1/255 rounded to double.
const double kInverse255 = 1.0 / 255.0;
} // namespace

void darkenImage(Image &image, float factor) {
    if (!image.pixels) return;
    // The result depends on the byte alone: one table instead of a floor
    // per channel.
    unsigned char scaled[256];
    for (int c = 0; c < 256; ++c) scaled[c] = (unsigned char)floorToChannel(c * (double)factor);
    unsigned char *p = image.pixels;
    const size_t count = (size_t)image.width * image.height * 4;
    for (size_t i = 0; i < count; ++i) p[i] = scaled[p[i]];
}

void dissolveImage(Image &image, float factor) {
    if (!image.pixels) return;
    unsigned char *p = image.pixels;
    const size_t count = (size_t)image.width * image.height;
    for (size_t i = 0; i < count; ++i, p += 4) {
        const int alpha = floorToChannel(p[3] * (double)factor);
        if (p[3] == 0) {
            p[0] = p[1] = p[2] = 0; // nothing to un-premultiply
        } else {
            // The floating-point floor of c / (a / 255), not the integer
            // quotient: red = alpha = 35 gives 254.
            const double coverage = p[3] * kInverse255;
            for (int k = 0; k < 3; ++k) p[k] = (unsigned char)mulDiv255(floorToChannel(p[k] / coverage), alpha);
        }
        p[3] = (unsigned char)alpha;
    }
}

bool differenceMatte(Image &first, const Image &second, double threshold) {
    if (!first.pixels || !second.pixels) return true;
    unsigned char *matte = allocPixels(first.width, first.height);
    if (!matte) return false;
    const unsigned char *p = first.pixels, *q = second.pixels;
    unsigned char *m = matte;
    const size_t count = (size_t)first.width * first.height;
    for (size_t i = 0; i < count; ++i, p += 4, q += 4, m += 4) {
        const bool differs = abs(p[0] - q[0]) > threshold || abs(p[1] - q[1]) > threshold ||
                             abs(p[2] - q[2]) > threshold;
        // The new alpha is 255 or 0, so premultiplying by it keeps the
        // straight colour or clears it.
        if (differs && q[3] != 0) {
            for (int k = 0; k < 3; ++k) m[k] = (unsigned char)unpremultiplyChannel(q[k], q[3]);
            m[3] = 255;
        } else {
            m[0] = m[1] = m[2] = m[3] = 0;
        }
    }
    first.replace(first.width, first.height, matte);
    return true;
}
