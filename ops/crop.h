// Operations that give an image a whole new pixel buffer: copy, crop, solid.
#pragma once

#include "image/image.h"

// Makes `destination` a copy of `source` with its own pixels (a source
// without pixels gives a destination without pixels, of the same size).
// False, with `destination` unchanged, when the memory cannot be had.
bool copyImage(const Image &source, Image &destination);

// Keeps the width x height block whose top-left corner is (left, top), which
// lies inside the image, in the image's own buffer: needs no memory. A block
// with a side of 0 leaves an image of that size with no pixels.
void keepBlockInPlace(Image &image, int left, int top, int width, int height);

enum class CropResult { Done, StartOutside, NoMemory };

// Keeps the width x height rectangle whose top-left corner is (x, y). A
// negative width or height counts from the other side of the rectangle
// (x + width becomes the left edge). The corner must lie inside the image;
// the rectangle may reach past its right and bottom edges, where the new
// pixels are transparent black. A width or height of 0 leaves an image of
// that size with no pixels. Anything but Done leaves the image unchanged.
CropResult cropImage(Image &image, int x, int y, int width, int height);

// Replaces the image by width x height pixels of one straight colour,
// stored premultiplied. Expects sizes of at least 0 and channels 0..255.
// False, with the image unchanged, when the memory cannot be had.
bool fillSolid(Image &image, int width, int height, int red, int green, int blue, int alpha);
