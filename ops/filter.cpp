#include "filter.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace {

struct Taps {
    int side;
    const int *weights; // side x side, row by row; rows go with image rows
};

const int kEdge[] = {-1, -1, -1, -1, 8, -1, -1, -1, -1};
const int kBox[] = {1, 1, 1, 1, 1, 1, 1, 1, 1};
const int kSharpen[] = {-1, -1, -1, -1, 25, -1, -1, -1, -1};
const int kBlur5[] = {
    1, 1, 2, 1, 1, //
    1, 2, 4, 2, 1, //
    2, 4, 8, 4, 2, //
    1, 2, 4, 2, 1, //
    1, 1, 2, 1, 1,
};
const int kBlur7[] = {
    1,  4,  8,  10, 8,  4,  1,  //
    4,  12, 25, 29, 25, 12, 4,  //
    8,  25, 49, 58, 49, 25, 8,  //
    10, 29, 58, 67, 58, 29, 10, //
    8,  25, 49, 58, 49, 25, 8,  //
    4,  12, 25, 29, 25, 12, 4,  //
    1,  4,  8,  10, 8,  4,  1,
};

Taps tapsOf(Kernel kernel) {
    switch (kernel) {
    case Kernel::Edge: return {3, kEdge};
    case Kernel::Box: return {3, kBox};
    case Kernel::Sharpen: return {3, kSharpen};
    case Kernel::Blur5: return {5, kBlur5};
    case Kernel::Blur7: return {7, kBlur7};
    }
    return {1, kBox}; // not reached: every enumerator is listed
}

inline unsigned char saturate(int v) { return (unsigned char)(v < 0 ? 0 : v > 255 ? 255 : v); }

// The quotient that becomes a channel; a zero weight sum divides by 1.
inline unsigned char channel(int sum, int divisor) { return saturate(sum / (divisor ? divisor : 1)); }

// One output pixel with taps clipped to kernel rows top..bottom and columns
// left..right (offsets from the centre). Used where columns are clipped.
void convolveClipped(const Taps &k, const unsigned char *const *rows, int c, int top, int bottom,
                     int left, int right, unsigned char *out) {
    const int h = k.side / 2;
    int sum[4] = {0, 0, 0, 0};
    int divisor = 0;
    for (int dy = top; dy <= bottom; ++dy) {
        const int *w = k.weights + (dy + h) * k.side + h;
        const unsigned char *p = rows[dy + h] + (c + left) * 4;
        for (int dx = left; dx <= right; ++dx, p += 4) {
            divisor += w[dx];
            for (int ch = 0; ch < 4; ++ch) sum[ch] += w[dx] * p[ch];
        }
    }
    for (int ch = 0; ch < 4; ++ch) out[ch] = channel(sum[ch], divisor);
}

// The filtered pixels of `image` in a new buffer, or null without memory.
// Interior columns are summed tap by tap over whole row spans with no bounds
// tests; only the few columns within h of the sides take the clipped path.
unsigned char *convolvePixels(const Image &image, const Taps &k) {
    const int width = image.width, height = image.height, h = k.side / 2;
    unsigned char *out = allocPixels(width, height);
    if (!out) return nullptr;
    const size_t rowBytes = (size_t)width * 4;
    // Columns interiorBegin .. interiorEnd - 1 have every tap column inside.
    const int interiorBegin = std::min(h, width), interiorEnd = std::max(h, width - h);
    const size_t spanBytes = (size_t)(interiorEnd - interiorBegin) * 4;
    std::vector<int> sums(spanBytes);
    std::vector<const unsigned char *> rows(k.side); // rows[dy + h], set for top..bottom

    for (int r = 0; r < height; ++r) {
        const int top = std::max(-h, -r), bottom = std::min(h, height - 1 - r);
        for (int dy = top; dy <= bottom; ++dy) rows[dy + h] = image.pixels + (r + dy) * rowBytes;
        unsigned char *dst = out + r * rowBytes;

        if (spanBytes) {
            std::fill(sums.begin(), sums.end(), 0);
            int divisor = 0;
            for (int dy = top; dy <= bottom; ++dy) {
                const int *weights = k.weights + (dy + h) * k.side;
                for (int t = 0; t < k.side; ++t) {
                    // Tap column t of the span's first pixel is image column t.
                    const unsigned char *src = rows[dy + h] + t * 4;
                    const int weight = weights[t];
                    divisor += weight;
                    for (size_t i = 0; i < spanBytes; ++i) sums[i] += weight * src[i];
                }
            }
            unsigned char *span = dst + interiorBegin * 4;
            for (size_t i = 0; i < spanBytes; ++i) span[i] = channel(sums[i], divisor);
        }
        auto clipped = [&](int c) {
            convolveClipped(k, rows.data(), c, top, bottom, std::max(-h, -c), std::min(h, width - 1 - c),
                            dst + c * 4);
        };
        for (int c = 0; c < interiorBegin; ++c) clipped(c);
        for (int c = interiorEnd; c < width; ++c) clipped(c);
    }
    return out;
}

} // namespace

bool convolveImage(Image &image, Kernel kernel) {
    unsigned char *out = convolvePixels(image, tapsOf(kernel));
    if (!out) return false;
    image.replace(image.width, image.height, out);
    return true;
}

bool unsharpMaskImage(Image &image) {
    unsigned char *blurred = convolvePixels(image, tapsOf(Kernel::Box));
    if (!blurred) return false;
    const unsigned char *original = image.pixels;
    const size_t bytes = (size_t)image.width * image.height * 4;
    // The result overwrites the blurred byte it was computed from.
    for (size_t i = 0; i < bytes; ++i)
        blurred[i] = saturate((int)(original[i] * 1.3196721311475408 - blurred[i] * 0.31967213114754084));
    image.replace(image.width, image.height, blurred);
    return true;
}
