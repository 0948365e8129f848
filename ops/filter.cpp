#include "filter.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "image/parallel.h"
#include "image/vector_path.h"

namespace {

struct Taps {
    int side;
    const int *weights; // side x side, row by row; rows go with image rows
};

constexpr int kEdge[] = {-1, -1, -1, -1, 8, -1, -1, -1, -1};
constexpr int kBox[] = {1, 1, 1, 1, 1, 1, 1, 1, 1};
constexpr int kSharpen[] = {-1, -1, -1, -1, 25, -1, -1, -1, -1};
constexpr int kBlur5[] = {
    1, 1, 2, 1, 1, //
    1, 2, 4, 2, 1, //
    2, 4, 8, 4, 2, //
    1, 2, 4, 2, 1, //
    1, 1, 2, 1, 1,
};
constexpr int kBlur7[] = {
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

// Rows with every kernel row inside the image, nearly all of them, go by sums
// made for each kernel. Its weights are mirrored left to right and top to
// bottom, so an output is the sum, over the tap columns, of weighted column
// sums that depend on the image column and the tap column's distance from the
// centre alone: each is formed once, mirrored rows added before they are
// multiplied, and used by every output that needs it. The divisor of such a
// row is fixed, so the quotient is by a constant. These are the sums of
// convolveBlock regrouped, exact integers either way, so the bytes are the
// same; each 16-bit quantity has its bound checked at compile time. The loops
// are written for the vectoriser and compiled once for each vector path.

// Output bytes per block of the interior loops: a fixed count, which the
// compiler turns into vector instructions with no remainder loop.
constexpr int kLanes = 32;
// Output bytes per chunk of a row whose column sums are kept, which stay in
// the first-level cache.
constexpr int kChunkBytes = 1024;

// The weight at kernel row dy and column dx, offsets from the centre.
constexpr int weightAt(const int *weights, int side, int dy, int dx) {
    return weights[(dy + side / 2) * side + dx + side / 2];
}

constexpr bool mirrored(const int *weights, int side) {
    for (int dy = -side / 2; dy <= side / 2; ++dy)
        for (int dx = -side / 2; dx <= side / 2; ++dx)
            if (weightAt(weights, side, dy, dx) != weightAt(weights, side, -dy, dx) ||
                weightAt(weights, side, dy, dx) != weightAt(weights, side, dy, -dx))
                return false;
    return true;
}

constexpr int weightSum(const int *weights, int side) {
    int sum = 0;
    for (int i = 0; i < side * side; ++i) sum += weights[i];
    return sum;
}

// channel() of a 16-bit sum by a constant divisor, which the compiler turns
// into a multiplication.
template <int Divisor> VECTOR_BODY unsigned char quotient16(int16_t sum) {
    static_assert(Divisor > 0 && 255 * Divisor <= 65535, "16-bit quotients");
    const uint16_t q = (uint16_t)((uint16_t)(sum < 0 ? 0 : sum) / Divisor);
    return (unsigned char)(q > 255 ? 255 : q);
}

// `value`, which the compiler can no longer take for a constant: a product
// by it stays one multiplication instead of several shifts and additions.
template <class T> VECTOR_BODY T opaque(T value) {
    asm("" : "+r"(value));
    return value;
}

// Each kernel below gives its half side h, the column sums of a chunk
// (Sums), columns(), which forms those of bytes from .. from + count - 1 of
// the rows, and outputs(), which makes output bytes from .. from + count - 1
// of the row from them; both take count >= kLanes.

// The 3x3 kernels: `around` everywhere but `centre` in the middle. A sum is
// around times the box of 9 plus (centre - around) times the middle byte, and
// the box is three sums of three bytes of a column.
template <const int *Weights> struct ThreeByThree {
    static constexpr int h = 1, around = Weights[0], centre = Weights[4];
    static constexpr int divisor = weightSum(Weights, 3) ? weightSum(Weights, 3) : 1;
    static constexpr int spread = centre > around ? centre - around : around - centre;
    static_assert(around == Weights[1] && around == Weights[2] && around == Weights[3] && around == Weights[5] &&
                      around == Weights[6] && around == Weights[7] && around == Weights[8],
                  "one weight around the centre");
    static_assert(9 * 255 * (around < 0 ? -around : around) + 255 * spread <= 32767, "16-bit sums");

    struct Sums {
        uint16_t column[kChunkBytes + 8]; // [j]: at byte j - 4 of the chunk's outputs
    };

    static VECTOR_BODY void columns(const unsigned char *const *rows, size_t from, size_t count, Sums &s) {
        const unsigned char *a = rows[0] + from, *b = rows[1] + from, *c = rows[2] + from;
        for (size_t j = 0; j < count; j += kLanes) {
            j = std::min(j, count - kLanes);
            for (int i = 0; i < kLanes; ++i) s.column[j + i] = (uint16_t)(a[j + i] + b[j + i] + c[j + i]);
        }
    }

    static VECTOR_BODY void outputs(const unsigned char *const *rows, size_t from, size_t count, const Sums &s,
                                      unsigned char *dst) {
        const unsigned char *middle = rows[1] + from;
        for (size_t j = 0; j < count; j += kLanes) {
            j = std::min(j, count - kLanes);
            int16_t sums[kLanes];
            for (int i = 0; i < kLanes; ++i) {
                const int box = s.column[j + i] + s.column[j + i + 4] + s.column[j + i + 8];
                sums[i] = (int16_t)(around * box + (centre - around) * middle[j + i]);
            }
            for (int i = 0; i < kLanes; ++i) dst[from + j + i] = quotient16<divisor>(sums[i]);
        }
    }
};

// The weights of the blurs by kernel row and column from the centre, and
// the sum of the 7x7 blur's column dx.
constexpr int blur5(int dy, int dx) { return weightAt(kBlur5, 5, dy, dx); }
constexpr int blur7(int dy, int dx) { return weightAt(kBlur7, 7, dy, dx); }
constexpr int blur7Column(int dx) { return blur7(0, dx) + 2 * (blur7(1, dx) + blur7(2, dx) + blur7(3, dx)); }

// The 5x5 blur: a column sum for each distance from the centre column, of
// the middle byte and of the pairs of bytes 1 and 2 rows above and below.
struct FiveByFive {
    static constexpr int h = 2, divisor = weightSum(kBlur5, 5);
    static_assert(mirrored(kBlur5, 5) && divisor * 255 <= 32767, "mirrored, 16-bit sums");

    struct Sums {
        uint16_t column[3][kChunkBytes + 16]; // [dx][j]: at byte j - 8 of the chunk's outputs
    };

    static VECTOR_BODY void columns(const unsigned char *const *rows, size_t from, size_t count, Sums &s) {
        const unsigned char *r0 = rows[0] + from, *r1 = rows[1] + from, *r2 = rows[2] + from, *r3 = rows[3] + from,
                            *r4 = rows[4] + from;
        for (size_t j = 0; j < count; j += kLanes) {
            j = std::min(j, count - kLanes);
            for (int i = 0; i < kLanes; ++i) {
                const uint16_t s0 = r2[j + i], s1 = (uint16_t)(r1[j + i] + r3[j + i]),
                               s2 = (uint16_t)(r0[j + i] + r4[j + i]);
                for (int dx = 0; dx < 3; ++dx)
                    s.column[dx][j + i] = (uint16_t)(blur5(0, dx) * s0 + blur5(1, dx) * s1 + blur5(2, dx) * s2);
            }
        }
    }

    static VECTOR_BODY void outputs(const unsigned char *const *, size_t from, size_t count, const Sums &s,
                                      unsigned char *dst) {
        for (size_t j = 0; j < count; j += kLanes) {
            j = std::min(j, count - kLanes);
            int16_t sums[kLanes];
            for (int i = 0; i < kLanes; ++i) {
                const size_t k = j + i + 8;
                sums[i] = (int16_t)(s.column[0][k] + s.column[1][k - 4] + s.column[1][k + 4] + s.column[2][k - 8] +
                                    s.column[2][k + 8]);
            }
            for (int i = 0; i < kLanes; ++i) dst[from + j + i] = quotient16<divisor>(sums[i]);
        }
    }
};

// The 7x7 blur: as the 5x5, but a whole sum needs 18 bits, so it is added in
// 32 bits from 16-bit parts that cannot overflow, the middle column's sum in
// two halves.
struct SevenBySeven {
    static constexpr int h = 3, divisor = weightSum(kBlur7, 7);
    static_assert(mirrored(kBlur7, 7), "mirrored");
    static_assert(255 * (blur7(0, 0) + 2 * blur7(1, 0)) <= 65535 && 255 * 2 * (blur7(2, 0) + blur7(3, 0)) <= 65535 &&
                      255 * blur7Column(1) <= 65535 && 255 * 2 * blur7Column(2) <= 65535 &&
                      255 * (2 * (blur7(2, 0) + blur7(3, 0)) + 2 * blur7Column(3)) <= 65535,
                  "16-bit parts");

    struct Sums {
        // [0], [1]: the middle column's halves; [1 + dx]: column dx, 1 to 3.
        // [n][j]: at byte j - 12 of the chunk's outputs.
        uint16_t column[5][kChunkBytes + 24];
    };

    static VECTOR_BODY void columns(const unsigned char *const *rows, size_t from, size_t count, Sums &s) {
        const unsigned char *r0 = rows[0] + from, *r1 = rows[1] + from, *r2 = rows[2] + from, *r3 = rows[3] + from,
                            *r4 = rows[4] + from, *r5 = rows[5] + from, *r6 = rows[6] + from;
        uint16_t w[4][4];
        for (int dy = 0; dy < 4; ++dy)
            for (int dx = 0; dx < 4; ++dx) w[dy][dx] = opaque((uint16_t)blur7(dy, dx));
        for (size_t j = 0; j < count; j += kLanes) {
            j = std::min(j, count - kLanes);
            for (int i = 0; i < kLanes; ++i) {
                const uint16_t s0 = r3[j + i], s1 = (uint16_t)(r2[j + i] + r4[j + i]),
                               s2 = (uint16_t)(r1[j + i] + r5[j + i]), s3 = (uint16_t)(r0[j + i] + r6[j + i]);
                s.column[0][j + i] = (uint16_t)(w[0][0] * s0 + w[1][0] * s1);
                s.column[1][j + i] = (uint16_t)(w[2][0] * s2 + w[3][0] * s3);
                for (int dx = 1; dx < 4; ++dx)
                    s.column[1 + dx][j + i] =
                        (uint16_t)(w[0][dx] * s0 + w[1][dx] * s1 + w[2][dx] * s2 + w[3][dx] * s3);
            }
        }
    }

    static VECTOR_BODY void outputs(const unsigned char *const *, size_t from, size_t count, const Sums &s,
                                      unsigned char *dst) {
        constexpr float inverse = 1.0f / divisor;
        for (size_t j = 0; j < count; j += kLanes) {
            j = std::min(j, count - kLanes);
            int sums[kLanes];
            for (int i = 0; i < kLanes; ++i) {
                const size_t k = j + i + 12;
                const uint16_t outer = (uint16_t)(s.column[1][k] + s.column[4][k - 12] + s.column[4][k + 12]);
                const uint16_t second = (uint16_t)(s.column[3][k - 8] + s.column[3][k + 8]);
                sums[i] = (int)s.column[0][k] + s.column[2][k - 4] + s.column[2][k + 4] + second + outer;
            }
            // BlockDivider's multiplication; its clamps change nothing here,
            // where sums lie in 0 .. 255 x divisor.
            for (int i = 0; i < kLanes; ++i)
                dst[from + j + i] = (unsigned char)(int)(((float)sums[i] + 0.5f) * inverse);
        }
    }
};

// Output bytes begin .. begin + span - 1 of an interior row (span at least
// kLanes), whose taps are bytes begin - 4h .. begin + span + 4h - 1 of
// rows[0 .. 2h], chunk by chunk.
template <class K>
VECTOR_BODY void interiorRow(const unsigned char *const *rows, size_t begin, size_t span, unsigned char *dst) {
    typename K::Sums sums;
    for (size_t first = 0; first < span; first += kChunkBytes) {
        const size_t last = std::min(first + kChunkBytes, span);
        first = std::min(first, last - kLanes); // a short last chunk overlaps its neighbour
        K::columns(rows, begin + first - 4 * K::h, last - first + 8 * K::h, sums);
        K::outputs(rows, begin + first, last - first, sums, dst);
    }
}

using InteriorRow = void (*)(const unsigned char *const *rows, size_t begin, size_t span, unsigned char *dst);

template <class K>
void interiorRowPlain(const unsigned char *const *rows, size_t begin, size_t span, unsigned char *dst) {
    interiorRow<K>(rows, begin, span, dst);
}

template <class K>
AVX2_FUNCTION void interiorRowAvx2(const unsigned char *const *rows, size_t begin, size_t span, unsigned char *dst) {
    interiorRow<K>(rows, begin, span, dst);
}

template <class K> InteriorRow interiorRowFor() { return useAvx2() ? interiorRowAvx2<K> : interiorRowPlain<K>; }

InteriorRow interiorRowOf(Kernel kernel) {
    switch (kernel) {
    case Kernel::Edge: return interiorRowFor<ThreeByThree<kEdge>>();
    case Kernel::Box: return interiorRowFor<ThreeByThree<kBox>>();
    case Kernel::Sharpen: return interiorRowFor<ThreeByThree<kSharpen>>();
    case Kernel::Blur5: return interiorRowFor<FiveByFive>();
    case Kernel::Blur7: return interiorRowFor<SevenBySeven>();
    }
    return nullptr; // not reached: every enumerator is listed
}

// Rows first .. last - 1 of the filtered pixels of `image` into `out`, a
// buffer of the image's size. Interior columns go with no bounds tests, by
// interiorRow in rows with every kernel row inside, block by block in the
// others; only the columns within h of the sides (all of them in a very
// narrow image) are clipped.
void convolveRows(const Image &image, Kernel kernel, int first, int last, unsigned char *out) {
    const Taps k = tapsOf(kernel);
    const InteriorRow interior = interiorRowOf(kernel);
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
        if (top == -h && bottom == h && spanBytes >= (size_t)kLanes) {
            interior(rows, (size_t)interiorBegin * 4, spanBytes, dst);
        } else {
            // The last block overlaps its neighbour rather than overrun the span.
            for (size_t offset = 0; offset < spanBytes; offset += kBlockBytes) {
                offset = std::min(offset, spanBytes - kBlockBytes);
                (shortSums ? convolveBlock<short> : convolveBlock<int>)(k, rows, offset, top, bottom, divide,
                                                                        dst + interiorBegin * 4 + offset);
            }
        }
        auto clipped = [&](int c) {
            convolveClipped(k, rows, c, top, bottom, std::max(-h, -c), std::min(h, width - 1 - c), dst + c * 4);
        };
        for (int c = 0; c < interiorBegin; ++c) clipped(c);
        for (int c = interiorEnd; c < width; ++c) clipped(c);
    }
}

// Rows of the unsharp mask blurred at a time, before their table pass, and
// bytes per block of that pass.
constexpr int kBandRows = 8;
constexpr int kTableBlock = 256;

} // namespace

bool convolveImage(Image &image, Kernel kernel) {
    unsigned char *out = allocPixels(image.width, image.height);
    if (!out) return false;
    forEachRowBlock(image.height, rowsPerTask(image.width),
                    [&](int first, int last) { convolveRows(image, kernel, first, last, out); });
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
    const size_t rowBytes = (size_t)image.width * 4;
    forEachRowBlock(image.height, rowsPerTask(image.width), [&](int first, int last) {
        // A band of rows is blurred, then the result overwrites the blurred
        // byte it was computed from while both are in the cache. A block's
        // table indices are formed first, by vectors, and its results stored
        // last, so that byte loads and stores of the two pictures, which lie
        // alike in their pages, do not alternate. Pointers and bounds are
        // local copies, which the byte stores cannot change.
        for (int band = first; band < last; band += kBandRows) {
            const int end = std::min(last, band + kBandRows);
            convolveRows(image, Kernel::Box, band, end, sharpened);
            const unsigned char *original = image.pixels + band * rowBytes;
            unsigned char *out = sharpened + band * rowBytes;
            const unsigned char *value = &table.value[0][0];
            const size_t bytes = (end - band) * rowBytes;
            size_t i = 0;
            for (; i + kTableBlock <= bytes; i += kTableBlock) {
                uint16_t index[kTableBlock];
                unsigned char result[kTableBlock];
                for (int l = 0; l < kTableBlock; ++l) index[l] = (uint16_t)(original[i + l] << 8 | out[i + l]);
                for (int l = 0; l < kTableBlock; ++l) result[l] = value[index[l]];
                for (int l = 0; l < kTableBlock; ++l) out[i + l] = result[l];
            }
            for (; i < bytes; ++i) out[i] = value[original[i] << 8 | out[i]];
        }
    });
    image.replace(image.width, image.height, sharpened);
    return true;
}
