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

Resized rotateImage(Image &image, double degrees) {
    int nw, nh;
    if (!rotatedSize(image.width, image.height, degrees, nw, nh)) return Resized::TooLarge;
    // Near a quarter turn nw x nh is narrower or lower than the image: the
    // canvas grows to hold all of it, and the samples shift by the difference
    // of the two centres, so no part of the picture is cut off before the turn.
    const int cw = std::max(nw, image.width), ch = std::max(nh, image.height);
    if (cw <= 0 || ch <= 0 || !canvasFits(cw, ch)) return Resized::TooLarge;
    static const unsigned char transparentBlack[4] = {0, 0, 0, 0};
    unsigned char *canvas = centreOnCanvas(image, cw, ch, transparentBlack);
    unsigned char *result = canvas ? allocPixels(nw, nh) : nullptr;
    if (!result) {
        free(canvas);
        return Resized::NoMemory;
    }
    const double theta = degrees * kRadiansPerDegree;
    const double cosT = std::cos(theta), sinT = std::sin(theta);
    const int cx = nw / 2, cy = nh / 2;
    const double shiftX = cw / 2 - cx, shiftY = ch / 2 - cy;
    // x = cx + (j - cx) cos - (i - cy) sin and y = cy + (j - cx) sin + (i - cy) cos,
    // summed in this grouping (rounding depends on it), row terms once a row.
    const double a2 = cx * sinT, a4 = cy * (1 - cosT), a6 = cx * (1 - cosT), a7 = cy * sinT;
    unsigned char *dst = result;
    for (int i = 0; i < nh; ++i) {
        const double a1 = i * cosT, a5 = i * sinT;
        for (int j = 0; j < nw; ++j, dst += 4) {
            const double x = (((j * cosT - a5) + a7) + a6) + shiftX;
            const double y = (((j * sinT + a1) - a2) + a4) + shiftY;
            if (!sampleBilinear(canvas, cw, ch, x, y, dst)) memcpy(dst, transparentBlack, 4);
        }
    }
    free(canvas);
    image.replace(nw, nh, result);
    trimBlackRows(image);
    trimBlackColumns(image);
    return Resized::Done;
}
