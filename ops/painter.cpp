#include "painter.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <new>
#include <string>
#include <system_error>

#include "core/console.h"
#include "core/registers.h"

namespace {

std::unique_ptr<StrokeMap> currentMap;

// The brush file's second place: a fixed path of the platform the program
// came from, kept as it is and simply not found elsewhere.
const char kSharedBrushPath[] = "p:\\course\\ip301-studio\\public\\Images\\paintBrushes.tga";

// The program's own data folder: share/compositor beside the bin/ folder of
// an installed program, else the source tree's data/ for a program run where
// it was built.
std::string programDataDir() {
    namespace fs = std::filesystem;
    std::error_code error;
    fs::path exe = fs::canonical("/proc/self/exe", error);
    if (!error) {
        fs::path installed = exe.parent_path().parent_path() / "share" / "compositor";
        if (fs::is_directory(installed, error)) return installed.string();
    }
    return COMPOSITOR_SOURCE_DATA_DIR;
}

// The C runtime's rand, never seeded, so the offset table is the same on
// every platform.
int nextRandom() {
    static uint32_t state = 1;
    state = state * 214013u + 2531011u;
    return (state >> 16) & 0x7FFF;
}

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
    return red < 160 ? kStrokePaint : kStrokeBlend;
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

// Canvas rows painted at a time: a band of a wide canvas fits the cache.
constexpr int kBandRows = 128;

// Calls visit(x, y) for the source pixel of every stroke, in painting order:
// table entry by entry, and for each entry the tiles from the bottom row up,
// each row from right to left.
template <class Visit> void forEachStroke(const StrokeOffset *offsets, int w, int h, Visit visit) {
    const int tilesAcross = w / 128 + 1, tilesDown = h / 64 + 1;
    for (int e = 0; e < kOffsetCount; ++e) {
        const int ox = offsets[e].x % w, oy = offsets[e].y % h;
        for (int j = tilesDown - 1; j >= 0; --j) {
            const int y = oy + 64 * j;
            if (y >= h) continue;
            for (int i = tilesAcross - 1; i >= 0; --i) {
                const int x = ox + 128 * i;
                if (x < w) visit(x, y);
            }
        }
    }
}

} // namespace

const StrokeMap *strokeMap() { return currentMap.get(); }

void loadBrushFile() {
    if (currentMap) return;
    const std::string ownPath = programDataDir() + "/paintBrushes.tga";
    Image brushes;
    const char *path = ownPath.c_str();
    if (!brushes.load(path)) {
        path = kSharedBrushPath;
        brushes.load(path);
    }
    if (!brushes.empty()) {
        consolePrint(" Read stroke map from %s\n", path);
        try {
            imageToMap(brushes);
        } catch (const std::bad_alloc &) {
            brushes.release();
            throw;
        }
    } else {
        consolePrintRed("Couldn't find brush file!\n:");
    }
    brushes.release();
}

void imageToMap(Image &image) {
    // The whole map, with all the memory it needs, comes before the picture
    // changes: a map that cannot be had leaves the picture as it was.
    auto map = std::make_unique<StrokeMap>();
    map->width = image.width;
    map->height = image.height;
    const size_t count = (size_t)image.width * image.height;
    map->codes.resize(count);
    for (size_t i = 0; i < count; ++i) map->codes[i] = classify(image.pixels[4 * i], image.pixels[4 * i + 1]);
    map->cellColumns = image.width / kStrokeSize;
    for (int row = 0; row < image.height / kStrokeSize; ++row)
        for (int column = 0; column < map->cellColumns; ++column)
            map->cells.push_back(cellBounds(*map, column, row));
    for (size_t i = 0; i < count; ++i) memcpy(image.pixels + 4 * i, kShownAs[map->codes[i]], 4);
    currentMap = std::move(map);
}

const StrokeOffset *buildOffsetTable() {
    static StrokeOffset table[kOffsetCount];
    static bool built = false;
    if (built) return table;
    clock_t start = clock();
    bool taken[kOffsetCount] = {};
    int s = 0;
    for (StrokeOffset &entry : table) {
        s = (s + nextRandom()) % kOffsetCount;
        while (taken[s]) s = (s + 17) % kOffsetCount; // 17 is odd: every slot is reached
        entry = {2 * (s % 64), 2 * (s / 64)};
        taken[s] = true;
    }
    built = true;
    consolePrintRed("-- %s : %5.2f sec\n", "build rand table", (double)(clock() - start) / CLOCKS_PER_SEC);
    return table;
}

void stampStroke(uint32_t *canvas, int canvasWidth, int canvasHeight, int dx, int dy,
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
    const uint32_t halfPaint = (paint >> 1) & 0x7F7F7F7Fu;
    for (int row = 0; row < h; ++row) {
        const unsigned char *code = codes + (size_t)(sy + row) * mapWidth + sx;
        uint32_t *pixel = canvas + (size_t)(dy + row) * canvasWidth + dx;
        // Every pixel is written, a left one with its own value, so the mixed
        // codes cost no mispredicted branches.
        for (int column = 0; column < w; ++column) {
            const uint32_t old = pixel[column];
            const uint32_t blended = ((old >> 1) & 0x7F7F7F7Fu) + halfPaint;
            const unsigned k = code[column];
            pixel[column] = k == kStrokeLeave   ? old
                            : k == kStrokePaint ? paint
                            : k == kStrokeBlend ? blended
                                                : 0;
        }
    }
}

void paintStrokes(const Image &source, const StrokeMap &map, const StrokeOffset *offsets,
                  PainterCommand &painter, uint32_t *canvas) {
    const int w = source.width, h = source.height;
    // The cells are chosen first, in painting order...
    std::vector<int> cells;
    int column = 0, row = 0;
    forEachStroke(offsets, w, h, [&](int x, int y) {
        painter.pickStroke(x, y, column, row);
        cells.push_back(row * map.cellColumns + column);
    });
    // ...then the canvas is painted one band of rows at a time with the
    // strokes that reach the band, still in painting order: every pixel gets
    // the same strokes in the same order, while the band stays in the cache.
    for (int top = 0; top < 2 * h; top += kBandRows) {
        const int rows = std::min(kBandRows, 2 * h - top);
        size_t k = 0;
        forEachStroke(offsets, w, h, [&](int x, int y) {
            const int cell = cells[k++];
            if (2 * y + 12 <= top || 2 * y - 11 >= top + rows) return;
            // Only the part of the cell that changes anything is drawn.
            const CellBounds &b = map.cells[cell];
            const unsigned char *p = source.pixels + ((size_t)y * w + x) * 4;
            stampStroke(canvas + (size_t)top * 2 * w, 2 * w, rows, 2 * x - 11 + b.x, 2 * y - 11 + b.y - top,
                        map.codes.data(), map.width, kStrokeSize * (cell % map.cellColumns) + b.x,
                        kStrokeSize * (cell / map.cellColumns) + b.y, b.w, b.h, p[0], p[1], p[2]);
        });
    }
}

int PainterCommand::execute(char *args) {
    loadBrushFile();
    const StrokeMap *map = strokeMap();
    if (!map) {
        consolePrintRed("Can't paint - no stroke map!\n");
        return 1;
    }
    if (map->width < mapWidth || map->height < mapHeight) {
        consolePrintRed("Can't paint - stroke map too small!\n");
        return 1;
    }
    splitWord(args);
    Image *source = lookupImage(args);
    if (!source) return 1;
    if (source->width <= 0 || source->height <= 0) {
        consolePrintRed("%s not a valid image\n", args);
        return 1;
    }
    // A canvas whose byte count fits 32 bits also has sides that fit an int.
    const uint64_t canvasBytes = 16 * (uint64_t)source->width * (uint64_t)source->height;
    unsigned char *canvas =
        canvasBytes <= UINT32_MAX ? allocPixels(2 * source->width, 2 * source->height) : nullptr;
    if (!canvas) {
        consolePrintRed("Can't paint - %s too large for a canvas twice its size!\n", args);
        return 1;
    }
    memset(canvas, 255, canvasBytes);
    // The stroke list of a huge picture may not fit in memory.
    try {
        paintStrokes(*source, *map, buildOffsetTable(), *this, (uint32_t *)canvas);
    } catch (const std::bad_alloc &) {
        free(canvas);
        throw;
    }
    source->replace(2 * source->width, 2 * source->height, canvas);
    return 1;
}

namespace {

// painter: the round dot of cell (0, 0) for every stroke.
class DotPainter : public PainterCommand {
  public:
    DotPainter() : PainterCommand("painter", kStrokeSize, kStrokeSize) {}
    void pickStroke(int, int, int &column, int &row) override {
        column = 0;
        row = 0;
    }
};

// painter2 and painter3: the eight cells of one row in turn.
class SquigglePainter : public PainterCommand {
  public:
    SquigglePainter(const char *name, int cellRow)
        : PainterCommand(name, 8 * kStrokeSize, (cellRow + 1) * kStrokeSize), cellRow(cellRow) {}
    void pickStroke(int, int, int &column, int &row) override {
        column = (column + 1) % 8;
        row = cellRow;
    }

  private:
    const int cellRow;
};

int imageToMapCommand(char *args) {
    splitWord(args);
    Image *image = lookupImage(args);
    if (image) imageToMap(*image);
    return 1;
}

FunctionCommand imageToMapRegistration("image-to-map", imageToMapCommand);
DotPainter painterCommand;
SquigglePainter painter2Command("painter2", 5);
SquigglePainter painter3Command("painter3", 4);

} // namespace
