// BW's four methods, grays, and error diffusion to a palette.
#include "image/parallel.h"
#include "image/vector_path.h"
#include "ops/dither.h"
#include "test_support.h"

namespace {

// A width x height image of one RGBA pixel.
Bytes uniform(int width, int height, const Bytes &pixel) {
    Bytes bytes;
    for (int i = 0; i < width * height; ++i) bytes.insert(bytes.end(), pixel.begin(), pixel.end());
    return bytes;
}

// The red channel, row by row.
std::vector<int> reds(const TestImage &image) {
    std::vector<int> red;
    for (int i = 0; i < image.width * image.height; ++i) red.push_back(image.pixels[i * 4]);
    return red;
}

// v, chosen colour and error of one traced pixel, nine numbers.
std::vector<int> stepNumbers(const DiffusionStep &s) {
    return {s.value[0], s.value[1], s.value[2], s.chosen[0], s.chosen[1],
            s.chosen[2], s.error[0], s.error[1], s.error[2]};
}

void expectGrey(const TestImage &image, int alpha) {
    for (int i = 0; i < image.width * image.height; ++i) {
        const unsigned char *p = image.pixels + i * 4;
        EXPECT_EQ(p[1], p[0]) << i;
        EXPECT_EQ(p[2], p[0]) << i;
        EXPECT_EQ(p[3], alpha) << i;
    }
}

// The diffusion row by row, pixel by pixel: each colour plus its errors
// becomes the first of the nearest palette colours closer than 1000, else
// entry 0, and spreads its error.
Bytes diffusedRowByRow(int w, int h, Bytes pixels, const Palette &palette) {
    std::vector<int> here((size_t)w * 3 + 3), below(here.size());
    for (int r = 0; r < h; ++r) {
        std::fill(below.begin(), below.end(), 0);
        int right[3] = {0, 0, 0};
        for (int c = 0; c < w; ++c) {
            uint8_t *p = &pixels[((size_t)r * w + c) * 4];
            int v[3], best = 0, bestDistance = 1000;
            for (int k = 0; k < 3; ++k) v[k] = p[k] + here[c * 3 + k] + right[k];
            for (int i = 0; i < palette.size; ++i) {
                const unsigned char *colour = palette.colours[i];
                const int d = std::abs(v[0] - colour[0]) + std::abs(v[1] - colour[1]) + std::abs(v[2] - colour[2]);
                if (d < bestDistance) best = i, bestDistance = d;
            }
            for (int k = 0; k < 3; ++k) {
                const int e = v[k] - palette.colours[best][k];
                right[k] = c < w - 2 ? 3 * e / 8 : 0;
                if (c < w - 2) below[c * 3 + 3 + k] += e / 4;
                below[c * 3 + k] += 3 * e / 8;
                p[k] = palette.colours[best][k];
            }
        }
        std::swap(here, below);
    }
    return pixels;
}

} // namespace

// The rows go by bands, a row a vector lane, each band a little behind the
// one above, maybe on another thread; the bands hand their errors on by
// chunks of columns. Heights across several bands of every vector width,
// widths across chunks and below three columns, palettes with the corner
// search, the general one, one colour and two, noise with extremes.
TEST(ErrorDiffusion, BandsOfRowsGiveTheRowByRowResultOnEveryPathAndThreadCount) {
    srand(9);
    const PaletteColour one[] = {{90, 160, 30}}, two[] = {{200, 10, 60}, {20, 240, 250}};
    const Palette palettes[] = {paletteBW, palettePrimary, palettePastel, {one, 1}, {two, 2}};
    for (auto [w, h] : {std::pair{1, 37}, {2, 20}, {3, 33}, {131, 18}, {300, 41}}) {
        Bytes noise((size_t)w * h * 4);
        for (auto &b : noise) b = (uint8_t)(rand() % 4 ? rand() : rand() % 2 * 255);
        for (const Palette &palette : palettes) {
            const Bytes expected = diffusedRowByRow(w, h, noise, palette);
            for (VectorPath path : kVectorPaths)
                for (int threads : {1, 3}) {
                    setVectorPath(path);
                    setThreadCount(threads);
                    TestImage image(w, h, noise);
                    DiffusionTrace trace;
                    ASSERT_TRUE(errorDiffuse(image, palette, trace));
                    EXPECT_EQ(image.bytes(), expected) << palette.size << " colours, " << w << " x " << h << ", path "
                                                       << (int)path << ", " << threads << " threads";
                }
        }
    }
    setThreadCount(0);
    setVectorPath(VectorPath::Avx512);
}

TEST(ErrorDiffusion, GreyToBlackAndWhite) {
    TestImage image(4, 4, uniform(4, 4, {128, 128, 128, 255}));
    DiffusionTrace trace;
    ASSERT_TRUE(errorDiffuse(image, paletteBW, trace));
    ASSERT_EQ(trace.count, 4);
    EXPECT_EQ(stepNumbers(trace.steps[0]), (std::vector<int>{128, 128, 128, 255, 255, 255, -127, -127, -127}));
    EXPECT_EQ(stepNumbers(trace.steps[1]), (std::vector<int>{81, 81, 81, 0, 0, 0, 81, 81, 81}));
    EXPECT_EQ(stepNumbers(trace.steps[2]), (std::vector<int>{81, 81, 81, 0, 0, 0, 81, 81, 81}));
    EXPECT_EQ(stepNumbers(trace.steps[3]), (std::vector<int>{157, 157, 157, 255, 255, 255, -98, -98, -98}));
    EXPECT_EQ(reds(image), (std::vector<int>{255, 0, 255, 255, 0, 255, 0, 0, 255, 0, 255, 255, 0, 255, 0, 0}));
    expectGrey(image, 255);
}

TEST(ErrorDiffusion, SplitsTheErrorWithTruncatingDivision) {
    // One grey colour: the error is the value minus 100, so the trace shows
    // exactly what each pixel received. Negative errors truncate toward 0.
    const PaletteColour grey[] = {{100, 100, 100}};
    TestImage image(4, 2, {0, 1, 2, 9, 10, 20, 30, 9, 0, 0, 0, 9, 0, 0, 0, 9,
                           50, 60, 70, 9, 80, 90, 99, 9, 0, 0, 0, 9, 0, 0, 0, 9});
    DiffusionTrace trace;
    ASSERT_TRUE(errorDiffuse(image, Palette{grey, 1}, trace));
    ASSERT_EQ(trace.count, 4);
    // (0, 0): e = (-100, -99, -98); 3e/8 = (-37, -37, -36), e/4 = (-25, -24, -24).
    EXPECT_EQ(stepNumbers(trace.steps[1]), (std::vector<int>{-27, -17, -6, 100, 100, 100, -127, -117, -106}));
    // (1, 0): 3/8 from above only, nothing down-left from (0, 1).
    EXPECT_EQ(stepNumbers(trace.steps[2]), (std::vector<int>{13, 23, 34, 100, 100, 100, -87, -77, -66}));
    // (1, 1): 3/8 of (0, 1)'s error, 1/4 of (0, 0)'s and 3/8 of (1, 0)'s.
    // -47 - 25 - 32 + 80, -43 - 24 - 28 + 90, -39 - 24 - 24 + 99.
    EXPECT_EQ(stepNumbers(trace.steps[3]), (std::vector<int>{-24, -5, 12, 100, 100, 100, -124, -105, -88}));
    for (int i = 0; i < 8; ++i) EXPECT_EQ(image.pixels[i * 4 + 3], 9); // alpha kept
}

TEST(ErrorDiffusion, LowestIndexWinsTiesAndNothingBeyond1000) {
    const PaletteColour pair[] = {{10, 0, 0}, {0, 10, 0}}, swapped[] = {{0, 10, 0}, {10, 0, 0}};
    for (auto palette : {Palette{pair, 2}, Palette{swapped, 2}}) {
        TestImage image(1, 1, {5, 5, 0, 255});
        DiffusionTrace trace;
        ASSERT_TRUE(errorDiffuse(image, palette, trace));
        EXPECT_EQ(Bytes(image.pixels, image.pixels + 3), Bytes(palette.colours[0], palette.colours[0] + 3));
    }
    // White against black and dark blue: the error to the right piles up
    // until dark blue, though nearest, is 1009 away at column 4, which falls
    // back to entry 0. The last two columns pass nothing on, so column 5
    // starts afresh.
    const PaletteColour dark[] = {{0, 0, 0}, {0, 0, 128}};
    TestImage image(6, 1, uniform(6, 1, {255, 255, 255, 255}));
    DiffusionTrace trace;
    ASSERT_TRUE(errorDiffuse(image, Palette{dark, 2}, trace));
    std::vector<int> blues;
    for (int i = 0; i < 6; ++i) blues.push_back(image.pixels[i * 4 + 2]);
    EXPECT_EQ(blues, (std::vector<int>{128, 128, 128, 128, 0, 128}));
}

// The eight primaries are matched channel by channel; the same colours with
// a ninth, a repeat that never wins, take the general search.
TEST(ErrorDiffusion, PrimariesInAnyOrderGiveTheSearchsColours) {
    srand(8);
    Bytes noise(97 * 41 * 4);
    for (auto &b : noise) b = (uint8_t)(rand() % 3 ? rand() : rand() % 2 * 255);
    auto dithered = [&](const PaletteColour *colours, int size) {
        TestImage image(97, 41, noise);
        DiffusionTrace trace;
        errorDiffuse(image, Palette{colours, size}, trace);
        return image.bytes();
    };
    for (bool reversed : {false, true}) {
        PaletteColour colours[9];
        for (int i = 0; i < 9; ++i) memcpy(colours[i], palettePrimary.colours[reversed ? 7 - i % 8 : i % 8], 3);
        EXPECT_EQ(dithered(colours, 8), dithered(colours, 9)) << reversed;
    }
}

TEST(ErrorDiffusion, BlackWhiteAndTransparentStayAsTheyAre) {
    for (const Palette *palette : {&paletteBW, &palettePrimary, &palettePastel}) {
        for (int level : {0, 255}) {
            const Bytes pixels = uniform(5, 3, {(uint8_t)level, (uint8_t)level, (uint8_t)level, 255});
            TestImage image(5, 3, pixels);
            DiffusionTrace trace;
            ASSERT_TRUE(errorDiffuse(image, *palette, trace));
            EXPECT_EQ(trace.count, 4);
            EXPECT_EQ(image.bytes(), pixels);
        }
        TestImage clear(1, 1, {0, 0, 0, 0}); // no error reaches it
        DiffusionTrace trace;
        ASSERT_TRUE(errorDiffuse(clear, *palette, trace));
        EXPECT_EQ(clear.bytes(), (Bytes{0, 0, 0, 0}));
    }
}

TEST(Palettes, PastelShadesAreHalfTheirTints) {
    ASSERT_EQ(palettePastel.size, 38);
    for (int i = 2; i < 38; i += 2)
        for (int k = 0; k < 3; ++k) EXPECT_EQ(palettePastel.colours[i + 1][k], palettePastel.colours[i][k] / 2) << i;
    // The repeated pair maps to itself.
    TestImage image(1, 1, {255, 249, 157, 255});
    DiffusionTrace trace;
    ASSERT_TRUE(errorDiffuse(image, palettePastel, trace));
    EXPECT_EQ(image.bytes(), (Bytes{255, 249, 157, 255}));
}

TEST(Thresholds, ClipAt384) {
    TestImage image(3, 1, {128, 128, 128, 200, 128, 128, 127, 7, 255, 255, 0, 1});
    clipBW(image);
    EXPECT_EQ(image.bytes(), (Bytes{255, 255, 255, 200, 0, 0, 0, 7, 255, 255, 255, 1}));
}

TEST(Thresholds, Ordered2IsACheckerboardAtSum301AndTiesGoBlack) {
    TestImage image(4, 3, uniform(4, 3, {100, 100, 101, 255}));
    orderedDither2(image);
    EXPECT_EQ(reds(image), (std::vector<int>{0, 255, 0, 255, 255, 0, 255, 0, 0, 255, 0, 255}));
    expectGrey(image, 255);
    TestImage tie(2, 2, uniform(2, 2, {100, 100, 100, 255})); // sum 300: only the 150 entry is below
    orderedDither2(tie);
    EXPECT_EQ(reds(tie), (std::vector<int>{0, 255, 0, 0}));
}

TEST(Grays, WeighsRedGreenAndBlue) {
    TestImage image(5, 1, {255, 255, 255, 255, 255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 9, 9, 9, 0});
    grayLevels(image);
    EXPECT_EQ(image.bytes(), (Bytes{255, 255, 255, 255, 76, 76, 76, 255, 153, 153, 153, 255, 25, 25, 25, 255,
                                    9, 9, 9, 0}));
}
