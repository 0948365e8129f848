#include "dither.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
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
// palette colour; the error left over goes 3/8 to the right (into `right`,
// kept in registers rather than added into the row and read back at once),
// 3/8 down and 1/4 down to the right (into `below`). Nothing goes down-left,
// and the last two columns pass nothing to the right.
inline void diffusePixel(unsigned char *p, const int *here, int *below, int right[3], bool passesRight,
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

} // namespace

bool errorDiffuse(Image &image, const Palette &palette, DiffusionTrace &trace) {
    trace.count = 0;
    unsigned char *p = image.pixels;
    if (!p) return true;
    // Each output pixel depends only on its own input and the errors carried
    // to it, so the pixels are rewritten in place. Rows go in pairs, the
    // lower one a pixel behind the upper one: a pixel's errors from above
    // are complete once the pixel above it is done. The two rows' chains of
    // work then overlap in the processor, which one row's chain, each pixel
    // waiting for the one before, cannot. Three rows of errors, three
    // channels per column: the upper row's, the lower row's and the next.
    const int width = image.width, height = image.height;
    const size_t rowLength = (size_t)width * 3;
    int *errors = (int *)calloc(3 * rowLength, sizeof(int));
    if (!errors) return false;
    int *upperErrors = errors, *lowerErrors = errors + rowLength, *nextErrors = errors + 2 * rowLength;
    const PaletteChannels channels(palette);
    const int traceColumns = std::min(width, 2);
    DiffusionStep step;
    // Records the first two pixels of the first two rows, in row order.
    auto traced = [&](int row, int column) {
        if (row < 2 && column < 2) {
            trace.steps[row * traceColumns + column] = step;
            ++trace.count;
        }
    };
    for (int row = 0; row < height; row += 2, p += 8 * (size_t)width) {
        const bool pair = row + 1 < height;
        std::fill(lowerErrors, lowerErrors + rowLength, 0);
        std::fill(nextErrors, nextErrors + rowLength, 0);
        unsigned char *upper = p, *lower = p + 4 * (size_t)width;
        int upperRight[3] = {0, 0, 0}, lowerRight[3] = {0, 0, 0};
        for (int column = 0; column < width; ++column) {
            const bool passesRight = column < width - 2;
            const size_t at = (size_t)column * 3;
            diffusePixel(upper + column * 4, upperErrors + at, lowerErrors + at, upperRight, passesRight, palette,
                         channels, step);
            traced(row, column);
            if (!pair) continue;
            diffusePixel(lower + column * 4, lowerErrors + at, nextErrors + at, lowerRight, passesRight, palette,
                         channels, step);
            traced(row + 1, column);
        }
        std::swap(upperErrors, nextErrors);
    }
    free(errors);
    return true;
}
