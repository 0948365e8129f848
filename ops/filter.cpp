#include "filter.h"

#include <algorithm>
#include <cstdint>

#include "image/parallel.h"

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

// The widest kernel's side.
constexpr int kMostSide = 7;

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
// multiplication that vectorises: for 0 <= n <= 255 d, (n + 0.5) / d lies at
// least 0.5 / d from any whole number, and single precision computes it
// within 256 x 2^-23 of its value, far less for every d up to 4096: the
// truncated product is exactly n / d.
class BlockDivider {
  public:
    // Whole rows of these kernels never weigh less than 0.
    explicit BlockDivider(int divisor) : most(255 * (divisor ? divisor : 1)), inverse(1.0f / (divisor ? divisor : 1)) {}
    unsigned char operator()(int n) const {
        return (unsigned char)(int)(((float)std::min(std::max(n, 0), most) + 0.5f) * inverse);
    }

  private:
    int most;
    float inverse;
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
// offset + i of each row. Sums are 16-bit where every partial sum of the
// kernel fits, which doubles the lanes of each vector instruction.
template <class Sum>
void convolveBlock(const Taps &k, const unsigned char *const *rows, size_t offset, int top, int bottom,
                   const BlockDivider &divide, unsigned char *out) {
    const int h = k.side / 2;
    Sum sums[kBlockBytes] = {};
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
    const BlockDivider local = divide; // a copy that the stores below cannot reach
    for (int i = 0; i < kBlockBytes; ++i) out[i] = local(sums[i]);
}

// Whether every partial sum of the kernel over 8-bit values fits 16 bits.
bool fitsShortSums(const Taps &k) {
    int positive = 0, negative = 0;
    for (int i = 0; i < k.side * k.side; ++i) (k.weights[i] > 0 ? positive : negative) += k.weights[i];
    return positive * 255 <= 32767 && negative * 255 >= -32768;
}

// Rows first .. last - 1 of the filtered pixels of `image` into `out`, a
// buffer of the image's size. Interior columns go block by block with no
// bounds tests; only the columns within h of the sides (all of them in a
// very narrow image) are clipped.
void convolveRows(const Image &image, const Taps &k, int first, int last, unsigned char *out) {
    const int width = image.width, height = image.height, h = k.side / 2;
    const size_t rowBytes = (size_t)width * 4;
    // Columns interiorBegin .. interiorEnd - 1 have every tap column inside.
    int interiorBegin = h, interiorEnd = width - h;
    if ((interiorEnd - interiorBegin) * 4 < kBlockBytes) interiorBegin = interiorEnd = width;
    const size_t spanBytes = (size_t)(interiorEnd - interiorBegin) * 4;
    const unsigned char *rows[kMostSide]; // rows[dy + h], set for top..bottom
    const bool shortSums = fitsShortSums(k);

    for (int r = first; r < last; ++r) {
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
            (shortSums ? convolveBlock<short> : convolveBlock<int>)(k, rows, offset, top, bottom, divide,
                                                                    dst + interiorBegin * 4 + offset);
        }
        auto clipped = [&](int c) {
            convolveClipped(k, rows, c, top, bottom, std::max(-h, -c), std::min(h, width - 1 - c), dst + c * 4);
        };
        for (int c = 0; c < interiorBegin; ++c) clipped(c);
        for (int c = interiorEnd; c < width; ++c) clipped(c);
    }
}

} // namespace

bool convolveImage(Image &image, Kernel kernel) {
    unsigned char *out = allocPixels(image.width, image.height);
    if (!out) return false;
    const Taps k = tapsOf(kernel);
    forEachRowBlock(image.height, rowsPerTask(image.width),
                    [&](int first, int last) { convolveRows(image, k, first, last, out); });
    image.replace(image.width, image.height, out);
    return true;
}

bool unsharpMaskImage(Image &image) {
    unsigned char *sharpened = allocPixels(image.width, image.height);
    if (!sharpened) return false;
    // The result depends on the original byte and the blurred one alone: a
    // table instead of two products per byte.
    static const struct SharpenedTable {
        unsigned char value[256][256];
        SharpenedTable() {
            for (int o = 0; o < 256; ++o)
                for (int b = 0; b < 256; ++b)
                    value[o][b] = saturate((int)(o * 1.3196721311475408 - b * 0.31967213114754084));
        }
    } table;
    const Taps box = tapsOf(Kernel::Box);
    const size_t rowBytes = (size_t)image.width * 4;
    forEachRowBlock(image.height, rowsPerTask(image.width), [&](int first, int last) {
        convolveRows(image, box, first, last, sharpened);
        // The result overwrites the blurred byte it was computed from, while
        // the block is still in the cache. Pointers and bounds are local
        // copies, which the byte stores cannot change.
        const unsigned char *original = image.pixels + first * rowBytes;
        unsigned char *out = sharpened + first * rowBytes;
        const size_t bytes = (last - first) * rowBytes;
        for (size_t i = 0; i < bytes; ++i) out[i] = table.value[original[i]][out[i]];
    });
    image.replace(image.width, image.height, sharpened);
    return true;
}
