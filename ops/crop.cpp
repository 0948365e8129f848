#include "crop.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "pixel.h"

namespace {

// The image's own buffer when it holds exactly width x height pixels and
// they are all to be written anew: no new memory and no first-touch page
// faults. Else a new buffer (null when none can be had).
unsigned char *bufferToOverwrite(const Image &image, int width, int height) {
    if (image.pixels && (uint64_t)image.width * image.height == (uint64_t)width * height) return image.pixels;
    return allocPixels(width, height);
}

// Gives the image its new size and pixels, which may be its own buffer.
void takePixels(Image &image, int width, int height, unsigned char *pixels) {
    if (pixels && pixels == image.pixels) {
        image.width = width;
        image.height = height;
    } else {
        image.replace(width, height, pixels);
    }
}

} // namespace

bool copyImage(const Image &source, Image &destination) {
    if (&source == &destination) return true;
    unsigned char *pixels = nullptr;
    if (source.pixels) {
        pixels = bufferToOverwrite(destination, source.width, source.height);
        if (!pixels) return false;
        // By blocks on all processors, which share the page faults of the
        // new buffer too.
        forEachPixelBlock(source, [&](size_t first, size_t count) {
            memcpy(pixels + first * 4, source.pixels + first * 4, count * 4);
        });
    }
    takePixels(destination, source.width, source.height, pixels);
    return true;
}

void keepBlockInPlace(Image &image, int left, int top, int width, int height) {
    if (width <= 0 || height <= 0) {
        image.replace(width, height, nullptr);
        return;
    }
    if (width == image.width && height == image.height) return;
    // Each row moves to a place before its own that no later row's pixels
    // occupy: in order, no row is overwritten before it has moved.
    const size_t rowBytes = (size_t)width * 4;
    for (int row = 0; row < height; ++row)
        memmove(image.pixels + row * rowBytes, image.pixels + ((size_t)(top + row) * image.width + left) * 4,
                rowBytes);
    unsigned char *kept = (unsigned char *)realloc(image.pixels, rowBytes * height);
    if (kept) image.pixels = kept; // else the larger block holds the same rows
    image.width = width;
    image.height = height;
}

CropResult cropImage(Image &image, int x, int y, int width, int height) {
    // In 64 bits: turning a negative size round could overflow an int.
    long long left = x, top = y, w = width, h = height;
    if (w < 0) {
        left += w;
        w = -w;
    }
    if (h < 0) {
        top += h;
        h = -h;
    }
    if (!image.pixels || left < 0 || left >= image.width || top < 0 || top >= image.height)
        return CropResult::StartOutside;
    if (w > INT_MAX || h > INT_MAX) return CropResult::NoMemory;

    if (left + w <= image.width && top + h <= image.height) {
        keepBlockInPlace(image, (int)left, (int)top, (int)w, (int)h);
        return CropResult::Done;
    }
    const size_t rowBytes = (size_t)w * 4;
    unsigned char *pixels = nullptr;
    if (w > 0 && h > 0) {
        pixels = allocPixels((int)w, (int)h);
        if (!pixels) return CropResult::NoMemory;
        const size_t inside = (size_t)std::min<long long>(w, image.width - left) * 4;
        for (long long row = 0; row < h; ++row) {
            unsigned char *target = pixels + (size_t)row * rowBytes;
            // The part of the row inside the image, then transparent black.
            size_t copied = 0;
            if (top + row < image.height) {
                memcpy(target, image.pixels + ((size_t)(top + row) * image.width + left) * 4, inside);
                copied = inside;
            }
            memset(target + copied, 0, rowBytes - copied);
        }
    }
    image.replace((int)w, (int)h, pixels);
    return CropResult::Done;
}

bool fillSolid(Image &image, int width, int height, int red, int green, int blue, int alpha) {
    unsigned char *pixels = nullptr;
    if (width > 0 && height > 0) {
        pixels = bufferToOverwrite(image, width, height);
        if (!pixels) return false;
        const unsigned char pixel[4] = {(unsigned char)mulDiv255(red, alpha), (unsigned char)mulDiv255(green, alpha),
                                        (unsigned char)mulDiv255(blue, alpha), (unsigned char)alpha};
        uint32_t word;
        memcpy(&word, pixel, 4);
        forEachRowBlock(height, rowsPerTask(width), [&](int first, int last) {
            const uint32_t value = word; // a copy that the stores below cannot reach
            unsigned char *p = pixels + (size_t)first * width * 4, *end = pixels + (size_t)last * width * 4;
            for (; p < end; p += 4) memcpy(p, &value, 4);
        });
    }
    takePixels(image, width, height, pixels);
    return true;
}
