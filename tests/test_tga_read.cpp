// The TGA reader: every image type, depth and origin, and every failure.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "image/tga.h"
#include "test_support.h"

namespace {

class TgaRead : public TempDirTest {
  protected:
    // Writes the file and loads it; the buffer is empty on failure.
    Bytes load(const Bytes &file, int format = TGA_RGBA) {
        writeBytes(path("t.tga"), file);
        return loadFrom(path("t.tga"), format);
    }
    Bytes loadFrom(const std::string &name, int format = TGA_RGBA) {
        width = height = -7;
        unsigned char *pixels = tgaLoad(name.c_str(), &width, &height, format);
        if (!pixels) return Bytes();
        Bytes result(pixels, pixels + (size_t)width * height * format);
        free(pixels);
        return result;
    }
    int failure(const Bytes &file, int format = TGA_RGBA) {
        EXPECT_TRUE(load(file, format).empty());
        EXPECT_EQ(width, -7); // outputs untouched on failure
        return tgaLastError();
    }
    // The code of loading the file in a child process once `prepare` has run
    // there: TGA_NO_ERROR when it loads.
    int errorInChild(const std::string &name, void (*prepare)()) {
        return inChild([&] {
            prepare();
            return loadFrom(name).empty() ? tgaLastError() : TGA_NO_ERROR;
        });
    }

    int width = 0, height = 0;
};

// A pipe holding `bytes` with no writer left, named by a path: a stream whose
// length the reader cannot know beforehand.
struct Pipe {
    explicit Pipe(const Bytes &bytes) {
        int ends[2] = {-1, -1};
        EXPECT_TRUE(pipe(ends) == 0 && fcntl(ends[1], F_SETPIPE_SZ, 1 << 20) >= (int)bytes.size() &&
                    write(ends[1], bytes.data(), bytes.size()) == (ssize_t)bytes.size());
        close(ends[1]);
        path = "/dev/fd/" + std::to_string(reader = ends[0]);
    }
    ~Pipe() { close(reader); }
    int reader;
    std::string path;
};

// Runs this process as an unprivileged user, for whom permission bits count.
void becomeNobody() {
    if (geteuid() == 0 && setresuid(65534, 65534, 65534) != 0) _exit(100);
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes &p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

// A 3 x 2 picture with six different 24-bit pixels, as BGR bytes in the
// order the given origin stores them, and the buffer the reader must give.
const unsigned char picture[2][3][3] = {// [top row first][x] = R, G, B
                                        {{10, 20, 30}, {40, 50, 60}, {70, 80, 90}},
                                        {{11, 21, 31}, {41, 51, 61}, {71, 81, 91}}};

Bytes storedPixels(int origin) {
    Bytes b;
    bool fromTop = origin >= 2, fromRight = origin & 1;
    for (int q = 0; q < 2; ++q) {
        int y = fromTop ? q : 1 - q;
        for (int r = 0; r < 3; ++r) {
            const unsigned char *p = picture[y][fromRight ? 2 - r : r];
            b.insert(b.end(), {p[2], p[1], p[0]});
        }
    }
    return b;
}

Bytes expectedBottomUp() {
    Bytes b;
    for (int y = 1; y >= 0; --y)
        for (int x = 0; x < 3; ++x) b.insert(b.end(), {picture[y][x][0], picture[y][x][1], picture[y][x][2], 255});
    return b;
}

TgaHeader header(int type, int w, int h, int depth, int descriptor = 0) {
    TgaHeader hd;
    hd.type = type;
    hd.width = w;
    hd.height = h;
    hd.depth = depth;
    hd.descriptor = descriptor;
    return hd;
}

} // namespace

TEST_F(TgaRead, TrueColour24LoadsBottomRowFirstAndOpaque) {
    EXPECT_EQ(load(header(2, 2, 1, 24).with({0, 0, 0xFF, 0xFF, 0, 0})),
              (Bytes{0xFF, 0, 0, 0xFF, 0, 0, 0xFF, 0xFF}));
    EXPECT_EQ(width, 2);
    EXPECT_EQ(height, 1);
}

TEST_F(TgaRead, EveryOriginGivesTheSameBuffer) {
    for (int origin = 0; origin < 4; ++origin)
        EXPECT_EQ(load(header(2, 3, 2, 24, origin << 4).with(storedPixels(origin))), expectedBottomUp())
            << "origin " << origin;
}

TEST_F(TgaRead, RunLengthPacketsFillRunsAndCrossRowEnds) {
    EXPECT_EQ(load(header(10, 3, 1, 24).with({0x82, 0, 0xFF, 0})),
              (Bytes{0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF}));

    // Top-right origin; a raw packet of 4 crosses the first row's end, then a
    // run of 2 finishes the picture.
    Bytes stored = storedPixels(3);
    Bytes rle = concat({{0x03}, Bytes(stored.begin(), stored.begin() + 12), {0x81}, {9, 9, 9}});
    Bytes expected = expectedBottomUp();
    // Stored pixels 4 and 5 (the bottom row's right two, seen from the right) become (9, 9, 9).
    for (int x : {0, 1}) std::fill_n(expected.begin() + x * 4, 3, 9);
    EXPECT_EQ(load(header(10, 3, 2, 24, 3 << 4).with(rle)), expected);
}

TEST_F(TgaRead, APacketRunningPastTheLastPixelIsCut) {
    // A run of 128 for a 3 x 1 picture, with nothing after it.
    EXPECT_EQ(load(header(10, 3, 1, 24).with({0xFF, 1, 2, 3})), (Bytes{3, 2, 1, 255, 3, 2, 1, 255, 3, 2, 1, 255}));
    // A raw packet of 5 whose last two values are missing is still complete.
    EXPECT_EQ(load(header(10, 3, 1, 24).with({0x04, 1, 2, 3, 4, 5, 6, 7, 8, 9})),
              (Bytes{3, 2, 1, 255, 6, 5, 4, 255, 9, 8, 7, 255}));
}

TEST_F(TgaRead, ThirtyTwoBitAlphaCountsOnlyWithAlphaBits) {
    Bytes pixel = {50, 100, 200, 128}; // B, G, R, A
    EXPECT_EQ(load(header(2, 1, 1, 32, 0).with(pixel)), (Bytes{200, 100, 50, 255}));
    EXPECT_EQ(load(header(2, 1, 1, 32, 8).with(pixel)), (Bytes{100, 50, 25, 128}));
    EXPECT_EQ(load(header(2, 1, 1, 32, 8).with({50, 100, 200, 0})), (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(load(header(2, 1, 1, 32, 8).with(pixel), TGA_RGB), (Bytes{100, 50, 25}));
}

TEST_F(TgaRead, SixteenBitColourIsAlwaysFiveFiveFive) {
    for (int alphaBits : {0, 1, 8}) {
        EXPECT_EQ(load(header(2, 1, 1, 16, alphaBits).with({0xFF, 0xFF})), (Bytes{254, 254, 254, 255}));
        // 0x7C00 red, 0x03E0 green, 0x001F blue; 0x0421 is 1 in every field.
        EXPECT_EQ(load(header(2, 4, 1, 16, alphaBits).with({0x00, 0x7C, 0xE0, 0x03, 0x1F, 0x00, 0x21, 0x04})),
                  (Bytes{254, 0, 0, 255, 0, 254, 0, 255, 0, 0, 254, 255, 8, 8, 8, 255}));
    }
    // 15-bit depth: red 5, green 16, blue 5.
    EXPECT_EQ(load(header(2, 1, 1, 15).with({0x05, 0x16})), (Bytes{41, 131, 41, 255}));
}

TEST_F(TgaRead, GreyImagesAreGreyOrGreyWithAlpha) {
    EXPECT_EQ(load(header(3, 2, 1, 8).with({0, 200})), (Bytes{0, 0, 0, 255, 200, 200, 200, 255}));
    EXPECT_EQ(load(header(11, 3, 1, 8).with({0x82, 77})), (Bytes{77, 77, 77, 255, 77, 77, 77, 255, 77, 77, 77, 255}));
    // 16-bit grey: low byte grey, high byte alpha when alpha bits are set.
    EXPECT_EQ(load(header(3, 1, 1, 16, 8).with({200, 128})), (Bytes{100, 100, 100, 128}));
    EXPECT_EQ(load(header(3, 1, 1, 16, 0).with({200, 128})), (Bytes{200, 200, 200, 255}));
    // 8-bit values of a colour type without a colour map are grey too.
    EXPECT_EQ(load(header(2, 1, 1, 8).with({9})), (Bytes{9, 9, 9, 255}));
}

TEST_F(TgaRead, ColourMappedPixelsTakeTheirEntryCountedFromTheFirstIndex) {
    TgaHeader hd = header(1, 3, 1, 8);
    hd.mapType = 1;
    hd.mapLength = 2;
    hd.mapBits = 24;
    Bytes map = {0, 0, 255, 255, 0, 0}; // red, blue
    EXPECT_EQ(load(hd.with(concat({map, {1, 0, 1}}))), (Bytes{0, 0, 255, 255, 255, 0, 0, 255, 0, 0, 255, 255}));

    hd.mapFirst = 5; // indices 5 and 6 name the two entries
    EXPECT_EQ(load(hd.with(concat({map, {6, 5, 6}}))), (Bytes{0, 0, 255, 255, 255, 0, 0, 255, 0, 0, 255, 255}));
    for (uint8_t bad : {4, 7}) {
        EXPECT_EQ(failure(hd.with(concat({map, {5, bad, 5}}))), TGA_BAD_COLORMAP);
    }

    hd.type = 9; // run-length encoded, with 16-bit indices
    hd.mapFirst = 0;
    hd.depth = 16;
    EXPECT_EQ(load(hd.with(concat({map, {0x82, 1, 0}}))), (Bytes{0, 0, 255, 255, 0, 0, 255, 255, 0, 0, 255, 255}));
    EXPECT_EQ(failure(hd.with(concat({map, {0x82, 0, 1}}))), TGA_BAD_COLORMAP); // index 256
}

TEST_F(TgaRead, ColourMapEntriesConvertLikePixels) {
    TgaHeader hd = header(1, 2, 1, 8, 8);
    hd.mapType = 1;
    hd.mapLength = 2;
    hd.mapBits = 32; // alpha bits 8: the stored alpha is used and premultiplies
    EXPECT_EQ(load(hd.with({50, 100, 200, 128, 1, 2, 3, 255, 0, 1})), (Bytes{100, 50, 25, 128, 3, 2, 1, 255}));
    hd.mapBits = 15;
    EXPECT_EQ(load(hd.with({0xFF, 0x7F, 0x1F, 0x00, 1, 0})), (Bytes{0, 0, 254, 255, 254, 254, 254, 255}));
}

TEST_F(TgaRead, TrueColourTypesCheckButIgnoreAColourMap) {
    TgaHeader hd = header(2, 1, 1, 24);
    hd.mapType = 1;
    hd.mapLength = 1;
    hd.mapBits = 24;
    EXPECT_EQ(load(hd.with({9, 9, 9, 1, 2, 3})), (Bytes{3, 2, 1, 255}));
    hd.mapBits = 8;
    EXPECT_EQ(failure(hd.with({9, 1, 2, 3})), TGA_BAD_ENTRY_SIZE);
}

TEST_F(TgaRead, TheImageIdIsSkipped) {
    TgaHeader hd = header(2, 1, 1, 24);
    hd.idLength = 3;
    EXPECT_EQ(load(hd.with({'a', 'b', 'c', 1, 2, 3})), (Bytes{3, 2, 1, 255}));
}

TEST_F(TgaRead, EachFailureHasItsCode) {
    Bytes ok = header(2, 1, 1, 24).with({1, 2, 3});
    writeBytes(path("ok.tga"), ok);
    int w, h;
    EXPECT_EQ(tgaLoad(path("ok.tga").c_str(), &w, &h, 5), nullptr);
    EXPECT_EQ(tgaLastError(), TGA_BAD_FORMAT);
    EXPECT_EQ(tgaLoad(path("missing.tga").c_str(), &w, &h, TGA_RGBA), nullptr);
    EXPECT_EQ(tgaLastError(), TGA_CANNOT_OPEN);
    EXPECT_EQ(tgaLoad(dir.c_str(), &w, &h, TGA_RGBA), nullptr); // a folder
    EXPECT_EQ(tgaLastError(), TGA_CANNOT_OPEN);

    EXPECT_EQ(failure(Bytes(ok.begin(), ok.begin() + 17)), TGA_BAD_HEADER);
    EXPECT_EQ(failure(header(0, 0, 5, 24).with({})), TGA_ZERO_SIZE);
    EXPECT_EQ(failure(header(2, 4, 0, 24).with({})), TGA_ZERO_SIZE);
    EXPECT_EQ(failure(header(0, 1, 1, 24).with({})), TGA_NO_DATA);
    EXPECT_EQ(failure(header(4, 1, 1, 24).with({1, 2, 3})), TGA_UNKNOWN_TYPE);
    EXPECT_EQ(failure(header(2, 1, 1, 7).with({1})), TGA_BAD_HEADER);
    EXPECT_EQ(failure(header(2, 1, 1, 48).with({1, 2, 3, 4, 5, 6})), TGA_BAD_HEADER);

    TgaHeader grey = header(3, 1, 1, 8);
    grey.mapType = 1;
    EXPECT_EQ(failure(grey.with({1})), TGA_GREY_COLORMAP);

    TgaHeader mapped = header(1, 1, 1, 8);
    mapped.mapType = 1;
    mapped.mapLength = 4;
    mapped.mapBits = 24;
    EXPECT_EQ(failure(mapped.with({1, 2, 3, 4, 5})), TGA_BAD_COLORMAP); // map cut short

    // A failure code stays until the next failure.
    EXPECT_FALSE(load(ok).empty());
    EXPECT_EQ(tgaLastError(), TGA_BAD_COLORMAP);
    EXPECT_STREQ(tgaErrorText(TGA_GREY_COLORMAP), "found colormap for a grayscale image");
    EXPECT_STREQ(tgaErrorText(99), "unknown error");
    EXPECT_STREQ(tgaErrorText(-1), "unknown error");
}

TEST_F(TgaRead, TruncatedFilesFailInsteadOfLoadingPadded) {
    EXPECT_EQ(failure(header(2, 2, 1, 24).with({1, 2, 3, 4, 5})), TGA_UNEXPECTED_EOF);
    EXPECT_EQ(failure(header(10, 4, 1, 24).with({0x01, 1, 2, 3, 4, 5, 6})), TGA_UNEXPECTED_EOF);
    EXPECT_EQ(failure(header(10, 300, 1, 24).with({0xFF, 1, 2, 3, 0xFF, 1, 2, 3, 0x81, 1, 2})), TGA_UNEXPECTED_EOF);
    TgaHeader id = header(2, 1, 1, 24);
    id.idLength = 30;
    EXPECT_EQ(failure(id.with({1, 2, 3})), TGA_UNEXPECTED_EOF);
    // Announcing 65535 x 65535 in a tiny file is refused before any allocation.
    EXPECT_EQ(failure(header(2, 65535, 65535, 32).with({1, 2, 3, 4})), TGA_UNEXPECTED_EOF);
    EXPECT_EQ(failure(header(10, 65535, 65535, 32).with({0xFF, 1, 2, 3, 4})), TGA_UNEXPECTED_EOF);
}

TEST_F(TgaRead, ThirtyTwoBitNoiseMatchesThePlainFormulaInBothRowOrders) {
    // Wide enough for whole vector blocks and a tail, and for a file larger
    // than the reader's block, so that pixels straddle two blocks.
    const int w = 4103, h = 5;
    srand(11);
    Bytes stored((size_t)w * h * 4);
    for (uint8_t &b : stored) b = (uint8_t)rand();
    for (int origin = 0; origin < 4; ++origin) {
        const Bytes file = header(2, w, h, 32, 8 | origin << 4).with(stored);
        Bytes expected((size_t)w * h * 4);
        for (int i = 0; i < w * h; ++i) {
            const int q = i / w, r = i % w;
            const int x = origin & 1 ? w - 1 - r : r, y = origin >= 2 ? h - 1 - q : q;
            const uint8_t *s = &stored[(size_t)i * 4];
            uint8_t *d = &expected[((size_t)y * w + x) * 4];
            for (int k = 0; k < 3; ++k) d[k] = (uint8_t)(s[2 - k] * s[3] / 255);
            d[3] = s[3];
        }
        EXPECT_EQ(load(file), expected) << "origin " << origin;
        unsigned char *topDown = tgaLoadRows(path("t.tga").c_str(), &width, &height, TGA_RGBA, TGA_TOP_DOWN);
        ASSERT_NE(topDown, nullptr);
        for (int y = 0; y < h; ++y)
            EXPECT_EQ(memcmp(topDown + (size_t)y * w * 4, &expected[(size_t)(h - 1 - y) * w * 4], (size_t)w * 4), 0)
                << "origin " << origin << " row " << y;
        free(topDown);
    }
}

TEST_F(TgaRead, AStreamLoadsLikeAFileButAShortOneFailsBeforeAllocatingThePicture) {
    // More than a stream's first buffer holds, so that the buffer grows.
    Bytes stored(300 * 70 * 4);
    for (size_t i = 0; i < stored.size(); ++i) stored[i] = (uint8_t)(i * 7 / 3);
    for (const Bytes &file : {header(2, 300, 70, 32, 8).with(stored), header(10, 3, 1, 24).with({0x82, 1, 2, 3})})
        EXPECT_EQ(loadFrom(Pipe(file).path), load(file));

    // 17 GB announced in a few bytes, loaded where memory may grow by 1 GiB.
    for (const Bytes &file :
         {header(2, 65535, 65535, 32).with({1, 2, 3, 4}), header(10, 65535, 65535, 32).with({0xFF, 1, 2, 3, 4})})
        EXPECT_EQ(errorInChild(Pipe(file).path, [] { limitMemoryGrowth((rlim_t)1 << 30); }), TGA_UNEXPECTED_EOF);
}

TEST_F(TgaRead, AFileThatIsThereButCannotBeReadIsNotReportedMissing) {
    writeBytes(path("secret.tga"), header(2, 1, 1, 24).with({1, 2, 3}));
    ASSERT_EQ(chmod(dir.c_str(), 0755) | chmod(path("secret.tga").c_str(), 0) | mkdir(path("locked").c_str(), 0), 0);
    EXPECT_EQ(errorInChild(path("secret.tga"), becomeNobody), TGA_CANNOT_READ);
    EXPECT_EQ(errorInChild(path("missing/x.tga"), becomeNobody), TGA_CANNOT_OPEN);
    EXPECT_EQ(errorInChild(path("locked"), becomeNobody), TGA_CANNOT_OPEN); // a folder, though it may not be opened
    chmod(path("locked").c_str(), 0700);

    // Reading the first page of a process's memory fails with an I/O error.
    EXPECT_EQ(errorInChild("/proc/self/mem", [] {}), TGA_CANNOT_READ);
}
