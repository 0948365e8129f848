#include "crop.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "pixel.h"

bool copyImage(const Image &source, Image &destination) {
    unsigned char *pixels = nullptr;
    if (source.pixels) {
        pixels = allocPixels(source.width, source.height);
        if (!pixels) return false;
        memcpy(pixels, source.pixels, (size_t)source.width * source.height * 4);
    }
    destination.replace(source.width, source.height, pixels);
    return true;
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

    const size_t rowBytes = (size_t)w * 4;
    if (w > 0 && h > 0 && left + w <= image.width && top + h <= image.height) {
        // Inside the image: the rows move to the front of its own buffer,
        // each to a place before its own, and the rest is given back.
        for (long long row = 0; row < h; ++row)
            memmove(image.pixels + (size_t)row * rowBytes,
                    image.pixels + ((size_t)(top + row) * image.width + left) * 4, rowBytes);
        unsigned char *kept = (unsigned char *)realloc(image.pixels, rowBytes * h);
        if (kept) image.pixels = kept; // else the larger block holds the same rows
        image.width = (int)w;
        image.height = (int)h;
        return CropResult::Done;
    }
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
        pixels = allocPixels(width, height);
        if (!pixels) return false;
        const unsigned char pixel[4] = {(unsigned char)mulDiv255(red, alpha), (unsigned char)mulDiv255(green, alpha),
                                        (unsigned char)mulDiv255(blue, alpha), (unsigned char)alpha};
        const size_t count = (size_t)width * height;
        for (size_t i = 0; i < count; ++i) memcpy(pixels + i * 4, pixel, 4);
    }
    image.replace(width, height, pixels);
    return true;
}
