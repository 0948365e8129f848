// Per-channel arithmetic shared by the image operations. Inline: these run
// once per channel in the hot loops.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

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

// floor(v) as a channel value: below 0 (and NaN) gives 0, above 255 gives 255.
inline int floorToChannel(double v) {
    v = std::floor(v);
    return v > 0.0 ? (v < 255.0 ? (int)v : 255) : 0;
}

// Pixels taken at a time by the loops with a fast path for opaque pixels:
// a fixed count lets the compiler turn each run into vector code.
constexpr int kRunPixels = 16;

// Whether the kRunPixels pixels from p all have alpha 255.
inline bool runIsOpaque(const unsigned char *p) {
    uint32_t all = 0xFFFFFFFFu;
    for (int i = 0; i < kRunPixels; ++i) {
        uint32_t word;
        memcpy(&word, p + i * 4, 4);
        all &= word;
    }
    unsigned char channels[4];
    memcpy(channels, &all, 4);
    return channels[3] == 255;
}

// A pixel as two 16-bit halves, channels 0 | 1 << 8 and 2 | alpha << 8 on
// this little-endian target: loops written on the halves, without branches,
// become vector code.
struct PixelHalves {
    uint16_t low, high;
};

inline PixelHalves loadHalves(const unsigned char *p) {
    PixelHalves h;
    memcpy(&h.low, p, 2);
    memcpy(&h.high, p + 2, 2);
    return h;
}

inline void storeHalves(unsigned char *p, uint16_t low, uint16_t high) {
    memcpy(p, &low, 2);
    memcpy(p + 2, &high, 2);
}
