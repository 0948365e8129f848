#include "pixel_rows.h"

#include <algorithm>
#include <cstdint>

#include "pixel_halves.h"
#include "premultiply.h"
#include "vector_path.h"

namespace {

// A pixel taken as two 16-bit halves (channels 0 | 1 << 8, 2 | alpha << 8):
// in this form the compiler turns the loop into vector code of 16-bit lanes,
// several times faster than byte by byte. `swap` exchanges channels 0 and 2.
template <bool swap> VECTOR_BODY void premultiplyBody(const unsigned char *src, size_t count, unsigned char *dst) {
    for (size_t i = 0; i < count; ++i, src += 4, dst += 4) {
        const PixelHalves p = loadHalves(src);
        const uint16_t a = p.high >> 8;
        const uint16_t c0 = divide255((uint16_t)((p.low & 0xFF) * a)), c1 = divide255((uint16_t)((p.low >> 8) * a)),
                       c2 = divide255((uint16_t)((p.high & 0xFF) * a));
        if (swap)
            storeHalves(dst, (uint16_t)(c2 | c1 << 8), (uint16_t)(c0 | a << 8));
        else
            storeHalves(dst, (uint16_t)(c0 | c1 << 8), (uint16_t)(c2 | a << 8));
    }
}
template <bool swap> void premultiplyPlain(const unsigned char *src, size_t count, unsigned char *dst) {
    premultiplyBody<swap>(src, count, dst);
}
template <bool swap> AVX2_FUNCTION void premultiplyAvx2(const unsigned char *src, size_t count, unsigned char *dst) {
    premultiplyBody<swap>(src, count, dst);
}

// Copies a run of kRunPixels pixels, exchanging channels 0 and 2 if asked.
template <bool swap> void copyRun(const unsigned char *src, unsigned char *dst) {
    for (int i = 0; i < kRunPixels; ++i, src += 4, dst += 4) {
        const PixelHalves p = loadHalves(src);
        if (swap)
            storeHalves(dst, (uint16_t)((p.high & 0xFF) | (p.low & 0xFF00)),
                        (uint16_t)((p.low & 0xFF) | (p.high & 0xFF00)));
        else
            storeHalves(dst, p.low, p.high);
    }
}

// Runs of opaque pixels, most of a typical picture, are copied; the others
// look their colours up.
template <bool swap> void straight(const unsigned char *src, size_t count, unsigned char *dst) {
    const StraightForFile &table = straightForFile();
    for (size_t x = 0; x < count; x += kRunPixels) {
        const size_t n = std::min((size_t)kRunPixels, count - x);
        if (n == (size_t)kRunPixels && table.opaqueKeepsColour && runIsOpaque(src + x * 4)) {
            copyRun<swap>(src + x * 4, dst + x * 4);
            continue;
        }
        for (size_t i = x; i < x + n; ++i) {
            const unsigned char *p = src + i * 4;
            const unsigned char *divide = table.value[p[3]];
            unsigned char *q = dst + i * 4;
            q[0] = divide[p[swap ? 2 : 0]];
            q[1] = divide[p[1]];
            q[2] = divide[p[swap ? 0 : 2]];
            q[3] = p[3];
        }
    }
}

} // namespace

void premultiplyRgba(const unsigned char *src, size_t count, unsigned char *dst) {
    (useAvx2() ? premultiplyAvx2<false> : premultiplyPlain<false>)(src, count, dst);
}

void premultiplyBgra(const unsigned char *src, size_t count, unsigned char *dst) {
    (useAvx2() ? premultiplyAvx2<true> : premultiplyPlain<true>)(src, count, dst);
}

void straightRgba(const unsigned char *src, size_t count, unsigned char *dst) { straight<false>(src, count, dst); }

void straightBgra(const unsigned char *src, size_t count, unsigned char *dst) { straight<true>(src, count, dst); }
