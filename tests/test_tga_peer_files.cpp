// Real TGA files from another project's test suite: each loads,
// or fails with the error its damage deserves, and survives a round trip.
#include <cstdlib>
#include <filesystem>
#include <map>

#include "image/tga.h"
#include "test_support.h"

namespace {

struct Loaded {
    int width = 0, height = 0, error = 0;
    Bytes pixels;
};

Loaded loadPeer(const std::string &name) {
    Loaded result;
    std::string file = std::string(PEER_TESTDATA_DIR) + "/" + name;
    unsigned char *pixels = tgaLoad(file.c_str(), &result.width, &result.height, TGA_RGBA);
    if (!pixels) {
        result.error = tgaLastError();
        return result;
    }
    result.pixels.assign(pixels, pixels + (size_t)result.width * result.height * 4);
    free(pixels);
    return result;
}

using PeerFiles = TempDirTest;

std::vector<std::string> peerTgaFiles() {
    std::vector<std::string> names;
    for (const char *sub : {"", "common/"}) {
        std::string folder = std::string(PEER_TESTDATA_DIR) + "/" + sub;
        for (auto &entry : std::filesystem::directory_iterator(folder))
            if (entry.path().extension() == ".tga") names.push_back(sub + entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Pixel (x, y) of a bottom-row-first buffer, y counted from the top.
Bytes pixelAt(const Loaded &image, int x, int y) {
    size_t at = ((size_t)(image.height - 1 - y) * image.width + x) * 4;
    return Bytes(image.pixels.begin() + at, image.pixels.begin() + at + 4);
}

} // namespace

TEST_F(PeerFiles, DamagedFilesFailWithTheirCode) {
    EXPECT_EQ(loadPeer("cross_scan_line_truncated.tga").error, TGA_UNEXPECTED_EOF);
    EXPECT_EQ(loadPeer("p_8.tga").error, TGA_UNEXPECTED_EOF); // ID announced, file ends at the header
}

TEST_F(PeerFiles, EveryOtherFileLoadsAndKeepsItsOpaquePixelsThroughARoundTrip) {
    const std::vector<std::string> names = peerTgaFiles();
    EXPECT_GE(names.size(), 30u);
    for (const std::string &name : names) {
        if (name == "cross_scan_line_truncated.tga" || name == "p_8.tga") continue;
        SCOPED_TRACE(name);
        Loaded image = loadPeer(name);
        ASSERT_EQ(image.error, 0);
        for (size_t i = 0; i < image.pixels.size(); i += 4)
            ASSERT_TRUE(image.pixels[i] <= image.pixels[i + 3] && image.pixels[i + 1] <= image.pixels[i + 3] &&
                        image.pixels[i + 2] <= image.pixels[i + 3]);

        std::string copy = path("copy.tga");
        ASSERT_EQ(tgaWrite(copy.c_str(), image.width, image.height, image.pixels.data(), TGA_RGBA), 1);
        int w, h;
        unsigned char *back = tgaLoad(copy.c_str(), &w, &h, TGA_RGBA);
        ASSERT_NE(back, nullptr);
        ASSERT_EQ(w, image.width);
        ASSERT_EQ(h, image.height);
        for (size_t i = 0; i < image.pixels.size(); i += 4)
            if (image.pixels[i + 3] == 255) {
                ASSERT_EQ(memcmp(back + i, &image.pixels[i], 4), 0) << "byte " << i;
            }
        free(back);
    }
}

TEST_F(PeerFiles, OriginAndCompressionVariantsDecodeAlike) {
    for (const char *mode : {"l", "la", "p", "rgb", "rgba"}) {
        SCOPED_TRACE(mode);
        std::string stem = std::string("common/200x32_") + mode + "_";
        Loaded reference = loadPeer(stem + "bl_raw.tga");
        ASSERT_EQ(reference.error, 0);
        EXPECT_EQ(reference.width, 200);
        EXPECT_EQ(reference.height, 32);
        for (const char *variant : {"bl_rle.tga", "tl_raw.tga", "tl_rle.tga"})
            EXPECT_EQ(loadPeer(stem + variant).pixels, reference.pixels) << variant;
    }
    EXPECT_EQ(loadPeer("200x32_p_bl_raw_origin.tga").pixels, loadPeer("common/200x32_p_bl_raw.tga").pixels);
}

TEST_F(PeerFiles, PixelsHaveTheirKnownValues) {
    // Grey with a raw packet of 3 that crosses the row end.
    Loaded cross = loadPeer("cross_scan_line.tga");
    ASSERT_EQ(cross.width, 2);
    EXPECT_EQ(pixelAt(cross, 0, 0), (Bytes{255, 255, 255, 255}));
    EXPECT_EQ(pixelAt(cross, 1, 0), (Bytes{0, 0, 0, 255}));
    EXPECT_EQ(pixelAt(cross, 0, 1), (Bytes{0, 0, 0, 255}));
    EXPECT_EQ(pixelAt(cross, 1, 1), (Bytes{255, 255, 255, 255}));

    // 16-bit colour is 5-5-5 whatever the alpha bits say; bit 15 is ignored.
    EXPECT_EQ(loadPeer("rgba16.tga").pixels, (Bytes{172, 0, 254, 255, 0, 254, 82, 255}));

    // Grey values are grey; grey with alpha is premultiplied.
    Loaded grey = loadPeer("common/200x32_l_bl_raw.tga");
    for (size_t i = 0; i < grey.pixels.size(); i += 4) {
        ASSERT_EQ(grey.pixels[i], grey.pixels[i + 1]);
        ASSERT_EQ(grey.pixels[i], grey.pixels[i + 2]);
        ASSERT_EQ(grey.pixels[i + 3], 255);
    }
    Loaded greyAlpha = loadPeer("la.tga");
    EXPECT_EQ(greyAlpha.width, 64);
    EXPECT_NE(std::count(greyAlpha.pixels.begin(), greyAlpha.pixels.end(), 0), 0);
}

TEST_F(PeerFiles, ThirtyTwoBitWithoutAlphaBitsIsOpaqueAndOriginsMirror) {
    Loaded plain = loadPeer("rgb32rle.tga");
    Loaded mirrored = loadPeer("rgb32rle_bottom_right.tga");
    Loaded turned = loadPeer("rgb32rle_top_right.tga");
    ASSERT_EQ(plain.width, 199);
    for (size_t i = 3; i < plain.pixels.size(); i += 4) ASSERT_EQ(plain.pixels[i], 255);
    for (int y = 0; y < 199; y += 7)
        for (int x = 0; x < 199; x += 5) {
            ASSERT_EQ(pixelAt(mirrored, x, y), pixelAt(plain, 198 - x, y));
            ASSERT_EQ(pixelAt(turned, x, y), pixelAt(plain, 198 - x, 198 - y));
        }
}
