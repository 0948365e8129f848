#include "resample.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// Canvases stay within a 32-bit byte count, which bounds what a factor or
// an angle can make the program allocate.
constexpr uint64_t kMaxCanvasBytes = INT32_MAX;

inline bool isBlack(const unsigned char *p) { return (p[0] | p[1] | p[2]) == 0; }

bool rowIsBlack(const Image &image, int r) {
    const unsigned char *p = image.pixels + (size_t)r * image.width * 4;
    for (int c = 0; c < image.width; ++c, p += 4)
        if (!isBlack(p)) return false;
    return true;
}

// Keeps the width x height block at (left, top). An empty block leaves the
// image without pixels at that size; when memory for the block cannot be had
// the image stays as it is.
void keepBlock(Image &image, int left, int top, int width, int height) {
    if (width == image.width && height == image.height) return;
    unsigned char *kept = nullptr;
    if (width > 0 && height > 0) {
        kept = allocPixels(width, height);
        if (!kept) return;
        const size_t rowBytes = (size_t)width * 4;
        for (int r = 0; r < height; ++r)
            memcpy(kept + r * rowBytes, image.pixels + ((size_t)(top + r) * image.width + left) * 4, rowBytes);
    }
    image.replace(width, height, kept);
}

} // namespace

unsigned char *centreOnCanvas(const Image &image, int canvasWidth, int canvasHeight,
                              const unsigned char background[4]) {
    if (canvasWidth <= 0 || canvasHeight <= 0 ||
        (uint64_t)canvasWidth * (uint64_t)canvasHeight * 4 > kMaxCanvasBytes)
        return nullptr;
    unsigned char *canvas = allocPixels(canvasWidth, canvasHeight);
    if (!canvas) return nullptr;
    const int offX = canvasWidth / 2 - image.width / 2, offY = canvasHeight / 2 - image.height / 2;
    // Canvas columns first .. last - 1 and rows top .. bottom - 1 show the image.
    const int first = std::max(0, offX), last = std::min(canvasWidth, offX + image.width);
    const int top = std::max(0, offY), bottom = std::min(canvasHeight, offY + image.height);
    const size_t rowBytes = (size_t)canvasWidth * 4;
    for (int i = 0; i < canvasHeight; ++i) {
        unsigned char *row = canvas + i * rowBytes;
        for (int j = 0; j < canvasWidth; ++j) memcpy(row + j * 4, background, 4);
        if (i >= top && i < bottom && first < last)
            memcpy(row + first * 4, image.pixels + ((size_t)(i - offY) * image.width + (first - offX)) * 4,
                   (size_t)(last - first) * 4);
    }
    return canvas;
}

bool truncateSide(double size, int &side) {
    if (!(size >= 0 && size < 2147483648.0)) return false;
    side = (int)size;
    return true;
}

void trimBlackRows(Image &image) {
    int top = 0, bottom = image.height;
    while (top < bottom && rowIsBlack(image, top)) ++top;
    while (bottom > top && rowIsBlack(image, bottom - 1)) --bottom;
    keepBlock(image, 0, top, image.width, bottom - top);
}

void trimBlackColumns(Image &image) {
    // The picture spans columns left .. right - 1 when some row has colour there.
    int left = image.width, right = 0;
    for (int r = 0; r < image.height; ++r) {
        const unsigned char *row = image.pixels + (size_t)r * image.width * 4;
        int c = 0;
        while (c < left && isBlack(row + c * 4)) ++c;
        left = c;
        c = image.width;
        while (c > right && isBlack(row + (c - 1) * 4)) --c;
        right = c;
    }
    if (left >= right) left = right = 0;
    keepBlock(image, left, 0, right - left, image.height);
}

bool scaleImage(Image &image, double sx, double sy) {
    int nw = image.width, nh = image.height;
    if ((sx > 1 && !truncateSide(image.width * sx, nw)) || (sy > 1 && !truncateSide(image.height * sy, nh)))
        return false;
    static const unsigned char opaqueBlack[4] = {0, 0, 0, 255};
    unsigned char *canvas = centreOnCanvas(image, nw, nh, opaqueBlack);
    unsigned char *result = canvas ? allocPixels(nw, nh) : nullptr;
    // X depends on the column only, Y on the row only.
    double *xs = result ? (double *)malloc((size_t)nw * sizeof(double)) : nullptr;
    if (!xs) {
        free(canvas);
        free(result);
        return false;
    }
    const int cx = nw / 2, cy = nh / 2;
    const double shiftX = cx / sx - cx, shiftY = cy / sy - cy;
    for (int j = 0; j < nw; ++j) xs[j] = j / sx - shiftX;
    unsigned char *dst = result;
    for (int i = 0; i < nh; ++i) {
        const double y = i / sy - shiftY;
        for (int j = 0; j < nw; ++j, dst += 4)
            if (!sampleBilinear(canvas, nw, nh, xs[j], y, dst)) memcpy(dst, opaqueBlack, 4);
    }
    free(xs);
    free(canvas);
    image.replace(nw, nh, result);
    trimBlackRows(image);
    trimBlackColumns(image);
    return true;
}
