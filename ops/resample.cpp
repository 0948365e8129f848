#include "resample.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <vector>

#include "crop.h"
#include "image/parallel.h"
#include "image/vector_path.h"

namespace {

inline bool isBlack(const unsigned char *p) { return (p[0] | p[1] | p[2]) == 0; }

bool rowIsBlack(const unsigned char *row, int width) {
    for (int c = 0; c < width; ++c, row += 4)
        if (!isBlack(row)) return false;
    return true;
}

} // namespace

namespace {

// Columns lo .. hi - 1 of row i of a canvasWidth x canvasHeight canvas in
// `background` with the image centred on it, at (canvasWidth / 2 -
// width / 2, canvasHeight / 2 - height / 2) and cut off where it reaches
// past the canvas, into `out`, as bytes or as doubles.
template <class T>
VECTOR_BODY void fillCanvasRow(const Image &image, int canvasWidth, int canvasHeight,
                                                         const unsigned char background[4], int i, int lo, int hi,
                                                         T *out) {
    const int offX = canvasWidth / 2 - image.width / 2, offY = canvasHeight / 2 - image.height / 2;
    // Columns first .. last - 1 of the window show the image, if row i does.
    const bool showsRow = i >= offY && i < offY + image.height;
    const int first = showsRow ? std::clamp(offX, lo, hi) : hi;
    const int last = showsRow ? std::clamp(offX + image.width, first, hi) : hi;
    T fill[4]; // a copy, which the stores below cannot change
    for (int k = 0; k < 4; ++k) fill[k] = background[k];
    for (int j = lo; j < first; ++j)
        for (int k = 0; k < 4; ++k) out[(j - lo) * 4 + k] = fill[k];
    if (first < last)
        std::copy_n(image.pixels + ((size_t)(i - offY) * image.width + (first - offX)) * 4, (size_t)(last - first) * 4,
                    out + (first - lo) * 4);
    for (int j = last; j < hi; ++j)
        for (int k = 0; k < 4; ++k) out[(j - lo) * 4 + k] = fill[k];
}

} // namespace

bool canvasFits(int canvasWidth, int canvasHeight) {
    return (uint64_t)canvasWidth * (uint64_t)canvasHeight * 4 <= INT32_MAX;
}

bool truncateSide(double size, int &side) {
    if (!(size >= 0 && size < 2147483648.0)) return false;
    side = (int)size;
    return true;
}

void trimBlackRows(Image &image) {
    const size_t rowBytes = (size_t)image.width * 4;
    int top = 0, bottom = image.height;
    while (top < bottom && rowIsBlack(image.pixels + top * rowBytes, image.width)) ++top;
    while (bottom > top && rowIsBlack(image.pixels + (bottom - 1) * rowBytes, image.width)) --bottom;
    keepBlockInPlace(image, 0, top, image.width, bottom - top);
}

void trimBlackColumns(Image &image) {
    // The picture spans columns left .. right - 1 when some row has colour there.
    int left = image.width, right = 0;
    for (int r = 0; r < image.height; ++r) {
        const unsigned char *row = image.pixels + (size_t)r * image.width * 4;
        int c = 0;
        while (c < left && isBlack(row + c * 4)) ++c;
        left = c;
        c = image.width;
        while (c > right && isBlack(row + (c - 1) * 4)) --c;
        right = c;
    }
    if (left >= right) left = right = 0;
    keepBlockInPlace(image, left, 0, right - left, image.height);
}

void renderTrimmed(Image &image, int width, int height, const RowRenderer &render, bool inPlace) {
    const size_t rowBytes = (size_t)width * 4;
    int top = 0, bottom = width > 0 ? height : 0;
    if (top < bottom) {
        std::unique_ptr<unsigned char, decltype(&free)> row(allocPixels(width, 1), free);
        if (!row) throw std::bad_alloc();
        auto isBlackRow = [&](int r) {
            render(r, r + 1, row.get());
            return rowIsBlack(row.get(), width);
        };
        while (top < bottom && isBlackRow(top)) ++top;
        while (bottom > top && isBlackRow(bottom - 1)) --bottom;
    }
    if (top == bottom) {
        image.replace(0, 0, nullptr);
        return;
    }
    if (inPlace) {
        // In order on this thread: `render` reads each pixel before it writes over it.
        render(top, bottom, image.pixels);
        unsigned char *shrunk = (unsigned char *)realloc(image.pixels, rowBytes * (bottom - top));
        if (shrunk) image.pixels = shrunk; // else the larger block holds the same rows
        image.width = width;
        image.height = bottom - top;
    } else {
        std::unique_ptr<unsigned char, decltype(&free)> kept(allocPixels(width, bottom - top), free);
        if (!kept) throw std::bad_alloc();
        forEachRowBlock(bottom - top, rowsPerTask(width),
                        [&](int first, int last) { render(top + first, top + last, kept.get() + first * rowBytes); });
        image.replace(width, bottom - top, kept.release());
    }
    trimBlackColumns(image);
}

namespace {

// The background of the canvas a scaled image is centred on.
const unsigned char kOpaqueBlack[4] = {0, 0, 0, 255};

// Memory for the tables sized by the picture comes from malloc, so that a
// failure is a std::bad_alloc thrown here, which scaleImage turns into
// NoMemory; under the sanitizers a failed operator new would end the process
// instead.
template <class T> struct MallocAllocator {
    using value_type = T;
    MallocAllocator() = default;
    template <class U> MallocAllocator(const MallocAllocator<U> &) {}
    T *allocate(size_t n) {
        T *p = n <= SIZE_MAX / sizeof(T) ? (T *)malloc(n * sizeof(T)) : nullptr;
        if (!p) throw std::bad_alloc();
        return p;
    }
    void deallocate(T *p, size_t) { free(p); }
    bool operator==(const MallocAllocator &) const { return true; }
    bool operator!=(const MallocAllocator &) const { return false; }
};
template <class T> using Table = std::vector<T, MallocAllocator<T>>;

// Rows made from canvas rows, the two latest kept: a result row reads a
// pair of neighbouring canvas rows, and the next result row mostly the same
// pair or the one after.
template <class T> class RowPair {
  public:
    // make(r, out) writes the `length` values of row r.
    template <class Make>
    RowPair(size_t length, Make make) : make(make), rows{Table<T>(length), Table<T>(length)} {}

    // Row r, made unless kept; the row `keep`, if kept, stays.
    const T *row(int r, int keep) {
        for (int s = 0; s < 2; ++s)
            if (index[s] == r) return rows[s].data();
        const int s = index[0] == keep ? 1 : 0;
        make(r, rows[s].data());
        index[s] = r;
        return rows[s].data();
    }

  private:
    std::function<void(int, T *)> make;
    Table<T> rows[2];
    int index[2] = {-1, -1};
};

// The rows of the canvas of fillCanvasRow, made when asked for instead of
// the whole canvas. A canvas of the image's own size is the image itself.
class CanvasRows {
  public:
    CanvasRows(const Image &image, int width, int height, const unsigned char background[4])
        : image(image), width(width), ownSize(width == image.width && height == image.height),
          made(ownSize ? 0 : (size_t)width * 4, [=, &image](int r, unsigned char *out) {
              fillCanvasRow(image, width, height, background, r, 0, width, out);
          }) {}

    const unsigned char *row(int r, int keep) {
        return ownSize ? image.pixels + (size_t)r * width * 4 : made.row(r, keep);
    }

  private:
    const Image &image;
    const int width;
    const bool ownSize;
    RowPair<unsigned char> made;
};

// Where the samples along one axis fall: for each result column (or row)
// the canvas column of its first neighbour and of the second (the last
// column again past the end), the fraction fx and 1 - fx.
struct Axis {
    Table<int> first, second;
    Table<double> fraction, rest;
    int begin = 0, end = 0; // the result columns whose sample lies inside the canvas

    // Positions `at` on a canvas `size` wide; those inside form one span,
    // as the position grows or falls steadily with the result column.
    Axis(const Table<double> &at, int size) {
        const int n = (int)at.size();
        first.resize(n);
        second.resize(n);
        fraction.resize(n);
        rest.resize(n);
        begin = n;
        for (int j = 0; j < n; ++j) {
            if (!(at[j] >= 0 && at[j] < size)) continue; // the first neighbour lies outside
            begin = std::min(begin, j);
            end = j + 1;
            first[j] = (int)at[j];
            second[j] = first[j] + 1 < size ? first[j] + 1 : size - 1;
            fraction[j] = at[j] - first[j];
            rest[j] = 1 - fraction[j];
        }
        if (begin > end) begin = end = 0;
    }

    // Whether every fraction inside is a multiple of 1/16: then the bilinear
    // sums are exact in double precision and 16-bit integer arithmetic gives
    // the same truncated result. Sets `sixteenths` to the fractions in
    // sixteenths.
    bool inSixteenths() {
        sixteenths.resize(first.size());
        for (int j = begin; j < end; ++j) {
            sixteenths[j] = (uint16_t)(fraction[j] * 16);
            if (fraction[j] * 16 != sixteenths[j]) return false;
        }
        return true;
    }
    Table<uint16_t> sixteenths;

    // Whether every fraction inside is 0: each sample is then one canvas pixel.
    bool onPixels() const {
        for (int j = begin; j < end; ++j)
            if (fraction[j] != 0) return false;
        return true;
    }
};

// One row of result pixels from the canvas rows row0 and row1 as doubles,
// pixel j from the pixel offsets[j] values in and the one after, with
// across[4j ..] = gx, fx, fx, gx for its fraction fx and gx = 1 - fx, and the
// row's fraction fy and gy = 1 - fy: blendBilinear's sums,
// ((P01 w01 + P11 w11) + P10 w10) + P00 w00 in double precision, with
// w01 = gx fy, w11 = fx fy, w10 = fx gy and w00 = gx gy.
//
// In the compiler's vector types, as the vectoriser leaves this loop mostly
// scalar: a pixel's four channels are one vector, its four weights one
// product of two, each spread to a whole vector. The lanes compute what
// the scalar code would, on any instruction set. The sums become ints, then
// bytes in a loop of their own, by chunks that stay in the fastest cache.
VECTOR_BODY void exactRowBody(const double *row0, const double *row1, const int *offsets,
                                                        const double *across, double fy, double gy, int count,
                                                        unsigned char *out) {
    typedef double Doubles __attribute__((vector_size(32)));
    typedef int Ints __attribute__((vector_size(16)));
    const Doubles down = {fy, fy, gy, gy};
    constexpr int kChunk = 256;
    int ints[kChunk * 4];
    for (int start = 0; start < count; start += kChunk) {
        const int n = std::min(kChunk, count - start);
        for (int j = start; j < start + n; ++j) {
            const double *at0 = row0 + offsets[j], *at1 = row1 + offsets[j];
            Doubles p00, p10, p01, p11, x;
            memcpy(&p00, at0, sizeof p00);
            memcpy(&p10, at0 + 4, sizeof p10);
            memcpy(&p01, at1, sizeof p01);
            memcpy(&p11, at1 + 4, sizeof p11);
            memcpy(&x, across + j * 4, sizeof x);
            const Doubles w = x * down;
            const Doubles w01 = {w[0], w[0], w[0], w[0]}, w11 = {w[1], w[1], w[1], w[1]};
            const Doubles w10 = {w[2], w[2], w[2], w[2]}, w00 = {w[3], w[3], w[3], w[3]};
            const Ints sums = __builtin_convertvector(((p01 * w01 + p11 * w11) + p10 * w10) + p00 * w00, Ints);
            memcpy(ints + (j - start) * 4, &sums, sizeof sums);
        }
        for (int m = 0; m < n * 4; ++m) out[(size_t)start * 4 + m] = (unsigned char)ints[m];
    }
}
void exactRowPlain(const double *row0, const double *row1, const int *offsets, const double *across, double fy,
                   double gy, int count, unsigned char *out) {
    exactRowBody(row0, row1, offsets, across, fy, gy, count, out);
}
AVX2_FUNCTION void exactRowAvx2(const double *row0, const double *row1, const int *offsets, const double *across,
                                double fy, double gy, int count, unsigned char *out) {
    exactRowBody(row0, row1, offsets, across, fy, gy, count, out);
}

// Columns lo .. hi - 1 of row r of the canvas in opaque black as doubles.
void canvasDoublesPlain(const Image &image, int canvasWidth, int canvasHeight, int r, int lo, int hi, double *out) {
    fillCanvasRow(image, canvasWidth, canvasHeight, kOpaqueBlack, r, lo, hi, out);
}
AVX2_FUNCTION void canvasDoublesAvx2(const Image &image, int canvasWidth, int canvasHeight, int r, int lo, int hi,
                                     double *out) {
    fillCanvasRow(image, canvasWidth, canvasHeight, kOpaqueBlack, r, lo, hi, out);
}

// Rows first .. last - 1 of the block of result pixels, columns
// x.begin .. x.end - 1 and rows y.begin .. y.end - 1 (counted from y.begin),
// sampled from the canvas with blendBilinear's sums, with
// w00 = (1 - fx)(1 - fy) and so on, each factor computed once per column or
// row.
void sampleExactly(const Image &image, int canvasWidth, int canvasHeight, const Axis &x, const Axis &y, int first,
                   int last, unsigned char *block) {
    const int columns = x.end - x.begin;
    // The canvas columns lo .. hi that the samples read, as doubles, and
    // column hi once more: a pixel's second neighbour is then always the
    // one after its first (past the canvas's last column, that column again).
    int lo = canvasWidth, hi = 0;
    for (int j = x.begin; j < x.end; ++j) {
        lo = std::min(lo, x.first[j]);
        hi = std::max(hi, x.second[j]);
    }
    const size_t length = (size_t)(hi - lo + 2) * 4;
    const auto doublesRow = useAvx2() ? canvasDoublesAvx2 : canvasDoublesPlain;
    RowPair<double> asDoubles(length, [&, length](int r, double *out) {
        doublesRow(image, canvasWidth, canvasHeight, r, lo, hi + 1, out);
        for (size_t n = length - 4; n < length; ++n) out[n] = out[n - 4];
    });
    Table<int> offsets(columns);
    for (int j = 0; j < columns; ++j) offsets[j] = (x.first[x.begin + j] - lo) * 4;
    Table<double> across((size_t)columns * 4);
    for (int j = 0; j < columns; ++j) {
        const double fx = x.fraction[x.begin + j], gx = x.rest[x.begin + j];
        across[j * 4] = across[j * 4 + 3] = gx;
        across[j * 4 + 1] = across[j * 4 + 2] = fx;
    }
    const auto exactRow = useAvx2() ? exactRowAvx2 : exactRowPlain;
    for (int i = y.begin + first; i < y.begin + last; ++i, block += (size_t)columns * 4) {
        const double fy = y.fraction[i], gy = y.rest[i];
        // A row of weight 0 adds exact zeros whatever it holds: it need not be made.
        const double *row0 = asDoubles.row(y.first[i], y.second[i]);
        const double *row1 = fy != 0 ? asDoubles.row(y.second[i], y.first[i]) : row0;
        exactRow(row0, row1, offsets.data(), across.data(), fy, gy, columns, block);
    }
}

// The same rows when every fraction is a multiple of 1/16 (doubling,
// mirroring), in 16-bit integers: each canvas row blended across once,
// H = (16 - a) P(first) + a P(second), then each result row from two of
// those, ((16 - b) H0 + b H1) / 256, which is the exact value the double
// sums give. Both blends run over whole rows with the weights spread to
// every byte, as vector code.
class SixteenthsSampler {
  public:
    SixteenthsSampler(const Axis &x, const Axis &y)
        : x(x), y(y), columns(x.end - x.begin), bytes((size_t)columns * 4), leftWeight(bytes), rightWeight(bytes) {
        for (int j = 0; j < columns; ++j)
            for (int k = 0; k < 4; ++k) {
                rightWeight[j * 4 + k] = x.sixteenths[x.begin + j];
                leftWeight[j * 4 + k] = (uint16_t)(16 - rightWeight[j * 4 + k]);
            }
    }

    void sample(CanvasRows &canvas, int first, int last, unsigned char *block) const {
        Table<unsigned char> firstPixels(bytes), secondPixels(bytes);
        RowPair<uint16_t> across(bytes, [&](int r, uint16_t *h) {
            // Sizes and pointers as local copies: the byte stores below could
            // otherwise change them.
            const int columnCount = columns;
            const size_t byteCount = bytes;
            const int *firsts = x.first.data() + x.begin, *seconds = x.second.data() + x.begin;
            unsigned char *p0 = firstPixels.data(), *p1 = secondPixels.data();
            const uint16_t *w0 = leftWeight.data(), *w1 = rightWeight.data();
            const unsigned char *row = canvas.row(r, -1);
            for (int j = 0; j < columnCount; ++j) {
                memcpy(p0 + j * 4, row + firsts[j] * 4, 4);
                memcpy(p1 + j * 4, row + seconds[j] * 4, 4);
            }
            for (size_t n = 0; n < byteCount; ++n) h[n] = (uint16_t)(w0[n] * p0[n] + w1[n] * p1[n]);
        });
        const size_t length = bytes;
        for (int i = y.begin + first; i < y.begin + last; ++i, block += length) {
            const uint16_t b = y.sixteenths[i], a = (uint16_t)(16 - b);
            // A row of weight 0 need not be made.
            const uint16_t *h0 = across.row(y.first[i], y.second[i]), *h1 = b ? across.row(y.second[i], y.first[i]) : h0;
            for (size_t n = 0; n < length; ++n) block[n] = (unsigned char)((uint16_t)(a * h0[n] + b * h1[n]) >> 8);
        }
    }

  private:
    const Axis &x, &y;
    const int columns;
    const size_t bytes;
    Table<uint16_t> leftWeight, rightWeight;
};

// Through a copy: in place, a pixel may be its own source.
inline void copyPixel(const unsigned char *from, unsigned char *to) {
    uint32_t pixel;
    memcpy(&pixel, from, 4);
    memcpy(to, &pixel, 4);
}

// `count` pixels from `from`, kStep pixels apart, to `out`, one after another.
template <int kStep> void copyPixels(const unsigned char *from, int count, unsigned char *out) {
    for (int j = 0; j < count; ++j) copyPixel(from + (size_t)j * kStep * 4, out + (size_t)j * 4);
}

// The same rows when every fraction is 0 (halving, mirroring, a factor of
// 1): each result pixel is its first canvas neighbour, which the sums above
// give unchanged.
void sampleNearest(CanvasRows &canvas, const Axis &x, const Axis &y, int first, int last, unsigned char *block) {
    const int count = x.end - x.begin;
    const int *firsts = x.first.data() + x.begin;
    // Columns a constant 1 or 2 apart (a factor of 1, halving) make the copy
    // vector code.
    int step = count > 1 ? firsts[1] - firsts[0] : 1;
    for (int j = 2; j < count; ++j)
        if (firsts[j] - firsts[j - 1] != step) step = 0;
    for (int i = y.begin + first; i < y.begin + last; ++i, block += (size_t)count * 4) {
        const unsigned char *row = canvas.row(y.first[i], -1);
        if (step == 1)
            copyPixels<1>(row + firsts[0] * 4, count, block);
        else if (step == 2)
            copyPixels<2>(row + firsts[0] * 4, count, block);
        else
            for (int j = 0; j < count; ++j) copyPixel(row + firsts[j] * 4, block + j * 4);
    }
}

// Whether sampleNearest, writing the block in order into the canvas's own
// buffer from its start, reads every pixel before it writes over it: each
// result pixel's source lies at or after the place it is written to.
bool readsAhead(const Axis &x, const Axis &y, int canvasWidth) {
    const long long columns = x.end - x.begin;
    long long lead = 0; // at most the least of x.first[j] less j's place in the block row
    for (int j = x.begin; j < x.end; ++j) lead = std::min(lead, (long long)x.first[j] - (j - x.begin));
    for (int i = y.begin; i < y.end; ++i)
        if ((long long)y.first[i] * canvasWidth + lead < (i - y.begin) * columns) return false;
    return true;
}

} // namespace

Resized scaleImage(Image &image, double sx, double sy) {
    int nw = image.width, nh = image.height;
    if ((sx > 1 && !truncateSide(image.width * sx, nw)) || (sy > 1 && !truncateSide(image.height * sy, nh)) ||
        !canvasFits(nw, nh))
        return Resized::TooLarge;
    const int cx = nw / 2, cy = nh / 2;
    const double shiftX = cx / sx - cx, shiftY = cy / sy - cy;
    const bool done = fitsInMemory([&] {
        // X depends on the column only, Y on the row only.
        Table<double> xs(nw), ys(nh);
        for (int j = 0; j < nw; ++j) xs[j] = j / sx - shiftX;
        for (int i = 0; i < nh; ++i) ys[i] = i / sy - shiftY;
        Axis x(xs, nw), y(ys, nh);
        // Only the block of pixels that sample the canvas is rendered: all
        // others are opaque black, lie at the edges, and the trim would
        // remove them.
        const bool sixteenths = x.inSixteenths() && y.inSixteenths();
        const bool whole = sixteenths && x.onPixels() && y.onPixels();
        std::optional<SixteenthsSampler> blend;
        if (sixteenths && !whole) blend.emplace(x, y);
        // Pixel for pixel from the image itself (halving), the result can
        // take the image's place as it is made: no new memory to fault in.
        const bool inPlace = whole && nw == image.width && nh == image.height && readsAhead(x, y, nw);
        renderTrimmed(image, x.end - x.begin, y.end - y.begin, [&](int first, int last, unsigned char *block) {
            if (!whole && !blend) return sampleExactly(image, nw, nh, x, y, first, last, block);
            CanvasRows canvas(image, nw, nh, kOpaqueBlack);
            if (whole)
                sampleNearest(canvas, x, y, first, last, block);
            else
                blend->sample(canvas, first, last, block);
        }, inPlace);
    });
    return done ? Resized::Done : Resized::NoMemory;
}
