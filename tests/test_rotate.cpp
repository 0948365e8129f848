#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "image/vector_path.h"
#include "ops/rotate.h"
#include "canvas_sampling.h"
#include "test_support.h"

namespace {

// The smallest and largest red value among the (nearly) opaque pixels.
std::pair<int, int> redRange(const TestImage &image) {
    int low = 255, high = 0;
    for (int r = 0; r < image.height; ++r)
        for (int c = 0; c < image.width; ++c)
            if (image.at(c, r)[3] >= 254) {
                low = std::min(low, (int)image.at(c, r)[0]);
                high = std::max(high, (int)image.at(c, r)[0]);
            }
    return {low, high};
}

// The turn done plainly, on the whole canvas.
void turnOnCanvas(Image &image, double degrees) {
    int nw, nh;
    ASSERT_TRUE(rotatedSize(image.width, image.height, degrees, nw, nh));
    const int cw = std::max(nw, image.width), ch = std::max(nh, image.height), cx = nw / 2, cy = nh / 2;
    const double c = std::cos(degrees * 0.01745329251994), s = std::sin(degrees * 0.01745329251994);
    static const unsigned char transparent[4] = {};
    sampleWholeCanvas(image, nw, nh, cw, ch, transparent, [&](int j, int i) {
        return std::pair{(((j * c - i * s) + cy * s) + cx * (1 - c)) + (cw / 2 - cx),
                         (((j * s + i * c) - cx * s) + cy * (1 - c)) + (ch / 2 - cy)};
    });
}

} // namespace

TEST(RotatedSize, AddsTheDiagonalAngleAsIfInDegrees) {
    int w = 0, h = 0;
    ASSERT_TRUE(rotatedSize(100, 50, 0, w, h));
    EXPECT_EQ(w, 100);
    EXPECT_EQ(h, 50);
    ASSERT_TRUE(rotatedSize(100, 50, 30, w, h));
    EXPECT_EQ(w, 111);
    EXPECT_EQ(h, 93);
    ASSERT_TRUE(rotatedSize(100, 50, 90, w, h));
    EXPECT_EQ(w, 50);
    EXPECT_EQ(h, 100);
}

TEST(RotateImage, ZeroDegreesKeepsThePictureWithItsInnerBlackRow) {
    TestImage image(100, 50, [](int c, int r) { return r == 20 ? opaque(0, 0, 0) : tagged(c, r); });
    TestImage original(100, 50, [&](int c, int r) { return image.at(c, r); });
    ASSERT_EQ(rotateImage(image, 0), Resized::Done);
    ASSERT_EQ(image.width, 100);
    ASSERT_EQ(image.height, 50);
    EXPECT_EQ(memcmp(image.pixels, original.pixels, 100 * 50 * 4), 0);
}

TEST(RotateImage, AQuarterTurnKeepsTheWholePicture) {
    // The 50 x 100 canvas alone would keep only source columns 25 to 74.
    TestImage wide(100, 50, tagged);
    ASSERT_EQ(rotateImage(wide, 90), Resized::Done);
    EXPECT_EQ(wide.width, 50);
    EXPECT_GE(wide.height, 99);
    auto [low, high] = redRange(wide);
    EXPECT_LE(low, 2);
    EXPECT_GE(high, 99);
    // And a 4 x 2 image would keep only columns 1 and 2.
    TestImage small(4, 2, tagged);
    ASSERT_EQ(rotateImage(small, 90), Resized::Done);
    EXPECT_EQ(small.width, 2);
    EXPECT_EQ(small.height, 4);
    EXPECT_EQ(redRange(small), std::make_pair(1, 4));
}

TEST(RotateImage, FortyFiveDegreesLeavesTransparentCornersInsideTheTrim) {
    TestImage image(20, 20, tagged);
    ASSERT_EQ(rotateImage(image, 45), Resized::Done);
    EXPECT_GE(image.width, 26);
    EXPECT_GE(image.height, 26);
    EXPECT_EQ(image.at(0, 0), Pixel{});
    EXPECT_EQ(image.at(image.width - 1, image.height - 1), Pixel{});
    EXPECT_EQ(image.at(image.width / 2, image.height / 2)[3], 255);
}

TEST(RotateImage, RefusesACanvasBeyondAThirtyTwoBitSize) {
    // The canvas is sized before the pixels are read, so a small buffer
    // stands in for a 40000 x 40000 picture.
    TestImage image(1, 1, tagged);
    image.width = image.height = 40000;
    unsigned char *before = image.pixels;
    EXPECT_EQ(rotateImage(image, 45), Resized::TooLarge);
    EXPECT_EQ(image.pixels, before);
    EXPECT_EQ(image.width, 40000);
}

// The turn skips the columns that miss the image and reads the image alone:
// its edges, where neighbours fall on the border or on the canvas's last
// column, must come out as sampling the canvas gives them. Inside, whole
// vectors of samples at a time, on every vector path; a span of any length
// ends in a partial vector.
TEST(RotateImage, GivesTheBytesOfSamplingTheWholeCanvas) {
    srand(5);
    for (auto [w, h] : {std::pair{1, 1}, {2, 7}, {9, 2}, {23, 16}, {40, 41}, {97, 61}})
        for (double degrees : {0.0, 1e-9, 30.0, 45.0, 89.99, 90.0, 180.0, -17.0, 1000.5, -135.0, 3.0})
            for (VectorPath path : kVectorPaths) {
                setVectorPath(path);
                TestImage turned(w, h,
                                 [](int, int) { return Pixel{(unsigned char)rand(), (unsigned char)rand(), 9, 99}; });
                TestImage expected(w, h, [&](int c, int r) { return turned.at(c, r); });
                ASSERT_EQ(rotateImage(turned, degrees), Resized::Done);
                turnOnCanvas(expected, degrees);
                const auto where = [&] {
                    return testing::Message() << w << " x " << h << " by " << degrees << ", path " << (int)path;
                };
                ASSERT_EQ(turned.width, expected.width) << where();
                ASSERT_EQ(turned.height, expected.height) << where();
                EXPECT_EQ(turned.bytes(), expected.bytes()) << where();
            }
    setVectorPath(VectorPath::Avx512);
}
