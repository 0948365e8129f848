#include "dither.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <thread>
#include <vector>

#include "image/vector_path.h"
#include "pixel.h"

namespace {

const PaletteColour kBW[] = {{0, 0, 0}, {255, 255, 255}};

const PaletteColour kPrimary[] = {{0, 0, 0},   {255, 255, 255}, {255, 0, 0},   {0, 255, 0},
                                  {0, 0, 255}, {255, 255, 0},   {255, 0, 255}, {0, 255, 255}};

// Black and white, then pairs of a tint and its shade (half the tint,
// rounded down). Entries 10 and 11 repeat 8 and 9 and so are never chosen.
const PaletteColour kPastel[] = {
    {0, 0, 0},       {255, 255, 255}, {243, 158, 119}, {121, 79, 59},  {246, 181, 128}, {123, 90, 64},
    {249, 205, 138}, {124, 102, 69},  {255, 249, 157}, {127, 124, 78}, {255, 249, 157}, {127, 124, 78},
    {199, 225, 158}, {99, 112, 79},   {168, 213, 157}, {84, 106, 78},  {137, 202, 157}, {68, 101, 78},
    {140, 204, 202}, {70, 102, 101},  {141, 207, 244}, {70, 103, 122}, {148, 170, 214}, {74, 85, 107},
    {149, 149, 198}, {74, 74, 99},    {150, 129, 183}, {75, 64, 91},   {174, 136, 184}, {87, 68, 92},
    {199, 144, 186}, {99, 72, 93},    {244, 160, 189}, {122, 80, 94},  {244, 159, 155}, {122, 79, 77},
    {200, 164, 110}, {100, 82, 55},
};

template <int N> constexpr Palette paletteOf(const PaletteColour (&colours)[N]) { return {colours, N}; }

// Thresholds on red + green + blue, [row mod n][column mod n].
const int kClip[1] = {383}; // at least 384 is white
const int kOrdered2[2 * 2] = {450, 150, 300, 600};
const int kOrdered3[3 * 3] = {525, 675, 375, 150, 75, 300, 450, 225, 600};

// One row of thresholdDither, `threshold` the threshold of each column. Each
// pixel is taken as two 16-bit halves, red | green << 8 and blue | alpha << 8,
// so that the compiler turns the loop into vector code.
VECTOR_BODY void thresholdRowBody(unsigned char *p, const uint16_t *threshold, int width) {
    for (int column = 0; column < width; ++column, p += 4) {
        const auto [low, high] = loadHalves(p);
        const uint16_t sum = (uint16_t)((low & 0xFF) + (low >> 8) + (high & 0xFF));
        const uint16_t level = sum > threshold[column] ? 0xFFFF : 0;
        const uint16_t outHigh = (uint16_t)((level & 0xFF) | (high & 0xFF00));
        storeHalves(p, level, outHigh);
    }
}
void thresholdRowPlain(unsigned char *p, const uint16_t *threshold, int width) { thresholdRowBody(p, threshold, width); }
AVX2_FUNCTION void thresholdRowAvx2(unsigned char *p, const uint16_t *threshold, int width) {
    thresholdRowBody(p, threshold, width);
}

void thresholdDither(Image &image, const int *matrix, int n) {
    if (!image.pixels) return;
    const int width = image.width, height = image.height;
    // The thresholds of each row of the matrix, repeated across a whole row
    // of the image: no remainder per pixel.
    std::vector<uint16_t> thresholds((size_t)n * width);
    for (int i = 0; i < n; ++i)
        for (int column = 0; column < width; ++column)
            thresholds[(size_t)i * width + column] = (uint16_t)matrix[i * n + column % n];
    const auto thresholdRow = useAvx2() ? thresholdRowAvx2 : thresholdRowPlain;
    forEachRowBlock(height, rowsPerTask(width), [&](int first, int last) {
        for (int row = first; row < last; ++row)
            thresholdRow(image.pixels + (size_t)row * width * 4, &thresholds[(size_t)(row % n) * width], width);
    });
}

// The palette as three arrays, for a search loop that becomes vector code.
struct PaletteChannels {
    std::vector<int> red, green, blue;
    // For a palette of the eight corners of the colour cube, the index of
    // the corner with red 255 (bit 0), green 255 (bit 1), blue 255 (bit 2);
    // else empty.
    std::vector<int> corners;
    explicit PaletteChannels(const Palette &palette) : red(palette.size), green(palette.size), blue(palette.size) {
        std::vector<int> found(8, -1);
        for (int i = 0; i < palette.size; ++i) {
            red[i] = palette.colours[i][0];
            green[i] = palette.colours[i][1];
            blue[i] = palette.colours[i][2];
            const int bits = (red[i] == 255) | (green[i] == 255) << 1 | (blue[i] == 255) << 2;
            auto edge = [](int c) { return c == 0 || c == 255; };
            const bool corner = edge(red[i]) && edge(green[i]) && edge(blue[i]);
            if (corner && found[bits] < 0) found[bits] = i;
        }
        if (palette.size == 8 && std::count(found.begin(), found.end(), -1) == 0) corners = found;
    }

    // Index of the palette colour nearest to v. A colour is taken only when
    // it is strictly nearer than the best so far, starting from entry 0 at
    // distance 1000: ties go to the lower index, and entry 0 wins when no
    // colour is nearer than 1000. Searched as the least of distance x 64 +
    // index (palettes have fewer than 64 colours), without a branch.
    int nearest(const int v[3]) const {
        if (!corners.empty()) return nearestCorner(v);
        const int n = (int)red.size();
        int least = 1000 * 64;
        for (int i = 0; i < n; ++i) {
            const int distance = abs(v[0] - red[i]) + abs(v[1] - green[i]) + abs(v[2] - blue[i]);
            least = std::min(least, std::min(distance, 1000) * 64 + i);
        }
        return least < 1000 * 64 ? least % 64 : 0;
    }

    // The same for the eight corners, channel by channel: a whole number is
    // nearer to 255 than to 0 exactly when it is 128 or more, and never as
    // near to both, so the nearest corner is unique.
    int nearestCorner(const int v[3]) const {
        int bits = 0, distance = 0;
        for (int k = 0; k < 3; ++k) {
            const bool high = v[k] >= 128;
            bits |= high << k;
            distance += high ? abs(v[k] - 255) : abs(v[k]);
        }
        return distance < 1000 ? corners[bits] : 0;
    }
};

} // namespace

const Palette paletteBW = paletteOf(kBW);
const Palette palettePrimary = paletteOf(kPrimary);
const Palette palettePastel = paletteOf(kPastel);

void clipBW(Image &image) { thresholdDither(image, kClip, 1); }
void orderedDither2(Image &image) { thresholdDither(image, kOrdered2, 2); }
void orderedDither3(Image &image) { thresholdDither(image, kOrdered3, 3); }

namespace {

// `count` pixels from p become grey, as in thresholdRow two 16-bit halves
// per pixel for vector code.
VECTOR_BODY void grayPixelsBody(unsigned char *p, size_t count) {
    for (size_t i = 0; i < count; ++i, p += 4) {
        const auto [low, high] = loadHalves(p);
        const uint16_t grey = (uint16_t)((3 * (low & 0xFF) + 6 * (low >> 8) + (high & 0xFF)) / 10);
        storeHalves(p, (uint16_t)(grey | grey << 8), (uint16_t)(grey | (high & 0xFF00)));
    }
}
void grayPixelsPlain(unsigned char *p, size_t count) { grayPixelsBody(p, count); }
AVX2_FUNCTION void grayPixelsAvx2(unsigned char *p, size_t count) { grayPixelsBody(p, count); }

} // namespace

void grayLevels(Image &image) {
    if (!image.pixels) return;
    const auto grayPixels = useAvx2() ? grayPixelsAvx2 : grayPixelsPlain;
    forEachPixelBlock(image, [&](size_t first, size_t count) { grayPixels(image.pixels + first * 4, count); });
}

namespace {

// One pixel of error diffusion: its colour plus the errors carried to it
// from above (`here`) and from the left (`right`) becomes the nearest
// palette colour; the error left over goes 3/8 to the right (into `right`),
// 3/8 down and 1/4 down to the right (into `below`). Nothing goes down-left,
// and the last two columns pass nothing to the right. The bands below do
// the same on whole vectors; this is the trace's.
void diffusePixel(unsigned char *p, const int *here, int *below, int right[3], bool passesRight,
                  const Palette &palette, const PaletteChannels &channels, DiffusionStep &step) {
    for (int k = 0; k < 3; ++k) step.value[k] = p[k] + here[k] + right[k];
    const unsigned char *chosen = palette.colours[channels.nearest(step.value)];
    for (int k = 0; k < 3; ++k) {
        step.chosen[k] = chosen[k];
        const int e = step.error[k] = step.value[k] - chosen[k];
        right[k] = passesRight ? 3 * e / 8 : 0;
        if (passesRight) below[3 + k] += e / 4;
        below[k] += 3 * e / 8;
        p[k] = chosen[k];
    }
}

// The first two pixels of the first two rows, as the diffusion treats them,
// from a copy: they depend on one another alone.
void traceCorner(const Image &image, const Palette &palette, const PaletteChannels &channels,
                 DiffusionTrace &trace) {
    int errors[3][9] = {}; // carried into rows 0, 1 and 2, three columns each
    for (int row = 0; row < std::min(image.height, 2); ++row) {
        int right[3] = {0, 0, 0};
        for (int column = 0; column < std::min(image.width, 2); ++column) {
            unsigned char p[4];
            memcpy(p, image.pixels + ((size_t)row * image.width + column) * 4, 4);
            diffusePixel(p, errors[row] + column * 3, errors[row + 1] + column * 3, right,
                         column < image.width - 2, palette, channels, trace.steps[trace.count++]);
        }
    }
}

typedef int Ints4 __attribute__((vector_size(16)));
typedef int Ints8 __attribute__((vector_size(32)));
typedef int Ints16 __attribute__((vector_size(64)));

// The diffusion goes by bands of rows, as many as a vector of ints has lanes,
// a row a lane: at step s, lane i works on column s - i of its row, a pixel
// behind the row above, whose errors for it are then complete, as nothing
// goes down-left. The chain of work from pixel to pixel, which holds up a
// single row, then carries a whole band at once. The errors a lane leaves
// for the row below move down a lane for the next step; the band's last
// lane leaves them in a row of errors for the next band, which another
// thread may work on at the same time, a little behind: `progress` counts
// the steps each band has done, by chunks of steps.
//
// A band works on a copy of each chunk's pixels, skewed so that the pixels
// of one step lie together. Lanes before the start of their row, past its
// end or below the picture work on what the copy holds there, bytes of
// pixels, and pass on nothing that matters: nothing to the right, and what
// they pass down reaches only lanes as far out.
struct Diffusion {
    unsigned char *pixels;
    int width, height;
    const PaletteChannels &channels;
    int steps;             // per band: width + lanes - 1
    int slots, slotLength; // the rows of errors between bands, used in turn
    int *errorRows;        // slots x 3 channels x slotLength
    std::atomic<int> *progress;
    std::atomic<int> nextBand{0}, nextWorker{0};
    static constexpr int kChunk = 128;

    // Channel k of the errors into the first row of `band`, by column,
    // from column -lanes to width + lanes.
    int *errorsInto(int band, int lanes, int k) const {
        return errorRows + ((size_t)(band % slots) * 3 + k) * slotLength + lanes;
    }
};

// `v` moved down a row into `out`: lane i takes lane i - 1, lane 0 `first`.
// (Through a reference: a vector returned by value would change the ABI.)
VECTOR_BODY void moveDown(const Ints4 &v, int first, Ints4 &out) {
    out = __builtin_shufflevector(v, Ints4{} + first, 4, 0, 1, 2);
}
VECTOR_BODY void moveDown(const Ints8 &v, int first, Ints8 &out) {
    out = __builtin_shufflevector(v, Ints8{} + first, 8, 0, 1, 2, 3, 4, 5, 6);
}
VECTOR_BODY void moveDown(const Ints16 &v, int first, Ints16 &out) {
    out = __builtin_shufflevector(v, Ints16{} + first, 16, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14);
}

// |x| added to `sum`.
template <class Ints> VECTOR_BODY void addAbsolute(Ints &sum, const Ints &x) { sum += x < 0 ? -x : x; }

// The palette, each number spread across a vector.
template <class Ints> struct PaletteLanes {
    int size;
    Ints colours[64][3];
    VECTOR_BODY explicit PaletteLanes(const PaletteChannels &channels) : size((int)channels.red.size()) {
        for (int i = 0; i < size; ++i) {
            colours[i][0] = Ints{} + channels.red[i];
            colours[i][1] = Ints{} + channels.green[i];
            colours[i][2] = Ints{} + channels.blue[i];
        }
    }
};

// The palette colour nearest to `value` in each lane, as PaletteChannels
// finds it, into `chosen`.
template <class Ints, bool kCorners>
VECTOR_BODY void chooseColours(const PaletteLanes<Ints> &palette, const Ints (&value)[3], Ints (&chosen)[3]) {
    const Ints none = Ints{} + 0;
    const Ints(&first)[3] = palette.colours[0];
    if constexpr (kCorners) {
        Ints distance = none;
        for (int k = 0; k < 3; ++k) {
            const Ints high = value[k] >= 128;
            addAbsolute(distance, value[k] - (high & 255));
            chosen[k] = high & 255;
        }
        const Ints near = distance < 1000;
        for (int k = 0; k < 3; ++k) chosen[k] = near ? chosen[k] : first[k];
    } else {
        Ints least = none + 1000 * 64;
        for (int k = 0; k < 3; ++k) chosen[k] = first[k];
        for (int i = 0; i < palette.size; ++i) {
            const Ints(&colour)[3] = palette.colours[i];
            Ints distance = none;
            for (int k = 0; k < 3; ++k) addAbsolute(distance, value[k] - colour[k]);
            const Ints key = (distance < 1000 ? distance : none + 1000) * 64 + i;
            const Ints nearer = key < least;
            least = nearer ? key : least;
            for (int k = 0; k < 3; ++k) chosen[k] = nearer ? colour[k] : chosen[k];
        }
    }
}

// Band `band` of the diffusion, a chunk of steps at a time in `work`
// (kChunk x lanes ints).
template <class Ints, bool kCorners>
VECTOR_BODY void diffuseBandBody(Diffusion &d, const PaletteLanes<Ints> &palette, int band, int *work) {
    constexpr int L = sizeof(Ints) / sizeof(int);
    const int width = d.width, rows = std::min(L, d.height - band * L);
    unsigned char *const first = d.pixels + (size_t)band * L * width * 4;
    // The pixels of steps start .. end - 1 into `work`, or back.
    const auto copy = [&](int start, int end, bool back) {
        for (int i = 0; i < rows; ++i) {
            unsigned char *row = first + (size_t)i * width * 4;
            for (int c = std::max(0, start - i); c < std::min(width, end - i); ++c) {
                int *at = work + (c + i - start) * L + i;
                if (back)
                    memcpy(row + c * 4, at, 4);
                else
                    memcpy(at, row + c * 4, 4);
            }
        }
    };
    const Ints none = Ints{} + 0;
    Ints lane = none;
    for (int i = 0; i < L; ++i) lane[i] = i;
    const int *in[3];
    int *out[3];
    for (int k = 0; k < 3; ++k) {
        in[k] = d.errorsInto(band, L, k);
        out[k] = d.errorsInto(band + 1, L, k);
    }
    // Carried from the step before: 3/8 to the right, 1/4 down to the right,
    // and the errors into the row below, which move down a lane.
    Ints right[3] = {none, none, none}, quarter[3] = {none, none, none}, below[3] = {none, none, none};
    int ready = band == 0 ? d.steps : 0; // steps of the band above known done
    for (int start = 0; start < d.steps; start += Diffusion::kChunk) {
        const int end = std::min(start + Diffusion::kChunk, d.steps);
        // Step s reads the errors into column s, which the band above
        // leaves at its step s + L - 1.
        const int needed = std::min(end - 1 + L, d.steps);
        while (ready < needed)
            if ((ready = d.progress[band - 1].load(std::memory_order_acquire)) < needed) std::this_thread::yield();
        copy(start, end, false);
        for (int s = start; s < end; ++s) {
            Ints pixels;
            memcpy(&pixels, work + (s - start) * L, sizeof pixels);
            Ints value[3], chosen[3];
            for (int k = 0; k < 3; ++k) {
                Ints above;
                moveDown(below[k], in[k][s], above);
                value[k] = (pixels >> (8 * k) & 255) + right[k] + above;
            }
            chooseColours<Ints, kCorners>(palette, value, chosen);
            // Whether the lane's column, 0 .. width - 3, passes errors right:
            // both numbers are at least 0.
            const Ints column = s - lane;
            const Ints passes = (column | (width - 3 - column)) >= 0;
            for (int k = 0; k < 3; ++k) {
                const Ints error = value[k] - chosen[k];
                const Ints threeEighths = 3 * error / 8;
                // Into the next row at this lane's column: 3/8 from above,
                // 1/4 from above left.
                below[k] = threeEighths + quarter[k];
                right[k] = passes ? threeEighths : none;
                quarter[k] = passes ? error / 4 : none;
                out[k][s - (L - 1)] = below[k][L - 1];
            }
            const Ints colours = chosen[0] | chosen[1] << 8 | chosen[2] << 16 | (pixels & ~0xFFFFFF);
            memcpy(work + (s - start) * L, &colours, sizeof colours);
        }
        copy(start, end, true);
        d.progress[band].store(end, std::memory_order_release);
    }
}

template <class Ints> VECTOR_BODY void diffuseBandsBody(Diffusion &d, int *work) {
    const int bands = (d.height + (int)(sizeof(Ints) / sizeof(int)) - 1) / (int)(sizeof(Ints) / sizeof(int));
    const bool corners = !d.channels.corners.empty();
    const PaletteLanes<Ints> palette(d.channels);
    for (int band; (band = d.nextBand++) < bands;)
        if (corners)
            diffuseBandBody<Ints, true>(d, palette, band, work);
        else
            diffuseBandBody<Ints, false>(d, palette, band, work);
}
void diffuseBandsPlain(Diffusion &d, int *work) { diffuseBandsBody<Ints4>(d, work); }
AVX2_FUNCTION void diffuseBandsAvx2(Diffusion &d, int *work) { diffuseBandsBody<Ints8>(d, work); }
AVX512_FUNCTION void diffuseBandsAvx512(Diffusion &d, int *work) { diffuseBandsBody<Ints16>(d, work); }

} // namespace

bool errorDiffuse(Image &image, const Palette &palette, DiffusionTrace &trace) {
    trace.count = 0;
    if (!image.pixels || image.width <= 0 || image.height <= 0) return true;
    const PaletteChannels channels(palette);
    const auto diffuseBands = useAvx512() ? diffuseBandsAvx512 : useAvx2() ? diffuseBandsAvx2 : diffuseBandsPlain;
    const int lanes = useAvx512() ? 16 : useAvx2() ? 8 : 4;
    const int bands = (image.height + lanes - 1) / lanes;
    // A worker takes the next band once done with one. A band ends after
    // the one above it, so the bands not done are the last ones taken, one
    // a worker at most: the band a worker takes writes the errors that one
    // of them reads only if the rows of errors are no more than the workers.
    const int workers = std::min(threadCount(), bands);
    Diffusion d{image.pixels, image.width, image.height, channels, image.width + lanes - 1,
                workers + 1, image.width + 2 * lanes + 1, nullptr, nullptr};
    const size_t workLength = (size_t)Diffusion::kChunk * lanes;
    std::unique_ptr<int, decltype(&free)> errorRows((int *)calloc((size_t)d.slots * 3 * d.slotLength, sizeof(int)),
                                                    free),
        work((int *)calloc(workers * workLength, sizeof(int)), free);
    std::unique_ptr<std::atomic<int>[]> progress(new (std::nothrow) std::atomic<int>[bands]());
    if (!errorRows || !work || !progress) return false;
    d.errorRows = errorRows.get();
    d.progress = progress.get();
    traceCorner(image, palette, channels, trace);
    forEachRowBlock(workers, 1, [&](int, int) { diffuseBands(d, work.get() + d.nextWorker++ * workLength); });
    return true;
}
