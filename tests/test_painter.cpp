#include <climits>
#include <cstdlib>
#include <cstring>
#include <set>
#include <utility>

#include "core/command.h"
#include "ops/painter.h"
#include "test_support.h"

namespace {

struct Rgba {
    uint8_t r, g, b, a;
};

Image solidImage(int w, int h, Rgba colour) {
    Image image;
    image.replace(w, h, allocPixels(w, h));
    for (int i = 0; i < w * h; ++i) memcpy(image.pixels + 4 * i, &colour, 4);
    return image;
}

void setPixel(Image &image, int x, int y, Rgba colour) {
    memcpy(image.pixels + ((size_t)y * image.width + x) * 4, &colour, 4);
}

Rgba pixelAt(const Image &image, int x, int y) {
    Rgba p;
    memcpy(&p, image.pixels + ((size_t)y * image.width + x) * 4, 4);
    return p;
}

bool operator==(Rgba a, Rgba b) { return memcmp(&a, &b, 4) == 0; }

const Rgba kPaper = {255, 255, 255, 255}, kInk = {0, 0, 0, 255}, kBlend = {200, 0, 0, 255},
           kGreen = {0, 255, 0, 255}, kGrey = {128, 128, 128, 255};

std::string run(const char *line) {
    return maskTiming(captureOutput([&] { runCommand(line); }));
}

// What the line prints when its first allocation fails.
std::string runWithoutMemory(const char *line) {
    return maskTiming(captureOutput([&] {
        failAllocationAfter(0);
        runCommand(line);
        failAllocationAfter(-1);
    }));
}

// The stroke map of a brush image built by the caller.
StrokeMap mapOf(Image brush) {
    StrokeMap map;
    EXPECT_TRUE(imageToMap(brush, map));
    brush.release();
    return map;
}

// Makes the painters' stroke map from a brush image built by the caller,
// through image-to-map on register Y.
void useBrush(Image brush) {
    Image &y = *registerAt(24);
    y.release();
    y = brush;
    run("image-to-map Y");
}

// What `painter B` makes of a 1 x 1 source: the colour itself, where the
// stroke map in use paints its centre.
Rgba paintedDot() {
    Image &b = *registerAt(1);
    b.release();
    b = solidImage(1, 1, {7, 8, 9, 255});
    run("painter B");
    return pixelAt(b, 0, 0);
}

using PainterTest = TempDirTest;

TEST(OffsetTable, IsTheFixedPermutationOfTheTileLattice) {
    const OffsetTable table = makeOffsetTable();
    const std::pair<int, int> first[] = {{82, 0}, {24, 2}, {20, 8}, {28, 4}, {94, 26}, {54, 6}};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(std::make_pair(table[i].x, table[i].y), first[i]) << i;
    EXPECT_EQ(table[kOffsetCount - 1].x, 32);
    EXPECT_EQ(table[kOffsetCount - 1].y, 34);
    std::set<std::pair<int, int>> seen;
    for (const StrokeOffset e : table) {
        ASSERT_TRUE(e.x % 2 == 0 && e.x >= 0 && e.x <= 126 && e.y % 2 == 0 && e.y >= 0 && e.y <= 62);
        seen.insert({e.x, e.y});
    }
    EXPECT_EQ(seen.size(), (size_t)kOffsetCount);
    // Every table starts the generator afresh.
    EXPECT_EQ(makeOffsetTable()[0].x, 82);
}

TEST(StampStroke, ClipsAtEveryBorderAndReadsTheMatchingCellPixels) {
    // A cell that paints everywhere but clears its last row and column.
    unsigned char codes[kStrokeSize * kStrokeSize];
    for (int y = 0; y < kStrokeSize; ++y)
        for (int x = 0; x < kStrokeSize; ++x)
            codes[y * kStrokeSize + x] = x == 22 || y == 22 ? kStrokeClear : kStrokePaint;
    const int w = 30, h = 20;
    std::vector<uint32_t> canvas(w * h, 0xFFFFFFFFu);
    stampStroke(canvas.data(), w, h, w, -11, -11, codes, kStrokeSize, 0, 0, 23, 23, 1, 1, 1);
    stampStroke(canvas.data(), w, h, w, w - 12, h - 12, codes, kStrokeSize, 0, 0, 23, 23, 2, 2, 2);
    stampStroke(canvas.data(), w, h, w, -23, 0, codes, kStrokeSize, 0, 0, 23, 23, 3, 3, 3);
    stampStroke(canvas.data(), w, h, w, 0, h, codes, kStrokeSize, 0, 0, 23, 23, 3, 3, 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t *p = (uint8_t *)&canvas[y * w + x];
            int expected = 255;
            if (x <= 11 && y <= 11) expected = x == 11 || y == 11 ? 0 : 1; // cell pixels 11 to 22
            if (x >= w - 12 && y >= h - 12) expected = 2;                  // cell pixels 0 to 11
            ASSERT_EQ(p[0], expected) << x << "," << y;
        }
}

TEST(StampStroke, BlendHalvesEachByteWithoutCarries) {
    const unsigned char code = kStrokeBlend;
    for (int c = 0; c < 256; c += 3)
        for (int s = 0; s < 256; s += 5) {
            const uint8_t before[4] = {(uint8_t)c, (uint8_t)(255 - c), (uint8_t)(c ^ 0x55), (uint8_t)(c / 2)};
            uint32_t pixel;
            memcpy(&pixel, before, 4);
            stampStroke(&pixel, 1, 1, 1, 0, 0, &code, 1, 0, 0, 1, 1, s, 255 - s, s ^ 0xAA);
            uint8_t after[4];
            memcpy(after, &pixel, 4);
            const int stroke[4] = {s, 255 - s, s ^ 0xAA, 255};
            for (int k = 0; k < 4; ++k) ASSERT_EQ(after[k], (before[k] >> 1) + (stroke[k] >> 1));
        }
}

TEST(ImageToMap, ClassifiesByRedAndGreenAndRepaints) {
    Image image = solidImage(8, 1, kPaper);
    const Rgba in[8] = {{255, 255, 255, 255}, {0, 255, 0, 255}, {0, 0, 0, 255},  {159, 0, 0, 255},
                        {160, 0, 0, 255},     {255, 0, 0, 255}, {255, 255, 9, 0}, {0, 255, 7, 3}};
    for (int x = 0; x < 8; ++x) setPixel(image, x, 0, in[x]);
    StrokeMap map;
    ASSERT_TRUE(imageToMap(image, map));
    EXPECT_EQ(map.width, 8);
    EXPECT_EQ(map.height, 1);
    EXPECT_EQ(map.codes, (std::vector<unsigned char>{0, 3, 1, 1, 2, 2, 0, 3}));
    const Rgba shown[8] = {kInk, kGreen, kPaper, kPaper, kGrey, kGrey, kInk, kGreen};
    for (int x = 0; x < 8; ++x) EXPECT_TRUE(pixelAt(image, x, 0) == shown[x]) << x;
    image.release();
}

TEST_F(PainterTest, ImageToMapOnAnEmptyRegisterKeepsTheMap) {
    useBrush(solidImage(30, 30, kInk));
    EXPECT_EQ(run("image-to-map q"), "q not a valid image\n-- image-to-map : * sec\n");
    EXPECT_TRUE(paintedDot() == (Rgba{7, 8, 9, 255}));
}

// Each allocation of imageToMap fails in turn, until none is left to fail:
// every failure keeps the picture and the map. The command reports it.
TEST_F(PainterTest, ImageToMapWithoutMemoryChangesNothing) {
    Image image = solidImage(50, 50, kBlend);
    StrokeMap map = mapOf(solidImage(30, 30, kInk));
    const std::vector<unsigned char> codes = map.codes;
    long n = 0;
    for (;; ++n) {
        failAllocationAfter(n);
        const bool made = imageToMap(image, map);
        failAllocationAfter(-1);
        if (made) break;
        ASSERT_EQ(map.width, 30) << n;
        ASSERT_EQ(map.cells.size(), 1u) << n;
        ASSERT_TRUE(map.codes == codes) << n;
        for (int i = 0; i < 50 * 50; ++i) ASSERT_TRUE(pixelAt(image, i % 50, i / 50) == kBlend) << n;
    }
    EXPECT_GE(n, 2); // the codes and the cells
    EXPECT_EQ(map.width, 50);
    EXPECT_TRUE(pixelAt(image, 0, 0) == kGrey);
    image.release();

    useBrush(solidImage(30, 30, kInk));
    Image &a = *registerAt(0);
    a = solidImage(50, 50, kBlend);
    const std::string out = runWithoutMemory("image-to-map A");
    EXPECT_EQ(out, "Not enough memory for the new image!\n-- image-to-map : * sec\n");
    EXPECT_TRUE(pixelAt(a, 0, 0) == kBlend);
    EXPECT_TRUE(paintedDot() == (Rgba{7, 8, 9, 255})); // a blending map would not give the colour
}

// A dot that only blends its centre pixel: stroke counts show in the canvas,
// each blend of black halving the white.
void countStrokes(int w, int h, int strokesPerPosition) {
    Image brush = solidImage(kStrokeSize, kStrokeSize, kPaper);
    setPixel(brush, 11, 11, kBlend);
    useBrush(brush);
    Image &a = *registerAt(0);
    a = solidImage(w, h, kInk);
    run("painter A");
    ASSERT_EQ(a.width, 2 * w);
    ASSERT_EQ(a.height, 2 * h);
    const uint8_t blended = 255 >> strokesPerPosition;
    for (int y = 0; y < 2 * h; ++y)
        for (int x = 0; x < 2 * w; ++x) {
            const bool centre = x % 4 == 0 && y % 4 == 0;
            const Rgba want = centre ? Rgba{blended, blended, blended, 254} : kPaper;
            ASSERT_TRUE(pixelAt(a, x, y) == want) << x << "," << y;
        }
}

TEST_F(PainterTest, LargeSourceGetsOneStrokePerEvenPosition) { countStrokes(256, 128, 1); }

TEST_F(PainterTest, SmallSourceFoldsTheTableIntoFourStrokesPerPosition) { countStrokes(64, 32, 4); }

TEST_F(PainterTest, StrokesTakeThePremultipliedColourAtFullOpacity) {
    useBrush(solidImage(kStrokeSize, kStrokeSize, kInk));
    Image &a = *registerAt(0);
    a = solidImage(1, 1, {100, 50, 20, 128});
    run("painter a");
    ASSERT_EQ(a.width, 2);
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(pixelAt(a, i % 2, i / 2) == (Rgba{100, 50, 20, 255}));
}

TEST_F(PainterTest, SquiggleColumnStartsAtZero) {
    // A 1 x 1 source takes all 2048 strokes on one spot; 2048 is a multiple
    // of 8, so the last stroke uses the column the execution started with.
    // Column 0 of the row paints, the other seven clear.
    const std::pair<const char *, int> painters[] = {{"painter2 A", kSquiggleBrush.row},
                                                     {"painter3 A", kHighlightBrush.row}};
    for (auto [line, row] : painters) {
        Image brush = solidImage(8 * kStrokeSize, 6 * kStrokeSize, kPaper);
        for (int c = 0; c < 8; ++c) {
            const Rgba code = c == 0 ? kInk : kGreen;
            for (int y = 11; y <= 12; ++y)
                for (int x = 11; x <= 12; ++x) setPixel(brush, 23 * c + x, 23 * row + y, code);
        }
        useBrush(brush);
        Image &a = *registerAt(0);
        a.release();
        a = solidImage(1, 1, {7, 8, 9, 255});
        run(line);
        ASSERT_EQ(a.width, 2);
        for (int i = 0; i < 4; ++i) EXPECT_TRUE(pixelAt(a, i % 2, i / 2) == (Rgba{7, 8, 9, 255})) << line;
    }
}

// paintStrokes draws in bands of rows and only the used part of each cell;
// the result must be that of the plain loop over whole cells on the whole
// canvas. The brush mixes all four codes, over a part of each cell that
// differs from cell to cell, and has one empty cell.
TEST(PaintStrokes, PaintsLikeThePlainStrokeLoop) {
    Image brush = solidImage(8 * kStrokeSize, 6 * kStrokeSize, kPaper);
    const Rgba codes[3] = {kInk, kBlend, kGreen};
    for (int y = 0; y < brush.height; ++y)
        for (int x = 0; x < brush.width; ++x) {
            const int c = x / 23, r = y / 23, cx = x % 23, cy = y % 23;
            const unsigned hash = (x * 7919u + y * 104729u) * 2654435761u >> 24;
            if (cx >= c && cx < 16 + c && cy >= r && cy < 18 + r && !(c == 3 && r == 5) && hash % 4)
                setPixel(brush, x, y, codes[hash % 3]);
        }
    const StrokeMap map = mapOf(brush);
    const OffsetTable offsets = makeOffsetTable();

    // A source of many tiles and bands, and one smaller than a tile.
    for (const auto &[w, h] : {std::pair{300, 170}, std::pair{50, 30}}) {
        Image source = solidImage(w, h, kInk);
        for (int i = 0; i < w * h * 4; ++i) source.pixels[i] = (uint8_t)(i * 2654435761u >> 13);
        for (const BrushCells brushCells : {kDotBrush, kSquiggleBrush, kHighlightBrush}) {
            std::vector<uint32_t> plain(4 * w * h, 0xFFFFFFFFu), painted = plain;
            int column = 0;
            for (const StrokeOffset offset : offsets)
                for (int j = h / 64; j >= 0; --j)
                    for (int i = w / 128; i >= 0; --i) {
                        const int x = offset.x % w + 128 * i, y = offset.y % h + 64 * j;
                        if (x >= w || y >= h) continue;
                        const uint8_t *p = source.pixels + (y * w + x) * 4;
                        column = (column + 1) % brushCells.count;
                        stampStroke(plain.data(), 2 * w, 2 * h, 2 * w, 2 * x - 11, 2 * y - 11, map.codes.data(),
                                    map.width, 23 * column, 23 * brushCells.row, 23, 23, p[0], p[1], p[2]);
                    }
            paintStrokes(source, map, brushCells, offsets, painted.data());
            EXPECT_TRUE(painted == plain) << w << " " << brushCells.row;
        }
        source.release();
    }
}

TEST_F(PainterTest, RejectsSourcesWithoutPixelsOrTooLarge) {
    useBrush(solidImage(8 * kStrokeSize, 6 * kStrokeSize, kInk));
    EXPECT_EQ(run("painter q"), "q not a valid image\n-- painter : * sec\n");

    Image &a = *registerAt(0);
    a = Image{0, 0, (unsigned char *)malloc(4)};
    EXPECT_EQ(run("painter2 a extra"), "a not a valid image\n-- painter2 : * sec\n");
    EXPECT_EQ(a.width, 0);

    unsigned char *pixels = a.pixels;
    const std::pair<int, int> sizes[] = {{16384, 16384}, {INT_MAX / 2 + 1, 1}, {1, INT_MAX}};
    for (auto [w, h] : sizes) {
        a.width = w;
        a.height = h;
        EXPECT_EQ(run("painter3 A"),
                  "Can't paint - A too large for a canvas twice its size!\n-- painter3 : * sec\n");
        EXPECT_EQ(a.width, w);
        EXPECT_EQ(a.pixels, pixels);
    }
}

TEST_F(PainterTest, RefusesAStrokeMapWithoutTheCellsItReads) {
    struct Case {
        int w, h;
        const char *line;
        bool paints;
    };
    const Case cases[] = {
        {22, 23, "painter A", false},   {23, 22, "painter A", false},   {23, 23, "painter A", true},
        {183, 115, "painter3 A", false}, {184, 114, "painter3 A", false}, {184, 115, "painter3 A", true},
        {184, 115, "painter2 A", false}, {183, 138, "painter2 A", false}, {184, 138, "painter2 A", true},
    };
    for (const Case &c : cases) {
        useBrush(solidImage(c.w, c.h, kInk));
        Image &a = *registerAt(0);
        a.release();
        a = solidImage(4, 4, kInk);
        std::string out = run(c.line);
        EXPECT_EQ(out.find("Can't paint - stroke map too small!\n") == 0, !c.paints) << c.line << c.w << c.h;
        EXPECT_EQ(a.width, c.paints ? 8 : 4) << c.line << c.w << c.h;
    }
}

} // namespace
