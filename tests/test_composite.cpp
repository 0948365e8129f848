// Compositing: operator words, weights, offsets.
#include <climits>
#include <cmath>

#include "ops/composite.h"
#include "test_support.h"

TEST(CompositeOp, KeywordsArePrefixesIgnoringCase) {
    const std::vector<std::pair<const char *, int>> words = {
        {"clear", 0}, {"FIRST", 1}, {"second", 2}, {"Over", 3},     {"under", 4}, {"in", 5},
        {"heldin", 6}, {"out", 7},  {"heldout", 8}, {"atop", 9},    {"below", 10}, {"xor", 11},
        {"plus", 12}, {"overlay", 3}, {"inside", 5}, {"outer", 7}, {"plusses", 12}, {"ov", -1},
        {"", -1},     {"held", -1},  {"x", -1},     {"clea", -1}};
    for (auto &[word, op] : words) EXPECT_EQ(parseCompositeOp(word), op) << word;
}

namespace {
// Composites one pixel onto one pixel.
Bytes compositePixel(const Bytes &a, const Bytes &b, int op) {
    TestImage first(1, 1, a), second(1, 1, b);
    compositeImages(first, second, op, 0, 0);
    return second.bytes();
}
} // namespace

TEST(CompositeImages, EveryOperatorWeighsBothPixels) {
    // Premultiplied A and B; weights spelled out by name, rounding by hand.
    const Bytes a = {60, 40, 20, 100}, b = {30, 90, 150, 200};
    const int aA = 100, aB = 200;
    const struct {
        int op, fa, fb;
    } weights[] = {{kClear, 0, 0},          {kFirst, 255, 0},          {kSecond, 0, 255},
                   {kOver, 255, 255 - aA},  {kUnder, 255 - aB, 255},   {kIn, aB, 0},
                   {kHeldIn, 0, 255 - aA},  {kOut, 0, aA},             {kHeldOut, 255 - aB, 0},
                   {kAtop, aB, 255 - aA},   {kBelow, 255 - aB, aA},    {kXor, 255 - aB, 255 - aA},
                   {kPlus, 255, 255}};
    for (auto &w : weights) {
        Bytes expected(4);
        for (int k = 0; k < 4; ++k) {
            long sum = std::lround(a[k] * w.fa / 255.0) + std::lround(b[k] * w.fb / 255.0);
            expected[k] = (uint8_t)std::min(sum, 255L);
        }
        EXPECT_EQ(compositePixel(a, b, w.op), expected) << "operator " << w.op;
    }
}

TEST(CompositeImages, WorkedExamples) {
    EXPECT_EQ(compositePixel({128, 128, 128, 128}, {0, 0, 0, 255}, kOver), (Bytes{128, 128, 128, 255}));
    EXPECT_EQ(compositePixel({255, 255, 255, 255}, {255, 255, 255, 255}, kPlus), (Bytes{255, 255, 255, 255}));
    EXPECT_EQ(compositePixel({1, 2, 3, 4}, {9, 9, 9, 9}, kClear), (Bytes{0, 0, 0, 0}));
}

TEST(CompositeImages, ColourAboveItsAlphaSaturates) {
    // 200 + round(250 x 155 / 255) = 352: kept at 255, not wrapped to 96.
    EXPECT_EQ(compositePixel({200, 0, 0, 100}, {250, 0, 0, 255}, kOver), (Bytes{255, 0, 0, 255}));
    EXPECT_EQ(compositePixel({250, 0, 0, 255}, {200, 0, 0, 100}, kUnder), (Bytes{255, 0, 0, 255}));
}

namespace {
// B is 3 x 3 of value 1, A 2 x 2 of value 200; "first" shows what A covers.
Bytes afterFirstAt(int x, int y) {
    TestImage a(2, 2, Bytes(16, 200)), b(3, 3, Bytes(36, 1));
    compositeImages(a, b, kFirst, x, y);
    Bytes covered;
    for (int i = 0; i < 9; ++i) covered.push_back(b.pixels[4 * i] == 200);
    return covered;
}
} // namespace

TEST(CompositeImages, OnlyTheOverlapChanges) {
    EXPECT_EQ(afterFirstAt(1, 1), (Bytes{0, 0, 0, 0, 1, 1, 0, 1, 1}));
    EXPECT_EQ(afterFirstAt(-1, -1), (Bytes{1, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(afterFirstAt(2, -1), (Bytes{0, 0, 1, 0, 0, 0, 0, 0, 0}));
    for (auto [x, y] : {std::pair{3, 0}, {-2, 0}, {0, 3}, {INT_MAX, INT_MAX}, {INT_MIN, 0}, {0, INT_MIN}})
        EXPECT_EQ(afterFirstAt(x, y), Bytes(9, 0)) << x << ", " << y;
}

TEST(CompositeImages, OntoItselfReadsRewrittenPixels) {
    // Row 10, 20, 30 plus itself one column right: the third pixel adds the
    // second's new value 30, not its old 20.
    TestImage row(3, 1, {10, 10, 10, 10, 20, 20, 20, 20, 30, 30, 30, 30});
    compositeImages(row, row, kPlus, 1, 0);
    EXPECT_EQ(row.bytes(), (Bytes{10, 10, 10, 10, 30, 30, 30, 30, 60, 60, 60, 60}));
}

TEST(CompositeImages, ImagesWithoutPixelsChangeNothing) {
    Image none;
    TestImage b(1, 1, {1, 2, 3, 4});
    compositeImages(none, b, kClear, 0, 0);
    EXPECT_EQ(b.bytes(), (Bytes{1, 2, 3, 4}));
    compositeImages(b, none, kFirst, 0, 0);
    EXPECT_TRUE(none.empty());
}
