#include "bluescreen.h"

#include <algorithm>
#include <vector>

#include "pixel.h"

namespace {

// 255 - v for v truncated toward zero, within 0..255. Compared as a double,
// so values beyond the int range clamp too; NaN (an infinite gain times 0)
// keeps the pixel opaque.
int matteAlpha(double v) { return v > 0.0 ? (v < 255.0 ? 255 - (int)v : 0) : 255; }

} // namespace

void bluescreenMatte(Image &image, int bk, double mu1, double mu2) {
    if (!image.pixels) return;
    // The matte depends on the blue byte and the larger of red and green
    // alone: looked up, [blue][max(red, green)].
    std::vector<unsigned char> mattes(256 * 256);
    for (int blue = 0; blue < 256; ++blue)
        for (int redGreen = 0; redGreen < 256; ++redGreen)
            mattes[blue * 256 + redGreen] = (unsigned char)matteAlpha(mu1 * (std::min(bk, blue) - mu2 * redGreen));
    const StraightColours &straight = straightColours();
    // Each pixel depends on itself alone, so the new pixels are written in
    // place.
    forEachPixelBlock(image, [&](size_t first, size_t count) {
        const unsigned char *matteOf = mattes.data();
        unsigned char *p = image.pixels + first * 4;
        for (size_t i = 0; i < count; ++i, p += 4) {
            const int alpha = p[3];
            if (alpha == 0) {
                p[0] = p[1] = p[2] = 0; // no colour to carry over
                continue;
            }
            const int matte = matteOf[p[2] * 256 + std::max(p[0], p[1])];
            for (int k = 0; k < 3; ++k) p[k] = (unsigned char)mulDiv255(straight.of[alpha][p[k]], matte);
            p[3] = (unsigned char)matte;
        }
    });
}
