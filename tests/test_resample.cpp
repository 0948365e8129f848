#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>

#include "ops/resample.h"
#include "canvas_sampling.h"
#include "test_support.h"

namespace {

void expectColumnsAndRows(const TestImage &image, std::vector<int> columns, std::vector<int> rows) {
    ASSERT_EQ(image.width, (int)columns.size());
    ASSERT_EQ(image.height, (int)rows.size());
    for (size_t r = 0; r < rows.size(); ++r)
        for (size_t c = 0; c < columns.size(); ++c)
            EXPECT_EQ(image.at(c, r), tagged(columns[c], rows[r])) << c << "," << r;
}

} // namespace

TEST(BlendBilinear, InterpolatesWithTheRoundingOfItsWeights) {
    const unsigned char flat[4] = {100, 100, 100, 100}, dark[4] = {100, 0, 0, 0}, light[4] = {200, 0, 0, 0};
    unsigned char out[4];
    blendBilinear(flat, flat, flat, flat, bilinearWeights(0.01, 0.01), out);
    EXPECT_EQ(out[0], 99); // rounded weights leave a flat area one below
    blendBilinear(flat, flat, flat, flat, bilinearWeights(0, 0), out);
    EXPECT_EQ(out[0], 100);
    blendBilinear(dark, light, dark, light, bilinearWeights(0.5, 0.75), out);
    EXPECT_EQ(out[0], 150);
}

TEST(Trim, RemovesBlackEdgesOnlyWhateverTheirAlpha) {
    // Black border rows and columns (some with alpha), a black row and column inside.
    TestImage image(6, 6, [](int c, int r) {
        if (r == 0 || r == 5 || c == 0 || c == 1 || c == 5) return Pixel{0, 0, 0, (unsigned char)(40 * r)};
        if (r == 3 || c == 3) return opaque(0, 0, 0);
        return tagged(c, r);
    });
    trimBlackRows(image);
    EXPECT_EQ(image.height, 4);
    trimBlackColumns(image);
    ASSERT_EQ(image.width, 3);
    EXPECT_EQ(image.at(0, 0), tagged(2, 1));
    EXPECT_EQ(image.at(1, 0), opaque(0, 0, 0));
    EXPECT_EQ(image.at(2, 3), tagged(4, 4));
    EXPECT_EQ(image.at(2, 2), opaque(0, 0, 0));

    TestImage black(4, 3, [](int c, int) { return Pixel{0, 0, 0, (unsigned char)c}; });
    trimBlackRows(black);
    trimBlackColumns(black);
    EXPECT_EQ(black.width, 0);
    EXPECT_EQ(black.height, 0);
    EXPECT_EQ(black.pixels, nullptr);
}

TEST(ScaleImage, UnitFactorsOnlyTrimTheEdges) {
    TestImage image(4, 3, [](int c, int r) { return r == 2 ? opaque(0, 0, 0) : c == 1 ? Pixel{} : tagged(c, r); });
    TestImage expected(4, 2, [](int c, int r) { return c == 1 ? Pixel{} : tagged(c, r); });
    ASSERT_EQ(scaleImage(image, 1, 1), Resized::Done);
    ASSERT_EQ(image.height, 2);
    EXPECT_EQ(memcmp(image.pixels, expected.pixels, 4 * 2 * 4), 0);
}

TEST(ScaleImage, HalfKeepsEverySecondColumnAndRowOfTheCentresParity) {
    TestImage even(6, 4, tagged);
    ASSERT_EQ(scaleImage(even, 0.5, 0.5), Resized::Done);
    expectColumnsAndRows(even, {1, 3, 5}, {0, 2});
    TestImage four(4, 1, tagged);
    ASSERT_EQ(scaleImage(four, 0.5, 0.5), Resized::Done);
    expectColumnsAndRows(four, {0, 2}, {0});
    TestImage odd(5, 3, tagged);
    ASSERT_EQ(scaleImage(odd, 0.5, 0.5), Resized::Done);
    expectColumnsAndRows(odd, {0, 2, 4}, {1});
}

TEST(ScaleImage, DoubleBlendsBetweenColumnsAndWithTheBlackCanvasAtOneEdge) {
    TestImage image(2, 1, [](int c, int) { return opaque(c ? 200 : 100, 0, c ? 200 : 100); });
    ASSERT_EQ(scaleImage(image, 2, 2), Resized::Done);
    ASSERT_EQ(image.width, 4);
    ASSERT_EQ(image.height, 2);
    const int expected[2][4] = {{50, 75, 100, 50}, {100, 150, 200, 100}};
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 4; ++c)
            EXPECT_EQ(image.at(c, r), opaque(expected[r][c], 0, expected[r][c])) << c << "," << r;
}

TEST(ScaleImage, NegativeFactorsMirrorAndZeroLeavesNothing) {
    TestImage five(5, 2, tagged);
    ASSERT_EQ(scaleImage(five, -1, 1), Resized::Done);
    expectColumnsAndRows(five, {4, 3, 2, 1, 0}, {0, 1});
    TestImage four(4, 2, tagged);
    ASSERT_EQ(scaleImage(four, -1, 1), Resized::Done);
    expectColumnsAndRows(four, {3, 2, 1}, {0, 1});
    TestImage zero(4, 2, tagged);
    ASSERT_EQ(scaleImage(zero, 0, 1), Resized::Done);
    EXPECT_EQ(zero.width, 0);
    EXPECT_EQ(zero.pixels, nullptr);
}

TEST(ScaleImage, EnlargesAndReducesInOneCall) {
    TestImage image(4, 4, tagged);
    ASSERT_EQ(scaleImage(image, 2, 0.5), Resized::Done);
    EXPECT_EQ(image.width, 8);
    EXPECT_EQ(image.height, 2);
}

TEST(ScaleImage, RefusesResultsBeyondAThirtyTwoBitSizeAndKeepsTheImage) {
    for (auto [sx, sy] : {std::pair{1e10, 1.0}, {1.0, 3e9}, {20000.0, 20000.0}}) {
        TestImage image(3, 3, tagged);
        unsigned char *before = image.pixels;
        EXPECT_EQ(scaleImage(image, sx, sy), Resized::TooLarge);
        EXPECT_EQ(image.pixels, before);
        EXPECT_EQ(image.width, 3);
        EXPECT_EQ(image.at(2, 2), tagged(2, 2));
    }
}

TEST(Scale, MatchesPlainSamplingOfTheWholeCanvasOnNoise) {
    // Factors whose sample positions fall on sixteenths (the integer path),
    // others (the double path), mirrors and shrinks that leave black
    // margins (0.35 samples between the last column and the edge), on noise
    // with black rows and columns inside and at the edges.
    srand(9);
    const double factors[][2] = {{2, 2},   {0.5, 0.5}, {1, 1},     {-1, 1},   {4, 0.25}, {16, 2},
                                 {-2, -0.5}, {1, 4},     {8, -4},    {1.7, 1.3}, {1.5, 0.75}, {0.3, -3}, {0, 1}, {2, 0}, {0.35, 1}};
    // The wide picture reaches the loops that handle many pixels per step
    // or per chunk of a row, and halving in the image's own buffer over
    // many rows.
    for (auto [w, h] : {std::pair{1, 1}, {5, 4}, {12, 7}, {301, 9}})
        for (auto [sx, sy] : factors) {
            TestImage image(w, h, [](int c, int r) {
                if (c == 2 || r == 0) return Pixel{0, 0, 0, (unsigned char)(rand() % 256)};
                return Pixel{(unsigned char)rand(), (unsigned char)rand(), (unsigned char)rand(), (unsigned char)rand()};
            });
            const int nw = sx > 1 ? (int)(w * sx) : w, nh = sy > 1 ? (int)(h * sy) : h;
            const int cx = nw / 2, cy = nh / 2;
            static const unsigned char opaqueBlack[4] = {0, 0, 0, 255};
            TestImage expected(w, h, image.bytes());
            sampleWholeCanvas(expected, nw, nh, nw, nh, opaqueBlack, [&](int j, int i) {
                return std::pair{j / sx - (cx / sx - cx), i / sy - (cy / sy - cy)};
            });

            ASSERT_EQ(scaleImage(image, sx, sy), Resized::Done);
            ASSERT_EQ(image.width, expected.width) << w << "x" << h << " by " << sx << ", " << sy;
            ASSERT_EQ(image.height, expected.height) << w << "x" << h << " by " << sx << ", " << sy;
            EXPECT_EQ(image.bytes(), expected.bytes()) << w << "x" << h << " by " << sx << ", " << sy;
        }
}
