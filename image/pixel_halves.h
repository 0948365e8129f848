// Pixel helpers for the loops that must become vector code, shared by the TGA
// library and the image operations; they depend on nothing but the C library.
#pragma once

#include <cstdint>
#include <cstring>

// Pixels taken at a time by the loops with a fast path for opaque pixels:
// a fixed count lets the compiler turn each run into vector code.
constexpr int kRunPixels = 16;

// Whether the kRunPixels RGBA (or BGRA) pixels from p all have alpha 255.
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
