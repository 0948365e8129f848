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

namespace {

inline bool isBlack(const unsigned char *p) { return (p[0] | p[1] | p[2]) == 0; }

bool rowIsBlack(const unsigned char *row, int width) {
    for (int c = 0; c < width; ++c, row += 4)
        if (!isBlack(row)) return false;
    return true;
}

} // namespace

namespace {

// Row i of the canvas of centreOnCanvas into `out`.
void fillCanvasRow(const Image &image, int canvasWidth, int canvasHeight, const unsigned char background[4], int i,
                   unsigned char *out) {
    const int offX = canvasWidth / 2 - image.width / 2, offY = canvasHeight / 2 - image.height / 2;
    // Canvas columns first .. last - 1 show the image, if row i does.
    const int first = std::max(0, offX), last = std::min(canvasWidth, offX + image.width);
    const bool showsImage = i >= offY && i < offY + image.height && first < last;
    for (int j = 0; j < canvasWidth; ++j) memcpy(out + j * 4, background, 4);
    if (showsImage)
        memcpy(out + first * 4, image.pixels + ((size_t)(i - offY) * image.width + (first - offX)) * 4,
               (size_t)(last - first) * 4);
}

} // namespace

bool canvasFits(int canvasWidth, int canvasHeight) {
    return (uint64_t)canvasWidth * (uint64_t)canvasHeight * 4 <= INT32_MAX;
}

unsigned char *centreOnCanvas(const Image &image, int canvasWidth, int canvasHeight,
                              const unsigned char background[4]) {
    if (canvasWidth <= 0 || canvasHeight <= 0 || !canvasFits(canvasWidth, canvasHeight)) return nullptr;
    unsigned char *canvas = allocPixels(canvasWidth, canvasHeight);
    if (!canvas) return nullptr;
    forEachRowBlock(canvasHeight, rowsPerTask(canvasWidth), [&](int first, int last) {
        for (int i = first; i < last; ++i)
            fillCanvasRow(image, canvasWidth, canvasHeight, background, i, canvas + (size_t)i * canvasWidth * 4);
    });
    return canvas;
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

void renderTrimmed(Image &image, int width, int height, const RowRenderer &render) {
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
    std::unique_ptr<unsigned char, decltype(&free)> kept(allocPixels(width, bottom - top), free);
    if (!kept) throw std::bad_alloc();
    forEachRowBlock(bottom - top, rowsPerTask(width),
                    [&](int first, int last) { render(top + first, top + last, kept.get() + first * rowBytes); });
    image.replace(width, bottom - top, kept.release());
    trimBlackColumns(image);
}

namespace {

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

// The rows of the canvas of centreOnCanvas, made when asked for instead of
// the whole canvas. A canvas of the image's own size is the image itself.
class CanvasRows {
  public:
    CanvasRows(const Image &image, int width, int height, const unsigned char background[4])
        : image(image), width(width), ownSize(width == image.width && height == image.height),
          made(ownSize ? 0 : (size_t)width * 4, [=, &image](int r, unsigned char *out) {
              fillCanvasRow(image, width, height, background, r, out);
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
            if (!(at[j] >= 0 && at[j] < size)) continue; // as sampleBilinear decides
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

// Rows first .. last - 1 of the block of result pixels, columns
// x.begin .. x.end - 1 and rows y.begin .. y.end - 1 (counted from y.begin),
// sampled from the canvas with sampleBilinear's sums:
// ((P01 w01 + P11 w11) + P10 w10) + P00 w00 in double precision, with
// w00 = (1 - fx)(1 - fy) and so on, each factor computed once per column or
// row.
void sampleExactly(CanvasRows &canvas, int canvasWidth, const Axis &x, const Axis &y, int first, int last,
                   unsigned char *block) {
    // Canvas rows as doubles, so that the four channels of a sample are
    // computed two at a time in vector registers.
    const size_t rowBytes = (size_t)canvasWidth * 4;
    RowPair<double> asDoubles(rowBytes, [&canvas, rowBytes](int r, double *out) {
        const unsigned char *row = canvas.row(r, -1);
        for (size_t n = 0; n < rowBytes; ++n) out[n] = row[n];
    });
    // Bounds and pointers as copies that the byte stores cannot change.
    const int begin = x.begin, end = x.end;
    const double *fractions = x.fraction.data(), *rests = x.rest.data();
    const int *firsts = x.first.data(), *seconds = x.second.data();
    for (int i = y.begin + first; i < y.begin + last; ++i) {
        const double fy = y.fraction[i], gy = y.rest[i];
        // A row of weight 0 adds exact zeros whatever it holds: it need not be made.
        const double *row0 = asDoubles.row(y.first[i], y.second[i]);
        const double *row1 = fy != 0 ? asDoubles.row(y.second[i], y.first[i]) : row0;
        for (int j = begin; j < end; ++j, block += 4) {
            const double fx = fractions[j], gx = rests[j];
            const double w00 = gx * gy, w10 = fx * gy, w11 = fx * fy, w01 = gx * fy;
            const double *p00 = row0 + firsts[j] * 4, *p10 = row0 + seconds[j] * 4;
            const double *p01 = row1 + firsts[j] * 4, *p11 = row1 + seconds[j] * 4;
            double sums[4];
            for (int k = 0; k < 4; ++k) sums[k] = ((p01[k] * w01 + p11[k] * w11) + p10[k] * w10) + p00[k] * w00;
            for (int k = 0; k < 4; ++k) block[k] = (unsigned char)(int)sums[k];
        }
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

// The same rows when every fraction is 0 (halving, mirroring, a factor of
// 1): each result pixel is its first canvas neighbour, which the sums above
// give unchanged.
void sampleNearest(CanvasRows &canvas, const Axis &x, const Axis &y, int first, int last, unsigned char *block) {
    const int begin = x.begin, end = x.end; // copies that the byte stores cannot change
    const int *firsts = x.first.data();
    for (int i = y.begin + first; i < y.begin + last; ++i) {
        const unsigned char *row = canvas.row(y.first[i], -1);
        for (int j = begin; j < end; ++j, block += 4) memcpy(block, row + firsts[j] * 4, 4);
    }
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
        static const unsigned char opaqueBlack[4] = {0, 0, 0, 255};
        const bool sixteenths = x.inSixteenths() && y.inSixteenths();
        const bool whole = sixteenths && x.onPixels() && y.onPixels();
        std::optional<SixteenthsSampler> blend;
        if (sixteenths && !whole) blend.emplace(x, y);
        renderTrimmed(image, x.end - x.begin, y.end - y.begin, [&](int first, int last, unsigned char *block) {
            CanvasRows canvas(image, nw, nh, opaqueBlack);
            if (whole)
                sampleNearest(canvas, x, y, first, last, block);
            else if (blend)
                blend->sample(canvas, first, last, block);
            else
                sampleExactly(canvas, nw, x, y, first, last, block);
        });
    });
    return done ? Resized::Done : Resized::NoMemory;
}
