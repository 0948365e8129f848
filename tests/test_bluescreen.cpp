// The blue-screen matte.
#include <climits>
#include <limits>

#include "ops/bluescreen.h"
#include "test_support.h"

namespace {
Bytes matted(const Bytes &pixel, int bk, double mu1, double mu2) {
    TestImage image(1, 1, pixel);
    bluescreenMatte(image, bk, mu1, mu2);
    return image.bytes();
}
} // namespace

TEST(Bluescreen, UnitParameters) {
    EXPECT_EQ(matted({0, 0, 255, 255}, 255, 1, 1), (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(matted({0, 0, 128, 255}, 255, 1, 1), (Bytes{0, 0, 64, 127}));
    EXPECT_EQ(matted({200, 100, 50, 255}, 255, 1, 1), (Bytes{200, 100, 50, 255})); // v = -150
}

TEST(Bluescreen, SliderStartValues) {
    EXPECT_EQ(matted({0, 0, 255, 255}, 255, 2.1, 0.6), (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(matted({100, 150, 200, 255}, 255, 2.1, 0.6), (Bytes{9, 14, 19, 24}));
    // Straight colour (39, 59, 79) first: the old coverage does not survive.
    EXPECT_EQ(matted({20, 30, 40, 128}, 255, 2.1, 0.6), (Bytes{32, 48, 65, 209}));
}

TEST(Bluescreen, BlueCapAndZeroGainKeepPixelsOpaque) {
    EXPECT_EQ(matted({0, 0, 255, 255}, 0, 2.1, 0.6), (Bytes{0, 0, 255, 255}));
    EXPECT_EQ(matted({0, 0, 255, 255}, 100, 1, 1), (Bytes{0, 0, 155, 155})); // blue counts as 100
    EXPECT_EQ(matted({50, 50, 50, 128}, 255, 0, 1), (Bytes{99, 99, 99, 255}));
    EXPECT_EQ(matted({0, 0, 0, 0}, 255, 0, 1), (Bytes{0, 0, 0, 0})); // nothing to show
}

TEST(Bluescreen, MatteTruncatesTowardZeroAndClamps) {
    EXPECT_EQ(matted({0, 0, 3, 255}, 255, 0.5, 1), (Bytes{0, 0, 3, 254}));   // v = 1.5
    EXPECT_EQ(matted({3, 0, 0, 255}, 255, 0.5, 1), (Bytes{3, 0, 0, 255}));   // v = -1.5
    EXPECT_EQ(matted({0, 0, 255, 255}, 255, 0.999, 1), (Bytes{0, 0, 1, 1})); // v = 254.745
    // Far outside the int range, either way, and with no number at all.
    const double huge = 1e300, infinity = std::numeric_limits<double>::infinity();
    EXPECT_EQ(matted({0, 0, 9, 255}, 255, huge, 1), (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(matted({0, 0, 9, 255}, 255, -huge, 1), (Bytes{0, 0, 9, 255}));
    EXPECT_EQ(matted({9, 0, 9, 255}, 255, infinity, 1), (Bytes{9, 0, 9, 255})); // inf x 0
    EXPECT_EQ(matted({0, 0, 9, 255}, INT_MIN, 1, 1), (Bytes{0, 0, 9, 255}));
}
