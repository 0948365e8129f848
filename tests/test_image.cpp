// The Image record: its row flip and its files, with their messages.
#include <cstring>

#include "image/file_commands.h"
#include "image/image_file.h"
#include "image/pixel_memory.h"
#include "test_support.h"

class ImageFiles : public TempDirTest {};

TEST_F(ImageFiles, FlipRowsTwiceRestoresTheBytesAndToleratesNoPixels) {
    Image image;
    image.replace(2, 3, allocPixels(2, 3));
    for (int i = 0; i < 24; ++i) image.pixels[i] = (unsigned char)i;
    image.flipRows();
    EXPECT_EQ(image.pixels[0], 16);
    EXPECT_EQ(image.pixels[16], 0);
    EXPECT_EQ(image.pixels[8], 8);
    image.flipRows();
    for (int i = 0; i < 24; ++i) EXPECT_EQ(image.pixels[i], i);
    image.release();
    EXPECT_EQ(image.width, 0);
    EXPECT_EQ(image.pixels, nullptr);

    Image liar; // sizes that promise pixels it does not have
    liar.width = 500;
    liar.height = 500;
    liar.flipRows();
    EXPECT_EQ(liar.pixels, nullptr);
}

TEST_F(ImageFiles, LoadPutsTheTopRowFirstAndSaveRestoresIt) {
    // Stored bottom-left: first the bottom row (blue), then the top (red).
    writeBytes(path("in.tga"), [] {
        TgaHeader hd;
        hd.width = 1;
        hd.height = 2;
        return hd.with({255, 0, 0, 0, 0, 255});
    }());
    Image image;
    ASSERT_EQ(loadImageFile(path("in.tga").c_str(), &image), IMAGE_FILE_OK);
    EXPECT_EQ(Bytes(image.pixels, image.pixels + 8), (Bytes{255, 0, 0, 255, 0, 0, 255, 255}));
    ASSERT_EQ(saveImageFile(path("out.tga").c_str(), image), IMAGE_FILE_OK);
    EXPECT_EQ(Bytes(image.pixels, image.pixels + 8), (Bytes{255, 0, 0, 255, 0, 0, 255, 255}));
    EXPECT_EQ(pixelData(readBytes(path("out.tga"))), (Bytes{255, 0, 0, 255, 0, 0, 255, 255}));
    image.release();
}

TEST_F(ImageFiles, AFailedLoadKeepsThePictureAndSaysWhy) {
    Image image;
    image.replace(1, 1, allocPixels(1, 1));
    unsigned char *before = image.pixels;
    std::string file = path("missing.tga");
    bool ok = true;
    EXPECT_EQ(captureOutput([&] { ok = readImageFile(file.c_str(), &image); }),
              "Error trying to set image to `" + file + "'!\ncannot open file\n");
    EXPECT_FALSE(ok);
    EXPECT_EQ(image.pixels, before);
    EXPECT_EQ(image.width, 1);
    image.release();
}

TEST_F(ImageFiles, SavingAnImageWithoutPixelsIsRefusedUnlessItHasNoArea) {
    Image fresh;
    EXPECT_EQ(saveImageFile(path("a.tga").c_str(), fresh), TGA_NO_DATA);
    EXPECT_FALSE(std::filesystem::exists(path("a.tga")));

    Image flat;
    flat.width = 0;
    flat.height = 5;
    EXPECT_EQ(saveImageFile(path("b.tga").c_str(), flat), IMAGE_FILE_OK);
    EXPECT_EQ(readBytes(path("b.tga")).size(), 39u);
}

// Large buffers given back are handed out again, but only for a request
// they hold without wasting much; the smallest that fits wins.
TEST(PixelMemory, GivenBackBuffersAreHandedOutAgainForAboutTheirSize) {
    constexpr size_t kMiB = (size_t)1 << 20;
    const auto fill = [](size_t bytes) {
        void *memory = allocatePixelMemory(bytes);
        memset(memory, 1, bytes); // all of it must be there
        return memory;
    };
    void *eight = fill(8 * kMiB), *sixteen = fill(16 * kMiB);
    freePixelMemory(eight);
    freePixelMemory(sixteen);
    void *again = fill(15 * kMiB);
    EXPECT_EQ(again, sixteen);
    void *small = fill(8 * kMiB - 4096);
    EXPECT_EQ(small, eight);
    freePixelMemory(small);
    void *half = fill(4 * kMiB); // would waste half of the kept one
    EXPECT_NE(half, eight);
    void *larger = fill(9 * kMiB); // more than any kept one holds
    EXPECT_NE(larger, again);
    for (void *memory : {again, half, larger}) freePixelMemory(memory);
    freePixelMemory(nullptr);
}
