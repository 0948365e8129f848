#include "image.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "pixel_memory.h"

unsigned char *allocPixels(int width, int height) {
    if (width <= 0 || height <= 0 || (uint64_t)width * (uint64_t)height > SIZE_MAX / 4) return nullptr;
    return (unsigned char *)allocatePixelMemory((size_t)width * height * 4);
}

void Image::release() {
    freePixelMemory(pixels);
    pixels = nullptr;
    width = 0;
    height = 0;
}

void Image::replace(int newWidth, int newHeight, unsigned char *newPixels) {
    release();
    width = newWidth;
    height = newHeight;
    pixels = newPixels;
}

void Image::flipRows() {
    if (!pixels || width <= 0 || height <= 1) return;
    const size_t rowBytes = (size_t)width * 4;
    // Swapped in place: a spare row of a very wide picture could fail to
    // allocate, and saving must not.
    for (int top = 0, bottom = height - 1; top < bottom; ++top, --bottom) {
        unsigned char *a = pixels + top * rowBytes;
        std::swap_ranges(a, a + rowBytes, pixels + bottom * rowBytes);
    }
}

bool hasTransparency(const Image &image) {
    if (!image.pixels) return false;
    const size_t count = (size_t)image.width * image.height;
    for (size_t i = 0; i < count; ++i)
        if (image.pixels[i * 4 + 3] != 255) return true;
    return false;
}
