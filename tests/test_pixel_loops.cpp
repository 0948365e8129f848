// The channel helpers, and the per-pixel operations, whose loops are written
// for vector code or tables and take runs of opaque pixels apart, against
// plain per-pixel formulas on noise: sizes that leave partial runs, opaque
// runs of every length, transparent pixels and colours above their alpha.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <vector>

#include "ops/bluescreen.h"
#include "ops/composite.h"
#include "ops/dither.h"
#include "ops/pixel.h"
#include "ops/tone.h"
#include "test_support.h"

TEST(ChannelHelpers, MulDiv255RoundsTheProductToNearest) {
    for (int c = 0; c < 256; ++c)
        for (int a = 0; a < 256; ++a) ASSERT_EQ(mulDiv255(c, a), (c * a * 2 + 255) / 510) << c << " x " << a;
}

TEST(ChannelHelpers, UnpremultiplyTruncatesAndSaturates) {
    EXPECT_EQ(unpremultiplyChannel(19, 131), 36);   // 36.98
    EXPECT_EQ(unpremultiplyChannel(35, 35), 255);
    EXPECT_EQ(unpremultiplyChannel(0, 1), 0);
    EXPECT_EQ(unpremultiplyChannel(200, 100), 255); // colour above its alpha
}

TEST(ChannelHelpers, FloorToChannelClampsBothEnds) {
    EXPECT_EQ(floorToChannel(139.9999), 139);
    EXPECT_EQ(floorToChannel(-0.5), 0);
    EXPECT_EQ(floorToChannel(255.5), 255);
    EXPECT_EQ(floorToChannel(1e300), 255);
    EXPECT_EQ(floorToChannel(0.0 / 0.0), 0);
}

namespace {

Bytes noise(int w, int h) {
    Bytes b((size_t)w * h * 4);
    for (uint8_t &v : b) v = (uint8_t)rand();
    for (size_t i = 0; i < b.size() / 4;) { // opaque runs between other pixels
        const size_t run = rand() % 50;
        for (size_t k = 0; k < run && i < b.size() / 4; ++k, ++i) b[i * 4 + 3] = 255;
        i += rand() % 4;
    }
    return b;
}

const int kSizes[][2] = {{1, 1}, {15, 1}, {16, 2}, {17, 3}, {61, 7}, {300, 5}};

// Runs `operation` on an image of the bytes and gives back its bytes.
template <class F> Bytes after(int w, int h, const Bytes &pixels, F operation) {
    TestImage image(w, h, pixels);
    operation(image);
    return image.bytes();
}

int plainWeight(int op, int side, int alphaA, int alphaB) {
    switch (op * 2 + side) {
    case 2: case 5: case 6: case 9: case 24: case 25: return 255;
    case 7: case 13: case 19: case 23: return 255 - alphaA;
    case 8: case 16: case 20: case 22: return 255 - alphaB;
    case 10: case 18: return alphaB;
    case 15: case 21: return alphaA;
    }
    return 0;
}

} // namespace

TEST(PixelLoops, CompositeMatchesThePlainFormulaForEveryOperator) {
    srand(1);
    for (auto [w, h] : kSizes)
        for (int op = kClear; op <= kPlus; ++op) {
            const Bytes a = noise(w, h), b = noise(w + 3, h + 1);
            Bytes expected = b;
            for (int r = 0; r < h; ++r)
                for (int c = 0; c < w; ++c) {
                    const uint8_t *pa = &a[((size_t)r * w + c) * 4];
                    uint8_t *pb = &expected[((size_t)(r + 1) * (w + 3) + c + 2) * 4];
                    const int fa = plainWeight(op, 0, pa[3], pb[3]), fb = plainWeight(op, 1, pa[3], pb[3]);
                    for (int k = 0; k < 4; ++k) pb[k] = (uint8_t)std::min(255, mulDiv255(pa[k], fa) + mulDiv255(pb[k], fb));
                }
            TestImage first(w, h, a);
            EXPECT_EQ(after(w + 3, h + 1, b, [&](Image &i) { compositeImages(first, i, op, 2, 1); }), expected)
                << w << " x " << h << " op " << op;
        }
}

TEST(PixelLoops, CompositeOfAnImageOntoItselfReadsRewrittenPixels) {
    srand(2);
    const int w = 40, h = 3;
    const Bytes start = noise(w, h);
    Bytes expected = start;
    for (int r = 0; r < h; ++r)
        for (int c = 1; c < w; ++c) {
            const uint8_t *pa = &expected[((size_t)r * w + c - 1) * 4];
            uint8_t *pb = &expected[((size_t)r * w + c) * 4];
            const int fb = 255 - pa[3];
            for (int k = 0; k < 4; ++k) pb[k] = (uint8_t)std::min(255, pa[k] + mulDiv255(pb[k], fb));
        }
    EXPECT_EQ(after(w, h, start, [](Image &i) { compositeImages(i, i, kOver, 1, 0); }), expected);
}

TEST(PixelLoops, DarkenAndDissolveMatchThePlainFormulas) {
    srand(3);
    for (float f : {0.7f, 0.5f, 1.0f, 1.5f, 2.0f, 0.0f, -0.5f, 0.013f})
        for (auto [w, h] : kSizes) {
            const Bytes pixels = noise(w, h);
            Bytes darker = pixels, dissolved = pixels;
            for (uint8_t &v : darker) v = (uint8_t)floorToChannel(v * (double)f);
            for (size_t i = 0; i < dissolved.size(); i += 4) {
                uint8_t *p = &dissolved[i];
                const int alpha = floorToChannel(p[3] * (double)f);
                for (int k = 0; k < 3; ++k)
                    p[k] = p[3] ? (uint8_t)mulDiv255(floorToChannel(p[k] / (p[3] * (1.0 / 255.0))), alpha) : 0;
                p[3] = (uint8_t)alpha;
            }
            EXPECT_EQ(after(w, h, pixels, [&](Image &i) { darkenImage(i, f); }), darker) << f;
            EXPECT_EQ(after(w, h, pixels, [&](Image &i) { dissolveImage(i, f); }), dissolved) << f;
        }
}

TEST(PixelLoops, DifferenceMatchesThePlainFormula) {
    srand(4);
    for (double t : {-1.0, 0.0, 2.5, 8.0, 254.5, 300.0, std::numeric_limits<double>::quiet_NaN()})
        for (auto [w, h] : kSizes) {
            const Bytes first = noise(w, h);
            Bytes second = noise(w, h);
            for (size_t i = 0; i < second.size(); ++i) // many channels close to the first image's
                if (rand() % 2) second[i] = (uint8_t)std::clamp(first[i] + rand() % 19 - 9, 0, 255);
            Bytes expected(first.size(), 0);
            for (size_t i = 0; i < first.size(); i += 4) {
                bool differs = false;
                for (int k = 0; k < 3; ++k) differs = differs || std::abs(first[i + k] - second[i + k]) > t;
                if (!differs || second[i + 3] == 0) continue;
                for (int k = 0; k < 3; ++k) expected[i + k] = (uint8_t)unpremultiplyChannel(second[i + k], second[i + 3]);
                expected[i + 3] = 255;
            }
            TestImage other(w, h, second);
            EXPECT_EQ(after(w, h, first, [&](Image &i) { differenceMatte(i, other, t); }), expected) << t;
        }
}

TEST(PixelLoops, GreysAndThresholdsMatchThePlainFormulas) {
    srand(5);
    const int ordered2[] = {450, 150, 300, 600}, ordered3[] = {525, 675, 375, 150, 75, 300, 450, 225, 600};
    for (auto [w, h] : kSizes) {
        const Bytes pixels = noise(w, h);
        Bytes grey = pixels, clipped = pixels, dither2 = pixels, dither3 = pixels;
        for (int r = 0; r < h; ++r)
            for (int c = 0; c < w; ++c) {
                const size_t i = ((size_t)r * w + c) * 4;
                const int sum = pixels[i] + pixels[i + 1] + pixels[i + 2];
                const uint8_t g = (uint8_t)((3 * pixels[i] + 6 * pixels[i + 1] + pixels[i + 2]) / 10);
                const uint8_t levels[] = {g, sum >= 384 ? (uint8_t)255 : (uint8_t)0,
                                          sum > ordered2[r % 2 * 2 + c % 2] ? (uint8_t)255 : (uint8_t)0,
                                          sum > ordered3[r % 3 * 3 + c % 3] ? (uint8_t)255 : (uint8_t)0};
                Bytes *results[] = {&grey, &clipped, &dither2, &dither3};
                for (int m = 0; m < 4; ++m) std::fill_n(results[m]->begin() + i, 3, levels[m]);
            }
        EXPECT_EQ(after(w, h, pixels, grayLevels), grey);
        EXPECT_EQ(after(w, h, pixels, clipBW), clipped);
        EXPECT_EQ(after(w, h, pixels, orderedDither2), dither2);
        EXPECT_EQ(after(w, h, pixels, orderedDither3), dither3);
    }
}

TEST(PixelLoops, ErrorDiffusionMatchesThePlainSearchAndSpread) {
    srand(6);
    for (const Palette *palette : {&paletteBW, &palettePrimary, &palettePastel})
        for (auto [w, h] : kSizes) {
            const Bytes pixels = noise(w, h);
            Bytes expected = pixels;
            std::vector<int> current((size_t)w * 3 + 3), next((size_t)w * 3 + 3);
            for (int r = 0; r < h; ++r) {
                std::fill(next.begin(), next.end(), 0);
                for (int c = 0; c < w; ++c) {
                    uint8_t *p = &expected[((size_t)r * w + c) * 4];
                    int v[3], best = 0, bestDistance = 1000;
                    for (int k = 0; k < 3; ++k) v[k] = p[k] + current[c * 3 + k];
                    for (int i = 0; i < palette->size; ++i) {
                        const unsigned char *colour = palette->colours[i];
                        const int d = std::abs(v[0] - colour[0]) + std::abs(v[1] - colour[1]) + std::abs(v[2] - colour[2]);
                        if (d < bestDistance) {
                            best = i;
                            bestDistance = d;
                        }
                    }
                    for (int k = 0; k < 3; ++k) {
                        const int e = v[k] - palette->colours[best][k];
                        if (c < w - 2) {
                            current[c * 3 + 3 + k] += 3 * e / 8;
                            next[c * 3 + 3 + k] += e / 4;
                        }
                        next[c * 3 + k] += 3 * e / 8;
                        p[k] = palette->colours[best][k];
                    }
                }
                std::swap(current, next);
            }
            DiffusionTrace trace;
            EXPECT_EQ(after(w, h, pixels, [&](Image &i) { errorDiffuse(i, *palette, trace); }), expected)
                << palette->size << " colours, " << w << " x " << h;
        }
}

TEST(PixelLoops, BluescreenMatchesThePlainFormula) {
    srand(7);
    const double parameters[][3] = {{255, 2.1, 0.6}, {255, 1, 1}, {100, 0.5, 2}, {-5, 3, 0.1}, {300, -1, 0.5}};
    for (auto [bk, mu1, mu2] : parameters)
        for (auto [w, h] : kSizes) {
            const Bytes pixels = noise(w, h);
            Bytes expected = pixels;
            for (size_t i = 0; i < expected.size(); i += 4) {
                uint8_t *p = &expected[i];
                if (p[3] == 0) {
                    p[0] = p[1] = p[2] = 0;
                    continue;
                }
                const double v = mu1 * (std::min((int)bk, (int)p[2]) - mu2 * std::max(p[0], p[1]));
                const int matte = v > 0 ? (v < 255 ? 255 - (int)v : 0) : 255;
                for (int k = 0; k < 3; ++k) p[k] = (uint8_t)mulDiv255(unpremultiplyChannel(p[k], p[3]), matte);
                p[3] = (uint8_t)matte;
            }
            EXPECT_EQ(after(w, h, pixels, [&](Image &i) { bluescreenMatte(i, (int)bk, mu1, mu2); }), expected) << bk;
        }
}
