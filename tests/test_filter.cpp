#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "image/vector_path.h"
#include "ops/filter.h"
#include "test_support.h"

namespace {

const Kernel kAllKernels[] = {Kernel::Edge, Kernel::Box, Kernel::Sharpen, Kernel::Blur5, Kernel::Blur7};

// The kernels written out once more, for a plain per-tap reference.
std::vector<int> weightsOf(Kernel kernel) {
    switch (kernel) {
    case Kernel::Edge: return {-1, -1, -1, -1, 8, -1, -1, -1, -1};
    case Kernel::Box: return std::vector<int>(9, 1);
    case Kernel::Sharpen: return {-1, -1, -1, -1, 25, -1, -1, -1, -1};
    case Kernel::Blur5: return {1, 1, 2, 1, 1, 1, 2, 4, 2, 1, 2, 4, 8, 4, 2, 1, 2, 4, 2, 1, 1, 1, 2, 1, 1};
    case Kernel::Blur7:
        return {1,  4,  8,  10, 8,  4,  1,  4,  12, 25, 29, 25, 12, 4,  8,  25, 49,
                58, 49, 25, 8,  10, 29, 58, 67, 58, 29, 10, 8,  25, 49, 58, 49, 25,
                8,  4,  12, 25, 29, 25, 12, 4,  1,  4,  8,  10, 8,  4,  1};
    }
    return {};
}

int referenceChannel(const TestImage &image, Kernel kernel, int c, int r, int ch) {
    const std::vector<int> w = weightsOf(kernel);
    const int n = kernel == Kernel::Blur5 ? 5 : kernel == Kernel::Blur7 ? 7 : 3, h = n / 2;
    int sum = 0, divisor = 0;
    for (int dy = -h; dy <= h; ++dy)
        for (int dx = -h; dx <= h; ++dx) {
            if (c + dx < 0 || c + dx >= image.width || r + dy < 0 || r + dy >= image.height) continue;
            divisor += w[(dy + h) * n + dx + h];
            sum += w[(dy + h) * n + dx + h] * image.at(c + dx, r + dy)[ch];
        }
    const int v = sum / (divisor ? divisor : 1);
    return v < 0 ? 0 : v > 255 ? 255 : v;
}

int filtered(Kernel kernel, int w, int h, std::function<int(int, int)> grey, int c, int r) {
    TestImage image(w, h, grey);
    EXPECT_TRUE(convolveImage(image, kernel));
    return image.grey(c, r);
}

} // namespace

// On every vector path the processor has. Rows of 263 and 300 pixels end
// their interior in a chunk of column sums shorter than a block (for each
// kernel size) and in a longer one.
TEST(Convolution, MatchesPlainPerTapSumsOnNoiseAtEverySize) {
    srand(7);
    for (VectorPath path : kVectorPaths) {
        if (!vectorPathSupported(path)) continue;
        setVectorPath(path);
        for (Kernel kernel : kAllKernels)
            for (int w : {1, 2, 3, 6, 9, 17, 45, 263, 300}) // narrow, clipped, blocked and chunked rows
                for (int h : {1, 4, 8}) {
                    TestImage source(w, h, [](int, int) {
                        return Pixel{(unsigned char)rand(), (unsigned char)rand(), (unsigned char)rand(),
                                     (unsigned char)rand()};
                    });
                    TestImage result(w, h, [&](int c, int r) { return source.at(c, r); });
                    ASSERT_TRUE(convolveImage(result, kernel));
                    for (int r = 0; r < h; ++r)
                        for (int c = 0; c < w; ++c)
                            for (int ch = 0; ch < 4; ++ch)
                                ASSERT_EQ(result.at(c, r)[ch], referenceChannel(source, kernel, c, r, ch))
                                    << "kernel " << (int)kernel << ", " << w << "x" << h << " at " << c << "," << r
                                    << ", path " << (int)path;
                }
    }
    setVectorPath(VectorPath::Avx512);
}

TEST(Convolution, FlatImagesStayFlatUpToTheBorder) {
    for (Kernel kernel : {Kernel::Box, Kernel::Sharpen, Kernel::Blur5, Kernel::Blur7}) {
        TestImage image(9, 8, [](int, int) { return 137; });
        ASSERT_TRUE(convolveImage(image, kernel));
        for (int r = 0; r < 8; ++r)
            for (int c = 0; c < 9; ++c) EXPECT_EQ(image.at(c, r), grey4(137));
    }
}

TEST(Convolution, EdgeDetectionEmptiesFlatInteriorsAndKeepsTheBorder) {
    TestImage image(6, 5, [](int, int) { return 90; });
    ASSERT_TRUE(convolveImage(image, Kernel::Edge));
    for (int r = 0; r < 5; ++r)
        for (int c = 0; c < 6; ++c) {
            const bool border = r == 0 || c == 0 || r == 4 || c == 5;
            EXPECT_EQ(image.at(c, r), grey4(border ? 90 : 0)) << c << "," << r;
        }
}

TEST(Convolution, SignedSumsSaturateInsteadOfWrapping) {
    auto spot = [](int c, int r) { return c == 2 && r == 2 ? 255 : 0; };
    // Edge: 8 x 255 at the spot; a lone bright neighbour gives -255.
    EXPECT_EQ(filtered(Kernel::Edge, 5, 5, spot, 2, 2), 255);
    EXPECT_EQ(filtered(Kernel::Edge, 5, 5, spot, 1, 1), 0);
    // Sharpen: 25 x 255 / 17 = 375 at the spot, -255 / 17 beside it.
    EXPECT_EQ(filtered(Kernel::Sharpen, 5, 5, spot, 2, 2), 255);
    EXPECT_EQ(filtered(Kernel::Sharpen, 5, 5, spot, 2, 1), 0);
    // Within range the quotient is truncated: (2500 - 400) / 17 = 123.5.
    auto peak = [](int c, int r) { return c == 1 && r == 1 ? 100 : 50; };
    EXPECT_EQ(filtered(Kernel::Sharpen, 3, 3, peak, 1, 1), 123);
    // A corner divides by the weights inside only: (2500 - 30) / 22.
    auto corner = [](int c, int r) { return c == 0 && r == 0 ? 100 : 10; };
    EXPECT_EQ(filtered(Kernel::Sharpen, 3, 3, corner, 0, 0), 112);
}

TEST(UnsharpMask, SubtractsPartOfTheBoxBlurAndSaturates) {
    // Centre value and the eight neighbours giving the box average.
    struct Case {
        int centre;
        std::vector<int> ring;
        int expected;
    } cases[] = {
        {255, {193, 193, 193, 193, 193, 193, 193, 194}, 255}, // average 200: 272
        {0, {56, 56, 56, 56, 56, 56, 56, 58}, 0},             // average 50: -15
        {200, {87, 87, 87, 87, 88, 88, 88, 88}, 231},         // average 100
    };
    for (const Case &t : cases) {
        int next = 0;
        TestImage image(3, 3, [&](int c, int r) { return c == 1 && r == 1 ? t.centre : t.ring[next++]; });
        ASSERT_TRUE(unsharpMaskImage(image));
        EXPECT_EQ(image.at(1, 1), grey4(t.expected)) << t.centre;
    }
    // The two factors differ by slightly less than 1.
    for (auto [flat, expected] : {std::pair{7, 6}, {8, 8}, {100, 100}}) {
        TestImage image(4, 3, [&](int, int) { return flat; });
        ASSERT_TRUE(unsharpMaskImage(image));
        EXPECT_EQ(image.at(0, 0), grey4(expected));
        EXPECT_EQ(image.at(2, 1), grey4(expected));
    }
}

// Taller than the bands of rows that are blurred before the table pass, on
// noise and on flat runs, where the blurred byte is the original one.
TEST(UnsharpMask, MatchesTheBoxBlurThroughTheFormulaOnEveryRow) {
    srand(8);
    for (auto [w, h] : {std::pair{45, 21}, {300, 10}}) {
        TestImage source(w, h, [](int c, int r) {
            const int block = c / 7 + r / 5; // blocks of 7 x 5 pixels, noisy and flat by turns
            return block % 2 ? grey4(block * 37 % 256)
                             : Pixel{(unsigned char)rand(), (unsigned char)rand(), (unsigned char)rand(),
                                     (unsigned char)rand()};
        });
        TestImage result(w, h, [&](int c, int r) { return source.at(c, r); });
        ASSERT_TRUE(unsharpMaskImage(result));
        for (int r = 0; r < h; ++r)
            for (int c = 0; c < w; ++c)
                for (int ch = 0; ch < 4; ++ch) {
                    const int o = source.at(c, r)[ch], b = referenceChannel(source, Kernel::Box, c, r, ch);
                    const int v = (int)(o * 1.3196721311475408 - b * 0.31967213114754084);
                    ASSERT_EQ(result.at(c, r)[ch], v < 0 ? 0 : v > 255 ? 255 : v)
                        << w << "x" << h << " at " << c << "," << r;
                }
    }
}
