// copy, crop and solid.
#include <climits>

#include "ops/crop.h"
#include "test_support.h"

namespace {
// 3 x 2 image whose pixel (c, r) is (10c + r, r, c, 255).
Bytes grid() {
    Bytes b;
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 3; ++c) b.insert(b.end(), {(uint8_t)(10 * c + r), (uint8_t)r, (uint8_t)c, 255});
    return b;
}
} // namespace

TEST(Crop, WholeImageAndBottomRightCorner) {
    TestImage whole(3, 2, grid());
    EXPECT_EQ(cropImage(whole, 0, 0, 3, 2), CropResult::Done);
    EXPECT_EQ(whole.bytes(), grid());

    TestImage corner(3, 2, grid());
    EXPECT_EQ(cropImage(corner, 2, 1, 1, 1), CropResult::Done);
    EXPECT_EQ(corner.width, 1);
    EXPECT_EQ(corner.bytes(), (Bytes{21, 1, 2, 255}));
}

TEST(Crop, OverhangIsTransparentBlack) {
    TestImage image(3, 2, grid());
    EXPECT_EQ(cropImage(image, 1, 1, 3, 2), CropResult::Done);
    EXPECT_EQ(image.width, 3);
    EXPECT_EQ(image.height, 2);
    EXPECT_EQ(image.bytes(), (Bytes{11, 1, 1, 255, 21, 1, 2, 255, 0, 0, 0, 0, //
                                    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(Crop, NegativeSizesCountFromTheOtherSide) {
    // The rubber band dragged up and left from (2, 1) covers (1, 0) to (2, 1).
    TestImage image(3, 2, grid());
    EXPECT_EQ(cropImage(image, 3, 2, -2, -2), CropResult::Done);
    EXPECT_EQ(image.width, 2);
    EXPECT_EQ(image.bytes(), (Bytes{10, 0, 1, 255, 20, 0, 2, 255, 11, 1, 1, 255, 21, 1, 2, 255}));
}

TEST(Crop, StartOutsideLeavesTheImage) {
    TestImage image(3, 2, grid());
    const unsigned char *before = image.pixels;
    for (auto r : {std::vector<int>{3, 0, 1, 1}, {0, -1, 1, 1}, {0, 2, 1, 1}, {1, 0, -2, 1}, {INT_MIN, 0, INT_MIN, 1}}) {
        EXPECT_EQ(cropImage(image, r[0], r[1], r[2], r[3]), CropResult::StartOutside);
        EXPECT_EQ(image.pixels, before);
        EXPECT_EQ(image.width, 3);
    }
}

TEST(Crop, ZeroAreaLeavesNoPixels) {
    TestImage image(3, 2, grid());
    EXPECT_EQ(cropImage(image, 1, 1, 0, 5), CropResult::Done);
    EXPECT_EQ(image.width, 0);
    EXPECT_EQ(image.height, 5);
    EXPECT_TRUE(image.empty());
}

TEST(Copy, OwnsItsPixelsAndCopiesOntoItself) {
    TestImage source(3, 2, grid());
    TestImage target(6, 1, Bytes(24, 7)); // as many pixels, in another shape
    ASSERT_TRUE(copyImage(source, target));
    EXPECT_NE(target.pixels, source.pixels);
    EXPECT_EQ(target.width, 3);
    EXPECT_EQ(target.height, 2);
    source.pixels[0] = 99;
    EXPECT_EQ(target.bytes(), grid());
    ASSERT_TRUE(copyImage(target, target));
    EXPECT_EQ(target.bytes(), grid());
}

TEST(Solid, PremultipliesTheColour) {
    TestImage image(1, 1, {0, 0, 0, 0});
    ASSERT_TRUE(fillSolid(image, 10, 10, 255, 0, 0, 128));
    EXPECT_EQ(image.width, 10);
    EXPECT_EQ(image.height, 10);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(Bytes(image.pixels + 4 * i, image.pixels + 4 * i + 4), (Bytes{128, 0, 0, 128}));

    ASSERT_TRUE(fillSolid(image, 1, 1, 200, 255, 7, 100)); // 78.4, 100, 2.7
    EXPECT_EQ(image.bytes(), (Bytes{78, 100, 3, 100}));
    ASSERT_TRUE(fillSolid(image, 1, 1, 200, 255, 7, 0));
    EXPECT_EQ(image.bytes(), (Bytes{0, 0, 0, 0}));
    ASSERT_TRUE(fillSolid(image, 0, 3, 1, 2, 3, 4));
    EXPECT_TRUE(image.empty());
}
