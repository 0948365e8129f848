// The TGA writer and the careful writing of files.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "image/safe_output.h"
#include "image/tga.h"
#include "test_support.h"

namespace {

class TgaWrite : public TempDirTest {
  protected:
    Bytes written(int w, int h, const Bytes &pixels, int format = TGA_RGBA) {
        EXPECT_EQ(tgaWrite(path("w.tga").c_str(), w, h, pixels.data(), format), 1);
        return readBytes(path("w.tga"));
    }
};

const Bytes kHeader = {21, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0};

Bytes headerAndId(int w, int h, int depth, int descriptor) {
    Bytes b = kHeader;
    b.insert(b.end(), {(uint8_t)w, (uint8_t)(w >> 8), (uint8_t)h, (uint8_t)(h >> 8), (uint8_t)depth, (uint8_t)descriptor});
    const char *id = "written with libimgio";
    b.insert(b.end(), id, id + strlen(id));
    return b;
}

} // namespace

TEST_F(TgaWrite, WritesHeaderIdAndStraightColourPixels) {
    Bytes file = written(2, 1, {255, 0, 0, 255, 0, 0, 0, 0});
    Bytes expected = headerAndId(2, 1, 32, 8);
    expected.insert(expected.end(), {0, 0, 0xFF, 0xFF, 0, 0, 0, 0});
    EXPECT_EQ(file, expected);

    file = written(258, 1, Bytes(258 * 3, 7), TGA_RGB);
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 39), headerAndId(258, 1, 24, 0));
    EXPECT_EQ(file.size(), 39u + 258 * 3);
}

TEST_F(TgaWrite, DividesColourByAlphaTruncatingAndClamping) {
    // Alpha 3: 1 and 2 come out one below the exact 85 and 170; colour equal
    // to alpha is 255, above it clamps. Alpha 0 keeps the stored bytes.
    Bytes file = written(3, 1, {1, 2, 3, 3, 4, 200, 0, 3, 7, 9, 255, 0});
    EXPECT_EQ(pixelData(file), (Bytes{255, 169, 84, 3, 0, 255, 255, 3, 255, 9, 7, 0}));
    Bytes transparent(256 * 4, 0), kept;
    for (int v = 0; v < 256; ++v) {
        std::fill_n(transparent.begin() + v * 4, 3, (uint8_t)v);
        kept.insert(kept.end(), {(uint8_t)v, (uint8_t)v, (uint8_t)v, 0});
    }
    EXPECT_EQ(pixelData(written(256, 1, transparent)), kept);
    // Opaque pixels and RGB buffers are written as stored.
    EXPECT_EQ(pixelData(written(1, 1, {10, 20, 30, 255})), (Bytes{30, 20, 10, 255}));
    EXPECT_EQ(pixelData(written(1, 1, {10, 20, 30}, TGA_RGB)), (Bytes{30, 20, 10}));
}

TEST_F(TgaWrite, ReadsBackOpaquePixelsExactly) {
    Bytes pixels(64 * 3 * 4);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = i % 4 == 3 ? 255 : (uint8_t)(i * 37);
    written(64, 3, pixels);
    int w, h;
    unsigned char *back = tgaLoad(path("w.tga").c_str(), &w, &h, TGA_RGBA);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(Bytes(back, back + pixels.size()), pixels);
    free(back);
}

TEST_F(TgaWrite, RefusesWhatItCannotWrite) {
    unsigned char pixel[4] = {};
    const std::string file = path("no.tga");
    EXPECT_EQ(tgaWrite(file.c_str(), 1, 1, pixel, 5), 0);
    EXPECT_EQ(tgaLastError(), TGA_BAD_FORMAT);
    EXPECT_EQ(tgaWrite(file.c_str(), 70000, 1, pixel, TGA_RGBA), 0);
    EXPECT_EQ(tgaLastError(), TGA_BAD_HEADER);
    EXPECT_EQ(tgaWrite(file.c_str(), 2, 2, nullptr, TGA_RGBA), 0);
    EXPECT_EQ(tgaLastError(), TGA_NO_DATA);
    EXPECT_EQ(tgaWrite(file.c_str(), -1, -1, nullptr, TGA_RGBA), 0);
    EXPECT_EQ(tgaLastError(), TGA_NO_DATA);
    EXPECT_FALSE(std::filesystem::exists(file));

    EXPECT_EQ(tgaWrite(path("none/x.tga").c_str(), 1, 1, pixel, TGA_RGBA), 0);
    EXPECT_EQ(tgaLastError(), TGA_CANNOT_OPEN);
    EXPECT_EQ(tgaWrite(dir.c_str(), 1, 1, pixel, TGA_RGBA), 0); // a folder stays a folder
    EXPECT_EQ(tgaLastError(), TGA_CANNOT_OPEN);
    EXPECT_TRUE(std::filesystem::is_directory(dir));

    // A full device is written in place, the failure reported, the node kept.
    EXPECT_EQ(tgaWrite("/dev/full", 1, 1, pixel, TGA_RGBA), 0);
    EXPECT_EQ(tgaLastError(), TGA_CANNOT_WRITE);
    struct stat st;
    ASSERT_EQ(stat("/dev/full", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
}

TEST_F(TgaWrite, AZeroAreaImageIsHeaderOnly) {
    EXPECT_EQ(tgaWrite(path("w.tga").c_str(), 0, 5, nullptr, TGA_RGBA), 1);
    EXPECT_EQ(readBytes(path("w.tga")), headerAndId(0, 5, 32, 8));
    EXPECT_EQ(tgaWrite(path("h.tga").c_str(), 5, 0, nullptr, TGA_RGBA), 1);
    EXPECT_EQ(readBytes(path("h.tga")), headerAndId(5, 0, 32, 8));
}

TEST_F(TgaWrite, ReplacesFilesKeepingLinksAndPermissions) {
    unsigned char pixel[4] = {1, 2, 3, 255};
    writeBytes(path("target.tga"), Bytes{'o', 'l', 'd'});
    chmod(path("target.tga").c_str(), 0640);
    ASSERT_EQ(symlink("target.tga", path("link.tga").c_str()), 0);
    EXPECT_EQ(tgaWrite(path("link.tga").c_str(), 1, 1, pixel, TGA_RGBA), 1);
    EXPECT_TRUE(std::filesystem::is_symlink(path("link.tga")));
    EXPECT_EQ(readBytes(path("target.tga")).size(), 43u);
    struct stat st;
    ASSERT_EQ(stat(path("target.tga").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    // No temporary file is left behind.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()), 2);
}

TEST_F(TgaWrite, NoTemporaryFileOutlivesAnAbandonedWriteOrASignal) {
    const Bytes old = {'o', 'l', 'd'};
    writeBytes(path("old.tga"), old);
    {
        SafeOutput given_up;
        ASSERT_EQ(given_up.open(path("old.tga").c_str(), 3), TGA_NO_ERROR);
        EXPECT_TRUE(given_up.write("new", 3));
    }
    // Signals that end a program still end it, and take the temporary file along.
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        EXPECT_EQ(inChild([&] {
                      ::signal(signal, SIG_DFL); // as in a program started from a terminal
                      SafeOutput out;
                      if (out.open(path("old.tga").c_str(), 3) != TGA_NO_ERROR || !out.write("new", 3)) return 1;
                      raise(signal);
                      return 2;
                  }),
                  128 + signal);
    }
    EXPECT_EQ(readBytes(path("old.tga")), old);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()), 1);
}

TEST_F(TgaWrite, WithoutMemoryNothingIsTouched) {
    const Bytes old = {'o', 'l', 'd'};
    const std::string file = path("old.tga");
    writeBytes(file, old);
    unsigned char pixel[4] = {};
    failAllocationAfter(0);
    const int written = tgaWrite(file.c_str(), 1, 1, pixel, TGA_RGBA);
    failAllocationAfter(-1);
    EXPECT_EQ(written, 0);
    EXPECT_EQ(tgaLastError(), TGA_OUT_OF_MEMORY);
    EXPECT_EQ(readBytes(file), old);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()), 1);
}

TEST_F(TgaWrite, NoiseWithOpaqueRunsMatchesThePlainFormulaInBothRowOrders) {
    // Opaque runs of every length around the 16 pixels checked at a time,
    // between pixels of any alpha.
    const int w = 301, h = 4;
    srand(5);
    Bytes pixels((size_t)w * h * 4);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = (uint8_t)rand();
    for (int x = 0; x < w * h;) {
        const int run = rand() % 40;
        for (int k = 0; k < run && x < w * h; ++k, ++x) pixels[(size_t)x * 4 + 3] = 255;
        x += rand() % 3;
    }
    const float k = 1.0f / 255.0f;
    Bytes expected;
    for (size_t i = 0; i < pixels.size(); i += 4) {
        const float alpha = pixels[i + 3] * k;
        for (int c : {2, 1, 0}) {
            float x = pixels[i + c] * k;
            if (alpha > 0.0001f) x = x / alpha;
            expected.push_back(x > 1.0f ? 255 : (uint8_t)(int)(x * 255.0f));
        }
        expected.push_back(pixels[i + 3]);
    }
    EXPECT_EQ(pixelData(written(w, h, pixels)), expected);

    Bytes flipped(pixels.size());
    for (int y = 0; y < h; ++y)
        std::copy_n(&pixels[(size_t)y * w * 4], w * 4, &flipped[(size_t)(h - 1 - y) * w * 4]);
    ASSERT_EQ(tgaWriteRows(path("top.tga").c_str(), w, h, flipped.data(), TGA_RGBA, TGA_TOP_DOWN), 1);
    EXPECT_EQ(pixelData(readBytes(path("top.tga"))), expected);
}
