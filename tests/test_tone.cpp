// darken, dissolve and difference.
#include <cmath>

#include "ops/tone.h"
#include "test_support.h"

namespace {
Bytes darkened(const Bytes &pixels, float factor) {
    TestImage image((int)pixels.size() / 4, 1, pixels);
    darkenImage(image, factor);
    return image.bytes();
}
Bytes dissolved(const Bytes &pixel, float factor) {
    TestImage image(1, 1, pixel);
    dissolveImage(image, factor);
    return image.bytes();
}
} // namespace

TEST(Darken, ScalesEveryChannelInSinglePrecision) {
    EXPECT_EQ(darkened({200, 100, 51, 255}, 0.5f), (Bytes{100, 50, 25, 127}));
    EXPECT_EQ(darkened({200, 100, 50, 200}, 1.5f), (Bytes{255, 150, 75, 255}));
    EXPECT_EQ(darkened({200, 100, 255, 255}, 0.7f), (Bytes{139, 69, 178, 178})); // 0.699999988
    EXPECT_EQ(darkened({200, 100, 51, 255}, 0.0f), (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(darkened({19, 19, 19, 131}, 1.0f), (Bytes{19, 19, 19, 131}));
    EXPECT_EQ(darkened({200, 100, 51, 255}, -0.5f), (Bytes{0, 0, 0, 0}));
}

TEST(Darken, EveryByteAtManyFactorsIsTheFlooredProduct) {
    Bytes all(256);
    for (int c = 0; c < 256; ++c) all[c] = (uint8_t)c;
    for (float factor = 0.001f; factor < 1.3f; factor *= 1.01f) {
        const Bytes result = darkened(all, factor);
        for (int c = 0; c < 256; ++c)
            ASSERT_EQ(result[c], std::min(255.0, std::floor(c * (double)factor))) << factor << ", byte " << c;
    }
}

TEST(Dissolve, RescalesCoverageAndPremultipliesAgain) {
    EXPECT_EQ(dissolved({200, 100, 50, 255}, 0.5f), (Bytes{100, 50, 25, 127}));
    EXPECT_EQ(dissolved({200, 100, 50, 255}, 0.0f), (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(dissolved({50, 25, 0, 100}, 2.0f), (Bytes{100, 49, 0, 200})); // straight 127, 63, 0
    EXPECT_EQ(dissolved({50, 25, 0, 200}, 2.0f), (Bytes{63, 31, 0, 255}));
    EXPECT_EQ(dissolved({200, 100, 50, 255}, -1.0f), (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(dissolved({0, 0, 0, 0}, 1.0f), (Bytes{0, 0, 0, 0}));
}

TEST(Dissolve, ByOneRoundsTheStraightColourDown) {
    EXPECT_EQ(dissolved({19, 19, 19, 131}, 1.0f), (Bytes{18, 18, 18, 131}));
    EXPECT_EQ(dissolved({35, 35, 35, 35}, 1.0f), (Bytes{35, 35, 35, 35})); // straight 254, back to 35
    EXPECT_EQ(dissolved({7, 99, 201, 255}, 1.0f), (Bytes{7, 99, 201, 255}));
}

TEST(Dissolve, ColourAboveItsAlphaSaturates) {
    // 150 / (100 / 255) = 382: 255, not its low 8 bits 126 (which gave 49).
    EXPECT_EQ(dissolved({150, 0, 0, 100}, 1.0f), (Bytes{100, 0, 0, 100}));
}

namespace {
Bytes matte(const Bytes &first, const Bytes &second, double threshold) {
    TestImage a(1, (int)first.size() / 4, first), b(1, (int)second.size() / 4, second);
    EXPECT_TRUE(differenceMatte(a, b, threshold));
    return a.bytes();
}
} // namespace

TEST(Difference, ThresholdIsStrict) {
    const Bytes first = {100, 50, 20, 255}, second = {103, 50, 20, 255};
    EXPECT_EQ(matte(first, second, 3), (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(matte(first, second, 2.5), (Bytes{103, 50, 20, 255}));
    EXPECT_EQ(matte({1, 2, 3, 255}, {1, 2, 0, 255}, 2.99), (Bytes{1, 2, 0, 255})); // blue alone
    EXPECT_EQ(matte(second, second, 0), (Bytes{0, 0, 0, 0}));
}

TEST(Difference, MatteHoldsTheSecondImagesStraightColour) {
    // Alpha is not compared; the colour is divided by alpha and truncated.
    EXPECT_EQ(matte({0, 0, 0, 0}, {100, 50, 0, 128}, 10), (Bytes{199, 99, 0, 255}));
    // A negative threshold: every pixel differs; transparent ones stay clear.
    EXPECT_EQ(matte({5, 5, 5, 5, 9, 9, 9, 9}, {5, 5, 5, 5, 0, 0, 0, 0}, -1), (Bytes{255, 255, 255, 255, 0, 0, 0, 0}));
    EXPECT_EQ(matte({200, 0, 0, 255}, {0, 0, 0, 0}, 0), (Bytes{0, 0, 0, 0}));
}
