#include "painter.h"

#include <algorithm>
#include <cstring>

#include "image/parallel.h"

namespace {

// The C runtime's rand from its unseeded start, numbers 0 to 0x7FFF, so the
// offset table is the same on every platform.
class RuntimeRandom {
  public:
    int next() {
        state = state * kMultiplier + kIncrement;
        return (state >> 16) & 0x7FFF;
    }

  private:
    static constexpr uint32_t kMultiplier = 214013u, kIncrement = 2531011u;
    uint32_t state = 1;
};

// Stroke positions across a tile: its even columns.
constexpr int kTileColumns = kTileWidth / 2;
// How far a taken slot of the offset table moves on; odd, so that every slot
// is reached.
constexpr int kProbeStep = 17;

// Red below this paints; from here up, short of white, it blends.
constexpr int kPaintRedLimit = 160;

// Each byte's lower seven bits of a packed pixel.
constexpr uint32_t kByteHalfMask = 0x7F7F7F7Fu;

// The canvas is painted a block of this many rows and columns at a time,
// which fits the cache.
constexpr int kBlockRows = 128, kBlockColumns = 512;

// One pixel's four bytes as a packed word, in memory order.
uint32_t packPixel(unsigned char r, unsigned char g, unsigned char b, unsigned char a) {
    const unsigned char bytes[4] = {r, g, b, a};
    uint32_t word;
    memcpy(&word, bytes, 4);
    return word;
}

// The brush image's colour code, from red and green alone: white is paper,
// pure green clears, dark red paints and the rest blends.
StrokeCode classify(unsigned char red, unsigned char green) {
    if (red == 255 && green == 255) return kStrokeLeave;
    if (red == 0 && green == 255) return kStrokeClear;
    return red < kPaintRedLimit ? kStrokePaint : kStrokeBlend;
}

// How imageToMap shows each code, by code.
const unsigned char kShownAs[4][4] = {
    {0, 0, 0, 255}, {255, 255, 255, 255}, {128, 128, 128, 255}, {0, 255, 0, 255}};

CellBounds cellBounds(const StrokeMap &map, int column, int row) {
    int left = kStrokeSize, top = kStrokeSize, right = -1, bottom = -1;
    for (int y = 0; y < kStrokeSize; ++y)
        for (int x = 0; x < kStrokeSize; ++x)
            if (map.codes[(size_t)(kStrokeSize * row + y) * map.width + kStrokeSize * column + x] !=
                kStrokeLeave) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
    return right < 0 ? CellBounds{0, 0, 0, 0} : CellBounds{left, top, right - left + 1, bottom - top + 1};
}

// The strokes of one table entry: one in every tile, at the entry's position
// in the tile, over the tiles that start inside the source.
struct EntryStrokes {
    int x, y;            // its position in the first tile
    int across, down;    // the tiles across and down that hold one
    int64_t firstStroke; // the number of its first stroke in painting order
};

// The first and last of the indices k of 0 to count - 1 for which
// start + step * k lies in lowest to highest; last < first for none.
std::pair<int, int> latticeSpan(int lowest, int highest, int start, int step, int count) {
    const int first = lowest <= start ? 0 : (lowest - start + step - 1) / step;
    const int last = highest < start ? -1 : std::min(count - 1, (highest - start) / step);
    return {first, last};
}

} // namespace

bool imageToMap(Image &image, StrokeMap &map) {
    // The whole map, with all the memory it needs, comes before the picture
    // changes.
    StrokeMap made;
    made.width = image.width;
    made.height = image.height;
    made.cellColumns = image.width / kStrokeSize;
    const int cellRows = image.height / kStrokeSize;
    const size_t count = (size_t)image.width * image.height;
    if (!fitsInMemory([&] {
            made.codes.resize(count);
            made.cells.resize((size_t)made.cellColumns * cellRows);
        }))
        return false;
    for (size_t i = 0; i < count; ++i) made.codes[i] = classify(image.pixels[4 * i], image.pixels[4 * i + 1]);
    for (int row = 0; row < cellRows; ++row)
        for (int column = 0; column < made.cellColumns; ++column)
            made.cells[(size_t)row * made.cellColumns + column] = cellBounds(made, column, row);
    for (size_t i = 0; i < count; ++i) memcpy(image.pixels + 4 * i, kShownAs[made.codes[i]], 4);
    map = std::move(made);
    return true;
}

bool mapHolds(const StrokeMap &map, BrushCells brush) {
    return map.width >= brush.count * kStrokeSize && map.height >= (brush.row + 1) * kStrokeSize;
}

OffsetTable makeOffsetTable() {
    RuntimeRandom random;
    OffsetTable table;
    bool taken[kOffsetCount] = {};
    int s = 0;
    for (StrokeOffset &entry : table) {
        s = (s + random.next()) % kOffsetCount;
        while (taken[s]) s = (s + kProbeStep) % kOffsetCount;
        entry = {2 * (s % kTileColumns), 2 * (s / kTileColumns)};
        taken[s] = true;
    }
    return table;
}

void stampStroke(uint32_t *canvas, int canvasWidth, int canvasHeight, int canvasStride, int dx, int dy,
                 const unsigned char *codes, int mapWidth, int sx, int sy, int w, int h,
                 unsigned char red, unsigned char green, unsigned char blue) {
    // Clipped once here, so the pixel loop needs no bounds tests.
    if (dx < 0) {
        sx -= dx;
        w += dx;
        dx = 0;
    }
    if (dy < 0) {
        sy -= dy;
        h += dy;
        dy = 0;
    }
    if (dx + w > canvasWidth) w = canvasWidth - dx;
    if (dy + h > canvasHeight) h = canvasHeight - dy;
    if (w <= 0 || h <= 0) return;

    const uint32_t paint = packPixel(red, green, blue, 255);
    // Halving every byte of a packed pixel at once: shift, then drop the bit
    // each byte got from its neighbour.
    const uint32_t halfPaint = (paint >> 1) & kByteHalfMask;
    for (int row = 0; row < h; ++row) {
        const unsigned char *code = codes + (size_t)(sy + row) * mapWidth + sx;
        uint32_t *pixel = canvas + (size_t)(dy + row) * canvasStride + dx;
        // Every pixel is written, a left one with its own value, so the mixed
        // codes cost no mispredicted branches.
        for (int column = 0; column < w; ++column) {
            const uint32_t old = pixel[column];
            const uint32_t blended = ((old >> 1) & kByteHalfMask) + halfPaint;
            const unsigned k = code[column];
            pixel[column] = k == kStrokeLeave   ? old
                            : k == kStrokePaint ? paint
                            : k == kStrokeBlend ? blended
                                                : 0;
        }
    }
}

unsigned char *whiteCanvas(const Image &source) {
    // A canvas whose byte count fits 32 bits also has sides that fit an int.
    const uint64_t bytes = 4 * (2 * (uint64_t)source.width) * (2 * (uint64_t)source.height);
    unsigned char *canvas = bytes <= UINT32_MAX ? allocPixels(2 * source.width, 2 * source.height) : nullptr;
    if (!canvas) return nullptr;
    const size_t rowBytes = (size_t)source.width * 8;
    forEachRowBlock(2 * source.height, rowsPerTask(2 * source.width), [&](int first, int last) {
        memset(canvas + first * rowBytes, 255, (last - first) * rowBytes);
    });
    return canvas;
}

void paintStrokes(const Image &source, const StrokeMap &map, BrushCells brush, const OffsetTable &offsets,
                 uint32_t *canvas) {
    const int w = source.width, h = source.height;
    // Strokes go in table order, and for each entry tile row by tile row from
    // the bottom up, each row from right to left; the n-th stroke takes cell
    // (n + 1) mod count of the brush. The number of the entry's first stroke
    // gives every later one's.
    std::array<EntryStrokes, kOffsetCount> entries;
    int64_t strokes = 0;
    for (int e = 0; e < kOffsetCount; ++e) {
        const int x = offsets[e].x % w, y = offsets[e].y % h;
        entries[e] = {x, y, (w - 1 - x) / kTileWidth + 1, (h - 1 - y) / kTileHeight + 1, strokes};
        strokes += (int64_t)entries[e].across * entries[e].down;
    }
    // The canvas is painted one block at a time with the strokes that reach
    // the block, still in painting order: every pixel gets the same strokes in
    // the same order, while the block stays in the cache. A block draws only
    // the part of a stroke inside it, so the blocks are independent and their
    // bands of rows go to all processors.
    const int bands = (2 * h + kBlockRows - 1) / kBlockRows;
    forEachRowBlock(bands, 1, [&](int firstBand, int lastBand) {
        for (int top = firstBand * kBlockRows; top < std::min(lastBand * kBlockRows, 2 * h); top += kBlockRows) {
            const int rows = std::min(kBlockRows, 2 * h - top);
            for (int left = 0; left < 2 * w; left += kBlockColumns) {
                const int columns = std::min(kBlockColumns, 2 * w - left);
                uint32_t *block = canvas + (size_t)top * 2 * w + left;
                for (int e = 0; e < kOffsetCount; ++e) {
                    // The entry's strokes whose centres lie within half a
                    // stroke of the block.
                    const EntryStrokes &entry = entries[e];
                    const auto [firstRow, lastRow] =
                        latticeSpan((top - kStrokeHalf) / 2, (top + rows + kStrokeHalf) / 2, entry.y, kTileHeight,
                                    entry.down);
                    const auto [firstColumn, lastColumn] =
                        latticeSpan((left - kStrokeHalf) / 2, (left + columns + kStrokeHalf) / 2, entry.x,
                                    kTileWidth, entry.across);
                    for (int j = lastRow; j >= firstRow; --j) {
                        const int y = entry.y + kTileHeight * j;
                        const int64_t rowStroke = entry.firstStroke + (int64_t)(entry.down - 1 - j) * entry.across;
                        for (int i = lastColumn; i >= firstColumn; --i) {
                            const int x = entry.x + kTileWidth * i;
                            const int64_t n = rowStroke + entry.across - 1 - i;
                            const int cell = brush.row * map.cellColumns + (int)((n + 1) % brush.count);
                            // Only the part of the cell that changes anything is drawn.
                            const CellBounds &b = map.cells[cell];
                            const unsigned char *p = source.pixels + ((size_t)y * w + x) * 4;
                            stampStroke(block, columns, rows, 2 * w, 2 * x - kStrokeHalf + b.x - left,
                                        2 * y - kStrokeHalf + b.y - top, map.codes.data(), map.width,
                                        kStrokeSize * (cell % map.cellColumns) + b.x,
                                        kStrokeSize * (cell / map.cellColumns) + b.y, b.w, b.h, p[0], p[1], p[2]);
                        }
                    }
                }
            }
        }
    });
}
