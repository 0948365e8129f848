#include "rotate.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "resample.h"

namespace {
// The degree-to-radian factor rotations have always used, short of pi / 180.
constexpr double kRadiansPerDegree = 0.01745329251994;
} // namespace

bool rotatedSize(int width, int height, double degrees, int &rotatedWidth, int &rotatedHeight) {
    const double psi = (degrees + std::atan2((double)height, (double)width)) * kRadiansPerDegree;
    const double c = std::fabs(std::cos(psi)), s = std::fabs(std::sin(psi));
    return truncateSide(c * width + s * height, rotatedWidth) &&
           truncateSide(c * height + s * width, rotatedHeight);
}

namespace {

const unsigned char kTransparentBlack[4] = {0, 0, 0, 0};

// Where the result pixels sample the canvas: x = cx + (j - cx) cos - (i - cy)
// sin and y = cy + (j - cx) sin + (i - cy) cos, summed in the grouping of
// turnRows (rounding depends on it), shifted by the difference of the
// canvas's centre and the result's.
struct Turn {
    const unsigned char *canvas;
    int canvasWidth, canvasHeight, width;
    double cosT, sinT, a2, a4, a6, a7, shiftX, shiftY;
};

// Rows first .. last - 1 of the turned picture into `dst`. The turn comes by
// value: a copy that the byte stores cannot change.
void turnRows(const Turn t, int first, int last, unsigned char *dst) {
    for (int i = first; i < last; ++i) {
        const double a1 = i * t.cosT, a5 = i * t.sinT; // the row terms, once a row
        for (int j = 0; j < t.width; ++j, dst += 4) {
            const double x = (((j * t.cosT - a5) + t.a7) + t.a6) + t.shiftX;
            const double y = (((j * t.sinT + a1) - t.a2) + t.a4) + t.shiftY;
            if (!sampleBilinear(t.canvas, t.canvasWidth, t.canvasHeight, x, y, dst))
                memcpy(dst, kTransparentBlack, 4);
        }
    }
}

} // namespace

Resized rotateImage(Image &image, double degrees) {
    int nw, nh;
    if (!rotatedSize(image.width, image.height, degrees, nw, nh)) return Resized::TooLarge;
    // Near a quarter turn nw x nh is narrower or lower than the image: the
    // canvas grows to hold all of it, and the samples shift by the difference
    // of the two centres, so no part of the picture is cut off before the turn.
    const int cw = std::max(nw, image.width), ch = std::max(nh, image.height);
    if (cw <= 0 || ch <= 0 || !canvasFits(cw, ch)) return Resized::TooLarge;
    unsigned char *canvas = centreOnCanvas(image, cw, ch, kTransparentBlack);
    if (!canvas) return Resized::NoMemory;
    const double theta = degrees * kRadiansPerDegree;
    const double cosT = std::cos(theta), sinT = std::sin(theta);
    const int cx = nw / 2, cy = nh / 2;
    const Turn turn = {canvas, cw, ch, nw, cosT, sinT, cx * sinT, cy * (1 - cosT),
                       cx * (1 - cosT), cy * sinT, (double)(cw / 2 - cx), (double)(ch / 2 - cy)};
    const bool done = fitsInMemory([&] {
        renderTrimmed(image, nw, nh, [&](int first, int last, unsigned char *dst) { turnRows(turn, first, last, dst); });
    });
    free(canvas);
    return done ? Resized::Done : Resized::NoMemory;
}
