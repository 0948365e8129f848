#include "bluescreen.h"

#include <algorithm>

#include "pixel.h"

namespace {

// 255 - v for v truncated toward zero, within 0..255. Compared as a double,
// so values beyond the int range clamp too; NaN (an infinite gain times 0)
// keeps the pixel opaque.
int matteAlpha(double v) { return v > 0.0 ? (v < 255.0 ? 255 - (int)v : 0) : 255; }

} // namespace

void bluescreenMatte(Image &image, int bk, double mu1, double mu2) {
    unsigned char *p = image.pixels;
    if (!p) return;
    // Each pixel depends on itself alone, so the new pixels are written in
    // place.
    const size_t count = (size_t)image.width * image.height;
    for (size_t i = 0; i < count; ++i, p += 4) {
        const int alpha = p[3];
        if (alpha == 0) {
            p[0] = p[1] = p[2] = 0; // no colour to carry over
            continue;
        }
        const int blue = std::min(bk, (int)p[2]);
        const int redGreen = std::max(p[0], p[1]);
        const int matte = matteAlpha(mu1 * (blue - mu2 * redGreen));
        for (int k = 0; k < 3; ++k) p[k] = (unsigned char)mulDiv255(unpremultiplyChannel(p[k], alpha), matte);
        p[3] = (unsigned char)matte;
    }
}
