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
           kGreen = {0, 255, 0, 255};

// Makes the run's stroke map from a brush image built by the caller.
void useBrush(Image brush) {
    imageToMap(brush);
    brush.release();
}

std::string run(const char *line) {
    return maskTiming(captureOutput([&] { runCommand(line); }));
}

using PainterTest = TempDirTest;

TEST(OffsetTable, IsTheFixedPermutationOfTheTileLattice) {
    const StrokeOffset *table = nullptr;
    captureOutput([&] { table = buildOffsetTable(); });
    const std::pair<int, int> first[] = {{82, 0}, {24, 2}, {20, 8}, {28, 4}, {94, 26}, {54, 6}};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(std::make_pair(table[i].x, table[i].y), first[i]) << i;
    EXPECT_EQ(table[kOffsetCount - 1].x, 32);
    EXPECT_EQ(table[kOffsetCount - 1].y, 34);
    std::set<std::pair<int, int>> seen;
    for (int i = 0; i < kOffsetCount; ++i) {
        const StrokeOffset e = table[i];
        ASSERT_TRUE(e.x % 2 == 0 && e.x >= 0 && e.x <= 126 && e.y % 2 == 0 && e.y >= 0 && e.y <= 62);
        seen.insert({e.x, e.y});
    }
    EXPECT_EQ(seen.size(), (size_t)kOffsetCount);
    EXPECT_EQ(buildOffsetTable(), table);
}

TEST(StampStroke, ClipsAtEveryBorderAndReadsTheMatchingCellPixels) {
    // A cell that paints everywhere but clears its last row and column.
    unsigned char codes[kStrokeSize * kStrokeSize];
    for (int y = 0; y < kStrokeSize; ++y)
        for (int x = 0; x < kStrokeSize; ++x)
            codes[y * kStrokeSize + x] = x == 22 || y == 22 ? kStrokeClear : kStrokePaint;
    const int w = 30, h = 20;
    std::vector<uint32_t> canvas(w * h, 0xFFFFFFFFu);
    stampStroke(canvas.data(), w, h, -11, -11, codes, kStrokeSize, 0, 0, 23, 23, 1, 1, 1);
    stampStroke(canvas.data(), w, h, w - 12, h - 12, codes, kStrokeSize, 0, 0, 23, 23, 2, 2, 2);
    stampStroke(canvas.data(), w, h, -23, 0, codes, kStrokeSize, 0, 0, 23, 23, 3, 3, 3);
    stampStroke(canvas.data(), w, h, 0, h, codes, kStrokeSize, 0, 0, 23, 23, 3, 3, 3);
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
            stampStroke(&pixel, 1, 1, 0, 0, &code, 1, 0, 0, 1, 1, s, 255 - s, s ^ 0xAA);
            uint8_t after[4];
            memcpy(after, &pixel, 4);
            const int stroke[4] = {s, 255 - s, s ^ 0xAA, 255};
            for (int k = 0; k < 4; ++k) ASSERT_EQ(after[k], (before[k] >> 1) + (stroke[k] >> 1));
        }
}

TEST_F(PainterTest, ImageToMapClassifiesByRedAndGreenAndRepaints) {
    Image &a = *registerAt(0);
    a = solidImage(8, 1, kPaper);
    const Rgba in[8] = {{255, 255, 255, 255}, {0, 255, 0, 255}, {0, 0, 0, 255},  {159, 0, 0, 255},
                        {160, 0, 0, 255},     {255, 0, 0, 255}, {255, 255, 9, 0}, {0, 255, 7, 3}};
    for (int x = 0; x < 8; ++x) setPixel(a, x, 0, in[x]);
    EXPECT_EQ(run("image-to-map a"), "-- image-to-map : * sec\n");
    const StrokeMap *map = strokeMap();
    ASSERT_NE(map, nullptr);
    EXPECT_EQ(map->width, 8);
    EXPECT_EQ(map->height, 1);
    EXPECT_EQ(map->codes, (std::vector<unsigned char>{0, 3, 1, 1, 2, 2, 0, 3}));
    const Rgba black = {0, 0, 0, 255}, white = {255, 255, 255, 255}, grey = {128, 128, 128, 255};
    const Rgba shown[8] = {black, kGreen, white, white, grey, grey, black, kGreen};
    for (int x = 0; x < 8; ++x) EXPECT_TRUE(pixelAt(a, x, 0) == shown[x]) << x;
}

TEST_F(PainterTest, ImageToMapOnAnEmptyRegisterKeepsTheMap) {
    useBrush(solidImage(30, 30, kInk));
    const StrokeMap *before = strokeMap();
    EXPECT_EQ(run("image-to-map q"), "q not a valid image\n-- image-to-map : * sec\n");
    EXPECT_EQ(strokeMap(), before);
    EXPECT_EQ(strokeMap()->width, 30);
}

// Each allocation of image-to-map fails in turn, until none is left to fail:
// every failure reports the memory error and keeps the picture and the map.
TEST_F(PainterTest, ImageToMapWithoutMemoryChangesNothing) {
    useBrush(solidImage(30, 30, kInk));
    const StrokeMap *before = strokeMap();
    Image &a = *registerAt(0);
    a = solidImage(50, 50, kBlend);
    long n = 0;
    for (;; ++n) {
        const std::string out = maskTiming(captureOutput([&] {
            failAllocationAfter(n);
            runCommand("image-to-map A");
            failAllocationAfter(-1);
        }));
        if (strokeMap() != before) break;
        EXPECT_EQ(out, "Not enough memory for the new image!\n-- image-to-map : * sec\n") << n;
        for (int i = 0; i < 50 * 50; ++i) ASSERT_TRUE(pixelAt(a, i % 50, i / 50) == kBlend) << n;
    }
    EXPECT_GE(n, 3); // the map, its codes and its cells
    EXPECT_TRUE(pixelAt(a, 0, 0) == (Rgba{128, 128, 128, 255}));
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
    const std::pair<const char *, int> painters[] = {{"painter2 A", 5}, {"painter3 A", 4}};
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

PainterCommand *findPainter(const char *name) {
    for (Command *c = firstCommand(); c; c = c->next)
        if (strcmp(c->name, name) == 0) return dynamic_cast<PainterCommand *>(c);
    return nullptr;
}

// paintStrokes draws in bands of rows and only the used part of each cell;
// the result must be that of the plain loop over whole cells on the whole
// canvas. The brush mixes all four codes, over a part of each cell that
// differs from cell to cell, and has one empty cell.
TEST_F(PainterTest, PaintsLikeThePlainStrokeLoop) {
    Image brush = solidImage(8 * kStrokeSize, 6 * kStrokeSize, kPaper);
    const Rgba codes[3] = {kInk, kBlend, kGreen};
    for (int y = 0; y < brush.height; ++y)
        for (int x = 0; x < brush.width; ++x) {
            const int c = x / 23, r = y / 23, cx = x % 23, cy = y % 23;
            const unsigned hash = (x * 7919u + y * 104729u) * 2654435761u >> 24;
            if (cx >= c && cx < 16 + c && cy >= r && cy < 18 + r && !(c == 3 && r == 5) && hash % 4)
                setPixel(brush, x, y, codes[hash % 3]);
        }
    useBrush(brush);
    const StrokeMap &map = *strokeMap();
    const StrokeOffset *offsets = nullptr;
    captureOutput([&] { offsets = buildOffsetTable(); });

    const int w = 300, h = 170;
    Image source = solidImage(w, h, kInk);
    for (int i = 0; i < w * h * 4; ++i) source.pixels[i] = (uint8_t)(i * 2654435761u >> 13);
    for (const char *name : {"painter", "painter2", "painter3"}) {
        PainterCommand *painter = findPainter(name);
        std::vector<uint32_t> plain(4 * w * h, 0xFFFFFFFFu), painted = plain;
        int column = 0, row = 0;
        for (int e = 0; e < kOffsetCount; ++e)
            for (int j = h / 64; j >= 0; --j)
                for (int i = w / 128; i >= 0; --i) {
                    const int x = offsets[e].x % w + 128 * i, y = offsets[e].y % h + 64 * j;
                    if (x >= w || y >= h) continue;
                    const uint8_t *p = source.pixels + (y * w + x) * 4;
                    painter->pickStroke(x, y, column, row);
                    stampStroke(plain.data(), 2 * w, 2 * h, 2 * x - 11, 2 * y - 11, map.codes.data(), map.width,
                                23 * column, 23 * row, 23, 23, p[0], p[1], p[2]);
                }
        paintStrokes(source, map, offsets, *painter, painted.data());
        EXPECT_TRUE(painted == plain) << name;
    }
    source.release();
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
