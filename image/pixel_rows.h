// Row conversions between the premultiplied RGBA of the program and the
// straight colour that files store, shared by every file format. Each works
// on `count` pixels of 4 bytes, in the channel order named (RGBA or BGRA on
// the file's side), and depends on nothing but the C++ library.
#pragma once

#include <cstddef>

// Straight file pixels to premultiplied RGBA by premultiplyFloor
// (premultiply.h); `src` may be `dst`.
void premultiplyRgba(const unsigned char *src, size_t count, unsigned char *dst);
void premultiplyBgra(const unsigned char *src, size_t count, unsigned char *dst);

// Premultiplied RGBA to the straight colour files store, by straightForFile
// (premultiply.h); `src` may not be `dst`.
void straightRgba(const unsigned char *src, size_t count, unsigned char *dst);
void straightBgra(const unsigned char *src, size_t count, unsigned char *dst);
