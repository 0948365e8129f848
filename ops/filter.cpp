#include "filter.h"

#include <algorithm>
#include <cstdint>
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

// channel() for a whole block with one divisor, the division made a
// multiplication: for 0 < n < 255 d, n * ceil(2^32 / d) >> 32 is exactly
// n / d, as n * d stays below 2^32 for d up to 4104.
class BlockDivider {
  public:
    // Whole rows of these kernels never weigh less than 0.
    explicit BlockDivider(int divisor)
        : divisor(divisor ? divisor : 1), reciprocal(0xFFFFFFFFull / this->divisor + 1) {}
    unsigned char operator()(int n) const {
        if (n <= 0) return 0;
        if (n >= 255 * divisor) return 255;
        return (unsigned char)(((uint64_t)n * reciprocal) >> 32);
    }

  private:
    int divisor;
    uint64_t reciprocal;
};

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

// Bytes of output per block of the interior: a fixed count lets the
// compiler keep the sums in vector registers.
constexpr int kBlockBytes = 32;

// One block of interior output, every tap column inside, kernel rows
// top..bottom. Output byte i of the block reads its leftmost tap at byte
// offset + i of each row.
void convolveBlock(const Taps &k, const unsigned char *const *rows, size_t offset, int top, int bottom,
                   const BlockDivider &divide, unsigned char *out) {
    const int h = k.side / 2;
    int sums[kBlockBytes] = {};
    for (int dy = top; dy <= bottom; ++dy) {
        const int *weights = k.weights + (dy + h) * k.side;
        const unsigned char *src = rows[dy + h] + offset;
        for (int t = 0; t < k.side; ++t, src += 4) {
            // Every weight times 255 fits 16 bits, so products are formed
            // eight at a time.
            const short weight = (short)weights[t];
            for (int i = 0; i < kBlockBytes; ++i) sums[i] += (short)(weight * src[i]);
        }
    }
    for (int i = 0; i < kBlockBytes; ++i) out[i] = divide(sums[i]);
}

// The filtered pixels of `image` in a new buffer, or null without memory.
// Interior columns go block by block with no bounds tests; only the columns
// within h of the sides (all of them in a very narrow image) are clipped.
unsigned char *convolvePixels(const Image &image, const Taps &k) {
    const int width = image.width, height = image.height, h = k.side / 2;
    unsigned char *out = allocPixels(width, height);
    if (!out) return nullptr;
    const size_t rowBytes = (size_t)width * 4;
    // Columns interiorBegin .. interiorEnd - 1 have every tap column inside.
    int interiorBegin = h, interiorEnd = width - h;
    if ((interiorEnd - interiorBegin) * 4 < kBlockBytes) interiorBegin = interiorEnd = width;
    const size_t spanBytes = (size_t)(interiorEnd - interiorBegin) * 4;
    std::vector<const unsigned char *> rows(k.side); // rows[dy + h], set for top..bottom

    for (int r = 0; r < height; ++r) {
        const int top = std::max(-h, -r), bottom = std::min(h, height - 1 - r);
        int divisor = 0;
        for (int dy = top; dy <= bottom; ++dy) {
            rows[dy + h] = image.pixels + (r + dy) * rowBytes;
            for (int t = 0; t < k.side; ++t) divisor += k.weights[(dy + h) * k.side + t];
        }
        const BlockDivider divide(divisor);
        unsigned char *dst = out + r * rowBytes;
        // The last block overlaps its neighbour rather than overrun the span.
        for (size_t offset = 0; offset < spanBytes; offset += kBlockBytes) {
            offset = std::min(offset, spanBytes - kBlockBytes);
            convolveBlock(k, rows.data(), offset, top, bottom, divide, dst + interiorBegin * 4 + offset);
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
