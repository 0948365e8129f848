#include "rotate.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "image/vector_path.h"
#include "resample.h"

namespace {
// The degree-to-radian factor rotations have always used, short of pi / 180.
constexpr double kRadiansPerDegree = 0.01745329251994;
} // namespace

bool rotatedSize(int width, int height, double degrees, int &rotatedWidth, int &rotatedHeight) {
    const double psi = (degrees + std::atan2((double)height, (double)width)) * kRadiansPerDegree;
    const double c = std::fabs(std::cos(psi)), s = std::fabs(std::sin(psi));
    return truncateSide(c * width + s * height, rotatedWidth) &&
           truncateSide(c * height + s * width, rotatedHeight);
}

namespace {

const unsigned char kTransparentBlack[4] = {0, 0, 0, 0};

// Where the result pixels sample the canvas: x = cx + (j - cx) cos - (i - cy)
// sin and y = cy + (j - cx) sin + (i - cy) cos, summed in the grouping of
// RowPositions (rounding depends on it), shifted by the difference of the
// canvas's centre and the result's. The canvas, canvasWidth x canvasHeight
// and transparent black, holds the image at (offX, offY); it is never made:
// samples read the image or transparent black instead.
struct Turn {
    const unsigned char *pixels;
    int width, height, offX, offY, canvasWidth, canvasHeight, resultWidth;
    double cosT, sinT, a2, a4, a6, a7, shiftX, shiftY;
};

// The columns first .. last - 1 of 0 .. n - 1 where lo <= at(j) < hi. `at`
// rises or falls with j (never both: a product with a fixed factor and sums
// with fixed terms keep their order under rounding), so they are found by
// bisection on the exact values.
template <class At>
VECTOR_BODY void columnsWhere(int n, const At &at, double lo, double hi, int &first,
                                                        int &last) {
    auto firstWhere = [n](const auto &holds) {
        int a = 0, b = n;
        while (a < b) {
            const int m = a + (b - a) / 2;
            if (holds(m))
                b = m;
            else
                a = m + 1;
        }
        return a;
    };
    if (at(n - 1) >= at(0)) {
        first = firstWhere([&](int j) { return at(j) >= lo; });
        last = firstWhere([&](int j) { return at(j) >= hi; });
    } else {
        first = firstWhere([&](int j) { return at(j) < hi; });
        last = firstWhere([&](int j) { return at(j) < lo; });
    }
}

// The sample positions of row i.
struct RowPositions {
    double cosT, sinT, a1, a2, a4, a5, a6, a7, shiftX, shiftY;
    RowPositions(const Turn &t, int i)
        : cosT(t.cosT), sinT(t.sinT), a1(i * t.cosT), a2(t.a2), a4(t.a4), a5(i * t.sinT), a6(t.a6), a7(t.a7),
          shiftX(t.shiftX), shiftY(t.shiftY) {}
    double x(int j) const { return (((j * cosT - a5) + a7) + a6) + shiftX; }
    double y(int j) const { return (((j * sinT + a1) - a2) + a4) + shiftY; }
};

// The columns of a row by what their samples need. A sample whose
// neighbours all lie on the transparent border comes to 0 as one outside the
// canvas does, so only columns first .. last - 1, whose samples have floor(x)
// in offX - 1 .. offX + width - 1 and floor(y) likewise, are computed; of
// those, columns inFirst .. inLast - 1 have all four neighbours in the image.
// All of them lie within the canvas (the image does): a sample outside it
// would be transparent black.
struct RowPlan {
    int first, inFirst, inLast, last;
};
RowPlan planRow(const Turn &t, const RowPositions &at) {
    const auto x = [&](int j) { return at.x(j); };
    const auto y = [&](int j) { return at.y(j); };
    const int n = t.resultWidth;
    int first, inFirst, inLast, last, firstY, lastY;
    columnsWhere(n, x, std::max(0, t.offX - 1), t.offX + t.width, first, last);
    columnsWhere(n, y, std::max(0, t.offY - 1), t.offY + t.height, firstY, lastY);
    first = std::max(first, firstY);
    last = std::max(first, std::min(last, lastY));
    columnsWhere(n, x, t.offX, t.offX + t.width - 1, inFirst, inLast);
    columnsWhere(n, y, t.offY, t.offY + t.height - 1, firstY, lastY);
    inFirst = std::max(inFirst, firstY);
    inLast = std::min(inLast, lastY);
    if (inFirst >= inLast) inFirst = inLast = last;
    return {first, inFirst, inLast, last};
}

// Samples taken at once by the inner loop, and its vectors: a lane each.
constexpr int kLanes = 8;
typedef double Doubles __attribute__((vector_size(8 * kLanes)));
typedef int Ints __attribute__((vector_size(4 * kLanes)));
constexpr Doubles kLaneIndex = {0, 1, 2, 3, 4, 5, 6, 7};

// The four neighbours P00, P10, P01, P11 of each lane's sample, whose first
// one is at pixels + offsets[lane], as two vectors of pairs of lanes, lane n
// and kLanes + n the two neighbours across; and channel k of each as
// doubles.
//
// On AVX-512 two neighbours across come in one 8-byte load, and a vector of
// pairs becomes doubles in fewer instructions than its two halves do.
// Elsewhere the shuffle that sorts the loads would fall apart into single
// lanes, as the vectors are wider than the registers, and each neighbour
// is loaded on its own.
template <VectorPath path> struct Neighbours {
    static constexpr bool kPaired = path == VectorPath::Avx512;
    typedef int IntPairs __attribute__((vector_size(8 * kLanes)));
    typedef double DoublePairs __attribute__((vector_size(16 * kLanes)));
    IntPairs top, bottom; // P00 and P10, P01 and P11

    VECTOR_BODY Neighbours(const unsigned char *pixels, int stride, const Ints &offsets) {
        const auto load = [&](const unsigned char *base, IntPairs &pairs) {
            uint32_t lanes[2 * kLanes];
            for (int n = 0; n < kLanes; ++n)
                if constexpr (kPaired) {
                    memcpy(&lanes[2 * n], base + offsets[n], 8);
                } else {
                    memcpy(&lanes[n], base + offsets[n], 4);
                    memcpy(&lanes[kLanes + n], base + offsets[n] + 4, 4);
                }
            memcpy(&pairs, lanes, sizeof pairs);
            if constexpr (kPaired)
                pairs = __builtin_shufflevector(pairs, pairs, 0, 2, 4, 6, 8, 10, 12, 14, 1, 3, 5, 7, 9, 11, 13, 15);
        };
        load(pixels, top);
        load(pixels + stride, bottom);
    }

    VECTOR_BODY void channel(int k, Doubles (&v)[4]) const {
        const IntPairs p[2] = {top >> (8 * k) & 0xFF, bottom >> (8 * k) & 0xFF};
        if constexpr (kPaired) {
            for (int m = 0; m < 2; ++m) {
                const DoublePairs d = __builtin_convertvector(p[m], DoublePairs);
                memcpy(v + 2 * m, &d, sizeof d);
            }
        } else {
            for (int m = 0; m < 4; ++m) {
                Ints half;
                memcpy(&half, (const Ints *)p + m, sizeof half);
                v[m] = __builtin_convertvector(half, Doubles);
            }
        }
    }
};

// Row i of the turned picture into `row`.
template <VectorPath path> VECTOR_BODY void turnRow(const Turn &t, int i, unsigned char *row) {
    const RowPositions at(t, i);
    const RowPlan plan = planRow(t, at);
    memset(row, 0, (size_t)plan.first * 4);
    memset(row + (size_t)plan.last * 4, 0, (size_t)(t.resultWidth - plan.last) * 4);
    // Near the image's edges, each neighbour is the image's pixel or transparent black.
    const auto neighbour = [&](int cx, int cy) {
        const int c = cx - t.offX, r = cy - t.offY;
        return c >= 0 && c < t.width && r >= 0 && r < t.height ? t.pixels + ((size_t)r * t.width + c) * 4
                                                               : kTransparentBlack;
    };
    const auto edge = [&](int begin, int end) {
        for (int j = begin; j < end; ++j) {
            const double x = at.x(j), y = at.y(j);
            const int xi = (int)x, yi = (int)y;
            const int x1 = xi + 1 < t.canvasWidth ? xi + 1 : t.canvasWidth - 1;
            const int y1 = yi + 1 < t.canvasHeight ? yi + 1 : t.canvasHeight - 1;
            blendBilinear(neighbour(xi, yi), neighbour(x1, yi), neighbour(xi, y1), neighbour(x1, y1),
                  bilinearWeights(x - xi, y - yi), row + j * 4);
        }
    };
    edge(plan.first, plan.inFirst);
    // Inside, kLanes samples at a time, each quantity one vector with a lane
    // per sample: the same operations in the same order as blendBilinear's,
    // channel by channel. Spans too short for a whole block take the
    // per-pixel code; in a longer one the last block ends at inLast,
    // computing some samples again.
    const unsigned char *pixels = t.pixels;
    const int stride = t.width * 4, lastOffset = (t.height - 2) * stride + (t.width - 2) * 4;
    if (plan.inLast - plan.inFirst < kLanes) {
        edge(plan.inFirst, plan.last);
        return;
    }
    for (int start = plan.inFirst; start < plan.inLast; start += kLanes) {
        const int j = std::min(start, plan.inLast - kLanes);
        const Doubles column = (double)j + kLaneIndex;
        const Doubles x = (((column * at.cosT - at.a5) + at.a7) + at.a6) + at.shiftX;
        const Doubles y = (((column * at.sinT + at.a1) - at.a2) + at.a4) + at.shiftY;
        const Ints xi = __builtin_convertvector(x, Ints), yi = __builtin_convertvector(y, Ints);
        const Doubles fx = x - __builtin_convertvector(xi, Doubles), fy = y - __builtin_convertvector(yi, Doubles);
        const Doubles w00 = (1 - fx) * (1 - fy), w10 = fx * (1 - fy), w01 = (1 - fx) * fy, w11 = fx * fy;
        const Ints offsets = (yi - t.offY) * stride + (xi - t.offX) * 4;
        // The row after next samples two pixels further along the normal.
        // The pixels it needs here, fetched now, are in the cache when it
        // comes: its samples read memory in no order the processor would
        // foresee. The even lanes' two rows cover every row the block
        // reads, as the samples move down by at most one row a lane.
        const Ints aheadX = __builtin_convertvector(x - 2 * at.sinT, Ints);
        const Ints aheadY = __builtin_convertvector(y + 2 * at.cosT, Ints);
        Ints ahead = (aheadY - t.offY) * stride + (aheadX - t.offX) * 4;
        ahead = ahead < 0 ? 0 : ahead > lastOffset ? lastOffset : ahead;
        for (int n = 0; n < kLanes; n += 2) {
            __builtin_prefetch(pixels + ahead[n]);
            __builtin_prefetch(pixels + ahead[n] + stride);
        }
        const Neighbours<path> neighbours(pixels, stride, offsets);
        Ints out = {};
        for (int k = 0; k < 4; ++k) {
            Doubles p[4]; // P00, P10, P01, P11
            neighbours.channel(k, p);
            const Doubles sums = ((p[2] * w01 + p[3] * w11) + p[1] * w10) + p[0] * w00;
            out |= __builtin_convertvector(sums, Ints) << (8 * k);
        }
        memcpy(row + (size_t)j * 4, &out, sizeof out);
    }
    edge(plan.inLast, plan.last);
}

// Rows first .. last - 1 of the turned picture into `dst`.
template <VectorPath path> VECTOR_BODY void turnRowsBody(const Turn t, int first, int last, unsigned char *dst) {
    for (int i = first; i < last; ++i, dst += (size_t)t.resultWidth * 4) turnRow<path>(t, i, dst);
}

void turnRowsPlain(const Turn t, int first, int last, unsigned char *dst) {
    turnRowsBody<VectorPath::Plain>(t, first, last, dst);
}
AVX2_FUNCTION void turnRowsAvx2(const Turn t, int first, int last, unsigned char *dst) {
    turnRowsBody<VectorPath::Avx2>(t, first, last, dst);
}
AVX512_FUNCTION void turnRowsAvx512(const Turn t, int first, int last, unsigned char *dst) {
    turnRowsBody<VectorPath::Avx512>(t, first, last, dst);
}

} // namespace

Resized rotateImage(Image &image, double degrees) {
    int nw, nh;
    if (!rotatedSize(image.width, image.height, degrees, nw, nh)) return Resized::TooLarge;
    // Near a quarter turn nw x nh is narrower or lower than the image: the
    // canvas grows to hold all of it, and the samples shift by the difference
    // of the two centres, so no part of the picture is cut off before the turn.
    const int cw = std::max(nw, image.width), ch = std::max(nh, image.height);
    if (cw <= 0 || ch <= 0 || !canvasFits(cw, ch)) return Resized::TooLarge;
    const double theta = degrees * kRadiansPerDegree;
    const double cosT = std::cos(theta), sinT = std::sin(theta);
    const int cx = nw / 2, cy = nh / 2;
    const Turn turn = {image.pixels, image.width, image.height, cw / 2 - image.width / 2, ch / 2 - image.height / 2,
                       cw, ch, nw, cosT, sinT, cx * sinT, cy * (1 - cosT), cx * (1 - cosT), cy * sinT,
                       (double)(cw / 2 - cx), (double)(ch / 2 - cy)};
    const auto turnRows = useAvx512() ? turnRowsAvx512 : useAvx2() ? turnRowsAvx2 : turnRowsPlain;
    return fitsInMemory([&] {
               renderTrimmed(image, nw, nh,
                             [&](int first, int last, unsigned char *dst) { turnRows(turn, first, last, dst); });
           })
               ? Resized::Done
               : Resized::NoMemory;
}
