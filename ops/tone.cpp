#include "tone.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "image/vector_path.h"
#include "pixel.h"

namespace {
// 1/255 rounded to double.
const double kInverse255 = 1.0 / 255.0;
} // namespace

namespace {

// A multiplier m with floor(c x factor) = (c x m) >> 16 for every byte c,
// found by trying those next to factor x 65536 and checking all 256 bytes
// against `scaled`; 0 when none fits 16 bits (factors of 1 or more).
uint32_t byteMultiplier(const unsigned char scaled[256], float factor) {
    const double guess = std::floor(factor * 65536.0);
    if (!(guess >= 0 && guess < 65536)) return 0;
    for (uint32_t m = (uint32_t)guess; m <= (uint32_t)guess + 2 && m < 65536; ++m) {
        int c = 0;
        while (c < 256 && ((c * m) >> 16) == scaled[c]) ++c;
        if (c == 256) return m;
    }
    return 0;
}

// Bytes p[0 .. count - 1] become (p x m) >> 16: 16-bit high products, as
// vector code.
VECTOR_BODY void multiplyBytesBody(unsigned char *p, size_t count, uint16_t m) {
    for (size_t i = 0; i < count; ++i) p[i] = (unsigned char)(((uint32_t)p[i] * m) >> 16);
}
void multiplyBytesPlain(unsigned char *p, size_t count, uint16_t m) { multiplyBytesBody(p, count, m); }
AVX2_FUNCTION void multiplyBytesAvx2(unsigned char *p, size_t count, uint16_t m) { multiplyBytesBody(p, count, m); }

} // namespace

void darkenImage(Image &image, float factor) {
    if (!image.pixels) return;
    unsigned char scaled[256];
    for (int c = 0; c < 256; ++c) scaled[c] = (unsigned char)floorToChannel(c * (double)factor);
    // Nearly every factor below 1 is a multiplication and a shift.
    if (const uint32_t m = scaled[255] ? byteMultiplier(scaled, factor) : 0) {
        const auto multiply = useAvx2() ? multiplyBytesAvx2 : multiplyBytesPlain;
        forEachPixelBlock(image, [&](size_t first, size_t count) { multiply(image.pixels + first * 4, count * 4, (uint16_t)m); });
        return;
    }
    // Otherwise the result depends on the byte alone: a table instead of a
    // floor per channel, over pairs of bytes so that one lookup does two.
    std::vector<uint16_t> pairs(1 << 16);
    for (int i = 0; i < 1 << 16; ++i) pairs[i] = (uint16_t)(scaled[i & 0xFF] | scaled[i >> 8] << 8);
    forEachPixelBlock(image, [&](size_t first, size_t count) {
        const uint16_t *table = pairs.data();
        unsigned char *p = image.pixels + first * 4;
        for (size_t i = 0; i < count; ++i, p += 4) {
            uint32_t pixel;
            memcpy(&pixel, p, 4);
            pixel = table[pixel & 0xFFFF] | (uint32_t)table[pixel >> 16] << 16;
            memcpy(p, &pixel, 4);
        }
    });
}

void dissolveImage(Image &image, float factor) {
    if (!image.pixels) return;
    // Each new byte depends on the pixel's alpha and that one byte, so it is
    // looked up: the new alpha by the old, the new colour by [alpha][colour].
    // The straight colour is the floating-point floor of c / (a / 255), not
    // the integer quotient: red = alpha = 35 gives 254.
    unsigned char newAlpha[256];
    std::vector<unsigned char> colour(256 * 256);
    for (int a = 0; a < 256; ++a) {
        newAlpha[a] = (unsigned char)floorToChannel(a * (double)factor);
        const double coverage = a * kInverse255;
        for (int c = 0; c < 256; ++c)
            colour[a * 256 + c] = a == 0 ? 0 : (unsigned char)mulDiv255(floorToChannel(c / coverage), newAlpha[a]);
    }
    // An opaque pixel keeps its straight colour, so opaque runs are
    // premultiplied by the one new alpha in 16-bit vector arithmetic.
    const uint16_t opaqueAlpha = newAlpha[255];
    bool opaqueKeepsColour = true;
    for (int c = 0; c < 256; ++c) opaqueKeepsColour = opaqueKeepsColour && colour[255 * 256 + c] == mulDiv255(c, opaqueAlpha);

    forEachPixelBlock(image, [&](size_t first, size_t count) {
        const unsigned char *colours = colour.data(), *alphas = newAlpha;
        const bool opaqueRuns = opaqueKeepsColour;
        const uint16_t runAlpha = opaqueAlpha;
        unsigned char *p = image.pixels + first * 4;
        for (size_t i = 0; i < count; i += kRunPixels) {
            const size_t n = std::min((size_t)kRunPixels, count - i);
            if (n == kRunPixels && opaqueRuns && runIsOpaque(p + i * 4)) {
                for (int k = 0; k < kRunPixels * 4; ++k) {
                    unsigned char *q = p + i * 4 + k;
                    const uint16_t t = (uint16_t)(*q * runAlpha + 128);
                    *q = (unsigned char)((t + (t >> 8)) >> 8); // mulDiv255, alpha 255 included
                }
                continue;
            }
            for (unsigned char *q = p + i * 4, *end = q + n * 4; q < end; q += 4) {
                const unsigned char *row = &colours[q[3] * 256];
                q[0] = row[q[0]];
                q[1] = row[q[1]];
                q[2] = row[q[2]];
                q[3] = alphas[q[3]];
            }
        }
    });
}

namespace {

// The difference matte over `count` pixels of the first image from p and
// the second from q; `least` is the least channel difference that counts.
void differenceRun(unsigned char *p, const unsigned char *q, size_t count, uint16_t least) {
    const StraightColours &straight = straightColours();
    auto gap = [](uint16_t x, uint16_t y) { return (uint16_t)(x > y ? x - y : y - x); };
    for (size_t i = 0; i < count; i += kRunPixels) {
        const size_t n = std::min((size_t)kRunPixels, count - i);
        unsigned char *a = p + i * 4;
        const unsigned char *b = q + i * 4;
        if (n == kRunPixels && runIsOpaque(b)) {
            // Pixels as two 16-bit halves, channels 0 | 1 << 8 and
            // 2 | alpha << 8, and no branch: vector code.
            for (int k = 0; k < kRunPixels; ++k, a += 4, b += 4) {
                const auto [aLow, aHigh] = loadHalves(a);
                const auto [bLow, bHigh] = loadHalves(b);
                const uint16_t largest = std::max({gap(aLow & 0xFF, bLow & 0xFF), gap(aLow >> 8, bLow >> 8),
                                                   gap(aHigh & 0xFF, bHigh & 0xFF)});
                const uint16_t keep = largest >= least ? 0xFFFF : 0;
                storeHalves(a, bLow & keep, bHigh & keep);
            }
            continue;
        }
        // Without a branch too: the straight colour of a transparent pixel
        // is 0, and so is its alpha.
        for (size_t k = 0; k < n; ++k, a += 4, b += 4) {
            const uint16_t largest = std::max({gap(a[0], b[0]), gap(a[1], b[1]), gap(a[2], b[2])});
            const unsigned char keep = largest >= least ? 255 : 0;
            const unsigned char *row = straight.of[b[3]];
            for (int c = 0; c < 3; ++c) a[c] = row[b[c]] & keep;
            a[3] = b[3] ? keep : 0;
        }
    }
}

} // namespace

bool differenceMatte(Image &first, const Image &second, double threshold) {
    if (!first.pixels || !second.pixels) return true;
    // Channel differences are whole numbers: d > threshold exactly when d
    // exceeds the threshold's floor (below 0 every one does, not-a-number none).
    const int most = threshold < 0 ? -1 : threshold < 255 ? (int)threshold : 255;
    const uint16_t least = (uint16_t)(most + 1); // the least difference that counts
    // Each matte pixel depends on the two pixels at its place alone, so it
    // is written over the first image's pixel: no new buffer. The new alpha
    // is 255 or 0, so premultiplying by it keeps the straight colour or
    // clears it; an opaque second pixel is its own straight colour.
    straightColours(); // made once, before the threads look it up
    forEachPixelBlock(first, [&](size_t start, size_t count) {
        differenceRun(first.pixels + start * 4, second.pixels + start * 4, count, least);
    });
    return true;
}
