// Every rule by which the program premultiplies colour by alpha or divides
// it out again. They differ in their rounding, and each output below is
// fixed to the bit by its own rule, so they are not interchangeable.
//
//   premultiplyFloor     floor(c x a / 255)  reading files: TGA, PNG (and
//                        JPEG, opaque, where it keeps the colour)
//   straightForFile      c / a in single precision, truncated, above 255
//                        clamped: writing TGA and PNG files
//   mulDiv255            c x a / 255 rounded: solid, bluescreen, darken and
//                        dissolve, the composite operators
//   unpremultiplyChannel c x 255 / a truncated, at most 255: bluescreen,
//                        darken and dissolve
//   dissolve's colour    floor(c / (a / 255.0)) in double precision, then
//                        mulDiv255 by the new alpha (ops/tone.cpp)
//
// A picture written as PNG and read again decodes to the same RGBA values
// as one written and read as TGA, because both formats use the first two.
// This header depends on the C++ library alone, so the TGA library can use it.
#pragma once

#include <cstdint>

// floor(x / 255) for x up to 255 x 255, in 16 bits so that loops vectorise.
inline uint16_t divide255(uint16_t x) { return (uint16_t)((x + 1 + (x >> 8)) >> 8); }

// floor(c x a / 255), for 0 <= c, a <= 255.
inline unsigned char premultiplyFloor(unsigned c, unsigned a) { return (unsigned char)divide255((uint16_t)(c * a)); }

// The straight colour a file stores for a premultiplied channel: c / a in
// single precision, truncated, above 255 clamped; alpha 0 keeps the colour
// byte. Indexed [alpha][colour]; built on first use, thread-safe.
struct StraightForFile {
    unsigned char value[256][256];
    // Whether opaque pixels keep their colour bytes, so that runs of them can
    // skip the table.
    bool opaqueKeepsColour = true;
    StraightForFile() {
        const float k = 1.0f / 255.0f;
        for (int a = 0; a < 256; ++a) {
            float alpha = (float)a * k;
            for (int c = 0; c < 256; ++c) {
                float x = (float)c * k;
                if (alpha > 0.0001f) x = x / alpha;
                value[a][c] = x > 1.0f ? 255 : (unsigned char)(int)(x * 255.0f);
            }
        }
        for (int c = 0; c < 256; ++c) opaqueKeepsColour = opaqueKeepsColour && value[255][c] == c;
    }
};

inline const StraightForFile &straightForFile() {
    static const StraightForFile table;
    return table;
}

// c x a / 255 rounded to the nearest integer, for 0 <= c, a <= 255; the
// product by which a channel is premultiplied by an alpha. a = 255 gives c.
inline int mulDiv255(int c, int a) {
    int t = c * a + 128;
    return (t + (t >> 8)) >> 8;
}

// Straight colour of a premultiplied channel, for a > 0: c x 255 / a
// truncated, at most 255 (only a colour above its alpha would exceed it).
inline int unpremultiplyChannel(int c, int a) {
    int q = c * 255 / a;
    return q > 255 ? 255 : q;
}

// unpremultiplyChannel for every alpha above 0 and colour, [alpha][colour]:
// a lookup instead of a division per channel.
struct StraightColours {
    unsigned char of[256][256] = {};
    StraightColours() {
        for (int a = 1; a < 256; ++a)
            for (int c = 0; c < 256; ++c) of[a][c] = (unsigned char)unpremultiplyChannel(c, a);
    }
};

inline const StraightColours &straightColours() {
    static const StraightColours table;
    return table;
}
