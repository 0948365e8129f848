// The one in-memory picture type: 8-bit RGBA, colour premultiplied by alpha,
// top row first.
#pragma once

#include <new>

// Memory, one policy: an operation that cannot get the memory it needs
// changes nothing and returns false, and its command prints the memory line
// (memoryError). Pixel buffers come from allocPixels, which returns null;
// working lists in standard containers throw std::bad_alloc instead, and
// `fitsInMemory` runs such work and turns that into false. The dispatcher
// also catches std::bad_alloc, only as a last resort.
template <class Work> bool fitsInMemory(Work &&work) {
    try {
        work();
        return true;
    } catch (const std::bad_alloc &) {
        return false;
    }
}

// Allocates an uninitialised width x height RGBA buffer the way
// Image::release frees it. Null when a size is not positive, when the byte
// count would overflow, or when the memory cannot be had.
unsigned char *allocPixels(int width, int height);

// A plain record: copying it copies the pointer, and the destructor frees
// nothing. Registers own their buffers for the life of the process; code
// that builds a temporary Image calls release() on it when done.
struct Image {
    int width = -1;
    int height = -1;
    unsigned char *pixels = nullptr;

    bool empty() const { return pixels == nullptr; }

    // Frees the buffer and leaves a 0 x 0 image without pixels.
    void release();
    // Releases the old buffer and takes ownership of `newPixels`, which was
    // allocated with malloc.
    void replace(int newWidth, int newHeight, unsigned char *newPixels);
    // Reverses the order of the rows; does nothing without pixels.
    void flipRows();
};

// Whether any pixel has alpha below 255.
bool hasTransparency(const Image &image);
