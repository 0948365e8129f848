// The PNG codec (image/png_file.cpp): the PngSuite against libpng's own
// decoding, 16-bit rounding, round trips against TGA, announced sizes,
// damaged files, colour profiles.
#include <lcms2.h>
#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <set>

#include "image/image_file.h"
#include "image/premultiply.h"
#include "test_support.h"

// The codec's own reader (declared for the format table in image_file.cpp).
int loadPngFile(const char *path, FILE *file, Image *result);

namespace {

// The PNG reader on a file, whatever its first bytes.
int loadAsPng(const std::string &path, Image *image) {
    FILE *f = fopen(path.c_str(), "rb");
    if (!f) return TGA_CANNOT_OPEN;
    const int code = loadPngFile(path.c_str(), f, image);
    fclose(f);
    return code;
}

const std::string kSuite = PNGSUITE_DIR;

// libpng reports errors by longjmp, and says nothing.
void pngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void pngWarning(png_structp, png_const_charp) {}

// A picture as libpng decodes a file with its own transforms: palettes, tRNS
// and low bit depths expanded, 16 bits scaled with rounding (png_set_scale_16,
// not the truncating png_set_strip_16), grey made RGB, opaque alpha added,
// no gamma; then premultiplied by premultiplyFloor, the rule of the TGA
// reader. An independent reference for the loader.
struct Picture {
    int width = 0, height = 0;
    Bytes rgba;
};

bool decodeWithLibpng(const std::string &path, Picture *out) {
    FILE *f = fopen(path.c_str(), "rb");
    if (!f) return false;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, pngError, pngWarning);
    png_infop info = png_create_info_struct(png);
    Bytes pixels;
    std::vector<png_bytep> rows;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        fclose(f);
        return false;
    }
    png_init_io(png, f);
    png_read_info(png, info);
    png_set_expand(png);
    png_set_scale_16(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const png_uint_32 width = png_get_image_width(png, info), height = png_get_image_height(png, info);
    const size_t rowBytes = png_get_rowbytes(png, info);
    if (rowBytes != (size_t)width * 4) png_longjmp(png, 1);
    pixels.resize(rowBytes * height);
    rows.resize(height);
    for (png_uint_32 y = 0; y < height; ++y) rows[y] = pixels.data() + y * rowBytes;
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    fclose(f);
    for (size_t i = 0; i < pixels.size(); i += 4)
        for (int k = 0; k < 3; ++k) pixels[i + k] = premultiplyFloor(pixels[i + k], pixels[i + 3]);
    out->width = (int)width;
    out->height = (int)height;
    out->rgba = std::move(pixels);
    return true;
}

// A file libpng writes from rows of samples (16-bit ones big-endian), with
// an iCCP profile when one is given.
struct PngRecipe {
    int width = 1, height = 1, depth = 8, colourType = PNG_COLOR_TYPE_RGBA, interlace = PNG_INTERLACE_NONE;
    Bytes samples;
    Bytes profile;
};

void appendBytes(png_structp png, png_bytep data, png_size_t n) {
    Bytes *out = (Bytes *)png_get_io_ptr(png);
    out->insert(out->end(), data, data + n);
}
void flushNothing(png_structp) {}

Bytes encodeWithLibpng(const PngRecipe &recipe) {
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, pngError, pngWarning);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        ADD_FAILURE() << "libpng could not write the test file";
        return Bytes();
    }
    png_set_write_fn(png, &out, appendBytes, flushNothing);
    png_set_IHDR(png, info, recipe.width, recipe.height, recipe.depth, recipe.colourType, recipe.interlace,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!recipe.profile.empty())
        png_set_iCCP(png, info, "test profile", PNG_COMPRESSION_TYPE_BASE, recipe.profile.data(),
                     (png_uint_32)recipe.profile.size());
    png_write_info(png, info);
    const size_t rowBytes = recipe.samples.size() / recipe.height;
    std::vector<png_bytep> rows(recipe.height);
    for (int y = 0; y < recipe.height; ++y) rows[y] = (png_bytep)recipe.samples.data() + y * rowBytes;
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

// A PNG file made chunk by chunk, for headers libpng would not write.
void appendChunk(Bytes &file, const char *type, const Bytes &data) {
    const uint32_t n = (uint32_t)data.size();
    file.insert(file.end(), {(uint8_t)(n >> 24), (uint8_t)(n >> 16), (uint8_t)(n >> 8), (uint8_t)n});
    const size_t start = file.size();
    file.insert(file.end(), type, type + 4);
    file.insert(file.end(), data.begin(), data.end());
    const uint32_t crc = (uint32_t)crc32(0, file.data() + start, (uInt)(file.size() - start));
    file.insert(file.end(), {(uint8_t)(crc >> 24), (uint8_t)(crc >> 16), (uint8_t)(crc >> 8), (uint8_t)crc});
}

Bytes be32(uint32_t v) { return {(uint8_t)(v >> 24), (uint8_t)(v >> 16), (uint8_t)(v >> 8), (uint8_t)v}; }

// A file whose IHDR announces width x height grey pixels of one bit, with
// an IDAT of a few rows of zeros.
Bytes announcing(uint32_t width, uint32_t height) {
    Bytes file = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    Bytes ihdr = be32(width);
    const Bytes h = be32(height);
    ihdr.insert(ihdr.end(), h.begin(), h.end());
    ihdr.insert(ihdr.end(), {1, 0, 0, 0, 0});
    appendChunk(file, "IHDR", ihdr);
    const Bytes raw(4096, 0);
    Bytes packed(compressBound(raw.size()));
    uLongf n = packed.size();
    compress(packed.data(), &n, raw.data(), raw.size());
    packed.resize(n);
    appendChunk(file, "IDAT", packed);
    appendChunk(file, "IEND", {});
    return file;
}

// Where each chunk of a file starts (its length field), with its type.
std::vector<std::pair<size_t, std::string>> chunksOf(const Bytes &file) {
    std::vector<std::pair<size_t, std::string>> chunks;
    for (size_t at = 8; at + 12 <= file.size();) {
        const uint32_t n = (uint32_t)file[at] << 24 | file[at + 1] << 16 | file[at + 2] << 8 | file[at + 3];
        chunks.push_back({at, std::string((const char *)&file[at + 4], 4)});
        at += 12 + (size_t)n;
    }
    return chunks;
}

// A premultiplied picture whose every alpha meets every colour up to it:
// 256 x 256, alpha the row, red the column as far as the alpha allows.
Image everyAlpha() {
    Image image;
    image.replace(256, 256, allocPixels(256, 256));
    for (int a = 0; a < 256; ++a)
        for (int x = 0; x < 256; ++x) {
            unsigned char *p = image.pixels + (a * 256 + x) * 4;
            const int c = std::min(x, a);
            p[0] = (unsigned char)c;
            p[1] = (unsigned char)(a - c);
            p[2] = (unsigned char)(x * 7 % (a + 1));
            p[3] = (unsigned char)a;
        }
    return image;
}

// Random premultiplied pixels, a third of them opaque.
Image randomPicture(int width, int height, unsigned seed) {
    std::mt19937 random(seed);
    Image image;
    image.replace(width, height, allocPixels(width, height));
    for (size_t i = 0; i < (size_t)width * height; ++i) {
        unsigned char *p = image.pixels + 4 * i;
        const int a = random() % 3 == 0 ? 255 : (int)(random() % 256);
        for (int k = 0; k < 3; ++k) p[k] = (unsigned char)(random() % (a + 1));
        p[3] = (unsigned char)a;
    }
    return image;
}

// Flat areas, as a drawing has: four colours in quarters, one transparent.
Image flatPicture(int width, int height) {
    Image image;
    image.replace(width, height, allocPixels(width, height));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            static const unsigned char colours[4][4] = {
                {200, 30, 30, 255}, {0, 0, 0, 0}, {20, 40, 60, 128}, {255, 255, 255, 255}};
            memcpy(image.pixels + ((size_t)y * width + x) * 4, colours[(y * 2 / height) * 2 + x * 2 / width], 4);
        }
    return image;
}

Bytes pixelsOf(const Image &image) {
    return Bytes(image.pixels, image.pixels + (size_t)image.width * image.height * 4);
}

class PngFile : public TempDirTest {
  protected:
    // Loads `bytes` as a file through the table into an image that already
    // holds a picture; on failure checks that the picture is untouched.
    int loadOver(const Bytes &bytes) {
        writeBytes(path("in.png"), bytes);
        Image image = randomPicture(3, 2, 7);
        const Image before = image;
        const Bytes old = pixelsOf(image);
        const int code = loadImageFile(path("in.png").c_str(), &image);
        if (code != IMAGE_FILE_OK) {
            EXPECT_EQ(image.pixels, before.pixels);
            EXPECT_EQ(image.width, 3);
            EXPECT_EQ(image.height, 2);
            EXPECT_EQ(pixelsOf(image), old);
            EXPECT_STRNE(imageFileErrorText(code), "unknown error") << code;
        }
        image.release();
        return code;
    }
};

TEST(PngSuite, EveryValidFileLoadsAsLibpngDecodesIt) {
    int checked = 0;
    for (const auto &entry : std::filesystem::directory_iterator(kSuite)) {
        const std::string name = entry.path().filename().string();
        if (entry.path().extension() != ".png" || name[0] == 'x') continue;
        Picture expected;
        ASSERT_TRUE(decodeWithLibpng(entry.path().string(), &expected)) << name;
        Image image;
        ASSERT_EQ(loadImageFile(entry.path().c_str(), &image), IMAGE_FILE_OK) << name;
        EXPECT_EQ(image.width, expected.width) << name;
        EXPECT_EQ(image.height, expected.height) << name;
        if (image.width == expected.width && image.height == expected.height) {
            EXPECT_TRUE(pixelsOf(image) == expected.rgba) << name;
        }
        image.release();
        ++checked;
    }
    EXPECT_EQ(checked, 161);
}

TEST(PngSuite, EveryBrokenFileIsRefusedWithItsCode) {
    // Read as PNG, each gives its code; through the table, the six whose
    // signature is damaged are no PNG files at all, and the TGA reader
    // refuses them with a code of its own.
    const std::map<std::string, int> expected = {
        {"xc1n0g08.png", IMAGE_FILE_CORRUPT},      // colour type 1
        {"xc9n2c08.png", IMAGE_FILE_CORRUPT},      // colour type 9
        {"xd0n2c08.png", IMAGE_FILE_CORRUPT},      // bit depth 0
        {"xd3n2c08.png", IMAGE_FILE_CORRUPT},      // bit depth 3
        {"xd9n2c08.png", IMAGE_FILE_CORRUPT},      // bit depth 99
        {"xdtn0g01.png", IMAGE_FILE_CORRUPT},      // no IDAT chunk
        {"xhdn0g08.png", IMAGE_FILE_BAD_CHECKSUM}, // IHDR checksum
        {"xcsn0g01.png", IMAGE_FILE_BAD_CHECKSUM}, // IDAT checksum
        {"xs1n0g01.png", IMAGE_FILE_CORRUPT},      // signature byte 1 without its top bit
        {"xs2n0g01.png", IMAGE_FILE_CORRUPT},      // signature byte 2 'Q'
        {"xs4n0g01.png", IMAGE_FILE_CORRUPT},      // signature byte 4 lower case
        {"xs7n0g01.png", IMAGE_FILE_CORRUPT},      // signature byte 7 a space
        {"xcrn0g04.png", IMAGE_FILE_CORRUPT},      // line ends made CR LF
        {"xlfn0g04.png", IMAGE_FILE_CORRUPT},      // line ends made LF
    };
    std::set<std::string> seen;
    for (const auto &entry : std::filesystem::directory_iterator(kSuite)) {
        const std::string name = entry.path().filename().string();
        if (entry.path().extension() != ".png" || name[0] != 'x') continue;
        seen.insert(name);
        ASSERT_TRUE(expected.count(name)) << name << " has no expected code";
        Image image;
        EXPECT_EQ(loadAsPng(entry.path().string(), &image), expected.at(name)) << name;
        EXPECT_TRUE(image.empty()) << name;
        Image held = randomPicture(2, 2, 1);
        const Image before = held;
        const int code = loadImageFile(entry.path().c_str(), &held);
        EXPECT_NE(code, IMAGE_FILE_OK) << name;
        EXPECT_STRNE(imageFileErrorText(code), "unknown error") << name;
        EXPECT_EQ(held.pixels, before.pixels) << name;
        held.release();
    }
    EXPECT_EQ(seen.size(), expected.size());
}

// Every 16-bit value is rounded to the nearest 8-bit one, colour and alpha
// alike, and libpng's png_set_scale_16, the reference above, agrees.
TEST_F(PngFile, SixteenBitSamplesAreRounded) {
    auto rounded = [](unsigned v) { return (unsigned char)((v * 255 + 32767) / 65535); };
    for (int interlace : {PNG_INTERLACE_NONE, PNG_INTERLACE_ADAM7}) {
        PngRecipe grey;
        grey.width = grey.height = 256;
        grey.depth = 16;
        grey.colourType = PNG_COLOR_TYPE_GRAY;
        grey.interlace = interlace;
        for (unsigned v = 0; v < 65536; ++v) grey.samples.insert(grey.samples.end(), {(uint8_t)(v >> 8), (uint8_t)v});
        writeBytes(path("grey16.png"), encodeWithLibpng(grey));
        Image image;
        ASSERT_EQ(loadImageFile(path("grey16.png").c_str(), &image), IMAGE_FILE_OK);
        Picture reference;
        ASSERT_TRUE(decodeWithLibpng(path("grey16.png"), &reference));
        for (unsigned v = 0; v < 65536; ++v) {
            const unsigned char *p = image.pixels + 4 * v;
            ASSERT_TRUE(p[0] == rounded(v) && p[1] == rounded(v) && p[2] == rounded(v) && p[3] == 255) << v;
            ASSERT_EQ(reference.rgba[4 * v], rounded(v)) << v;
        }
        image.release();

        // RGBA: each channel through every value, alpha too, premultiplied after rounding.
        PngRecipe rgba = grey;
        rgba.colourType = PNG_COLOR_TYPE_RGBA;
        rgba.samples.clear();
        for (unsigned v = 0; v < 65536; ++v)
            for (unsigned s : {v, 65535 - v, v ^ 0x5A5Au, (v * 40503u) & 0xFFFF})
                rgba.samples.insert(rgba.samples.end(), {(uint8_t)(s >> 8), (uint8_t)s});
        writeBytes(path("rgba16.png"), encodeWithLibpng(rgba));
        ASSERT_EQ(loadImageFile(path("rgba16.png").c_str(), &image), IMAGE_FILE_OK);
        for (unsigned v = 0; v < 65536; ++v) {
            const unsigned a = rounded((v * 40503u) & 0xFFFF);
            const unsigned char expected[4] = {premultiplyFloor(rounded(v), a), premultiplyFloor(rounded(65535 - v), a),
                                               premultiplyFloor(rounded(v ^ 0x5A5Au), a), (unsigned char)a};
            ASSERT_EQ(memcmp(image.pixels + 4 * v, expected, 4), 0) << v;
        }
        image.release();
    }
}

// The same premultiply and divide rules as TGA: the round trips agree to
// the byte, for every alpha, and opaque pixels come back as they were.
TEST_F(PngFile, RoundTripEqualsTheTgaRoundTrip) {
    for (Image image : {everyAlpha(), randomPicture(333, 77, 3), flatPicture(512, 384)}) {
        ASSERT_EQ(saveImageFile(path("r.png").c_str(), image), IMAGE_FILE_OK);
        ASSERT_EQ(saveImageFile(path("r.tga").c_str(), image), IMAGE_FILE_OK);
        Image png, tga;
        ASSERT_EQ(loadImageFile(path("r.png").c_str(), &png), IMAGE_FILE_OK);
        ASSERT_EQ(loadImageFile(path("r.tga").c_str(), &tga), IMAGE_FILE_OK);
        ASSERT_EQ(png.width, image.width);
        ASSERT_EQ(png.height, image.height);
        EXPECT_TRUE(pixelsOf(png) == pixelsOf(tga));
        for (size_t i = 0; i < (size_t)image.width * image.height; ++i)
            if (image.pixels[4 * i + 3] == 255) {
                ASSERT_EQ(memcmp(png.pixels + 4 * i, image.pixels + 4 * i, 4), 0) << i;
            }
        png.release();
        tga.release();
        image.release();
    }
}

// Flat areas are coded as runs: a drawing's file stays small.
TEST_F(PngFile, FlatAreasMakeSmallFiles) {
    Image image = flatPicture(1024, 768);
    ASSERT_EQ(saveImageFile(path("flat.png").c_str(), image), IMAGE_FILE_OK);
    EXPECT_LT(readBytes(path("flat.png")).size(), 20000u); // of 3 MB of pixels
    image.release();
}

// What a file announces is checked before any pixel memory is taken.
TEST_F(PngFile, AnnouncedSizesBeyondTheLimitsAreRefused) {
    // 13325 x 80581 = 2^30 + 1 pixels; a width above INT_MAX; a height too.
    EXPECT_EQ(loadOver(announcing(13325, 80581)), IMAGE_FILE_TOO_LARGE);
    EXPECT_EQ(loadOver(announcing(80581, 13325)), IMAGE_FILE_TOO_LARGE);
    EXPECT_EQ(loadOver(announcing(0x80000000u, 1)), IMAGE_FILE_TOO_LARGE);
    EXPECT_EQ(loadOver(announcing(1, 0xFFFFFFFFu)), IMAGE_FILE_TOO_LARGE);
    // Zero is no size at all.
    EXPECT_EQ(loadOver(announcing(0, 5)), IMAGE_FILE_CORRUPT);
    // 2^30 pixels are taken, but a few kilobytes cannot hold them even at
    // deflate's best ratio: refused as cut short, without taking the 4 GiB
    // the picture would need (the child may grow by 256 MiB only).
    writeBytes(path("big.png"), announcing(32768, 32768));
    const std::string big = path("big.png");
    EXPECT_EQ(inChild([&] {
                  limitMemoryGrowth(256 << 20);
                  Image image;
                  return loadAsPng(big, &image);
              }),
              IMAGE_FILE_TRUNCATED);
}

// Ancillary chunks that inflate to more than the decoder takes (a zTXt
// bomb: a few hundred kilobytes that inflate to 200 MB) are refused
// without the memory being taken.
TEST_F(PngFile, InflatingChunksAreBounded) {
    PngRecipe recipe;
    recipe.width = recipe.height = 4;
    recipe.samples.assign(64, 200);
    const Bytes plain = encodeWithLibpng(recipe);
    // 200 MB of zeros, deflated by runs (fast, about 1000 to 1).
    const Bytes zeros((size_t)1 << 20, 0);
    Bytes packed(1 << 20);
    z_stream z = {};
    ASSERT_EQ(deflateInit2(&z, 9, Z_DEFLATED, 15, 9, Z_RLE), Z_OK);
    z.next_out = packed.data();
    z.avail_out = (uInt)packed.size();
    for (int i = 0; i < 200; ++i) {
        z.next_in = (Bytef *)zeros.data();
        z.avail_in = (uInt)zeros.size();
        ASSERT_EQ(deflate(&z, i == 199 ? Z_FINISH : Z_NO_FLUSH), i == 199 ? Z_STREAM_END : Z_OK);
    }
    const size_t n = z.total_out;
    deflateEnd(&z);
    packed.resize(n);
    Bytes ztxt = {'C', 'o', 'm', 'm', 'e', 'n', 't', 0, 0};
    ztxt.resize(9 + n);
    std::copy(packed.begin(), packed.end(), ztxt.begin() + 9);
    Bytes bomb(plain.begin(), plain.begin() + 33);
    appendChunk(bomb, "zTXt", ztxt);
    bomb.insert(bomb.end(), plain.begin() + 33, plain.end());
    writeBytes(path("bomb.png"), bomb);
    const std::string file = path("bomb.png");
    EXPECT_EQ(inChild([&] {
                  limitMemoryGrowth(128 << 20);
                  Image image;
                  return loadAsPng(file, &image);
              }),
              IMAGE_FILE_UNSUPPORTED);
}

TEST_F(PngFile, TruncatedFilesAreRefusedAndLeaveTheImage) {
    PngRecipe interlaced;
    interlaced.width = 37;
    interlaced.height = 19;
    interlaced.interlace = PNG_INTERLACE_ADAM7;
    std::mt19937 random(5);
    for (int i = 0; i < 37 * 19 * 4; ++i) interlaced.samples.push_back((uint8_t)random());
    Image picture = randomPicture(41, 23, 9);
    ASSERT_EQ(saveImageFile(path("ours.png").c_str(), picture), IMAGE_FILE_OK);
    picture.release();
    for (const Bytes &file : {readBytes(kSuite + "/basn3p08.png"), readBytes(kSuite + "/ct1n0g04.png"),
                              encodeWithLibpng(interlaced), readBytes(path("ours.png"))}) {
        ASSERT_GT(file.size(), 100u);
        ASSERT_EQ(loadOver(file), IMAGE_FILE_OK);
        // Shorter than the signature, a file is no PNG file (the TGA reader
        // takes it); from there on, every cut is an early end.
        for (size_t n = 8; n < file.size(); ++n)
            ASSERT_EQ(loadOver(Bytes(file.begin(), file.begin() + n)), IMAGE_FILE_TRUNCATED) << n;
    }
}

TEST_F(PngFile, AFlippedChecksumByteIsABadChecksum) {
    // Files of several IDAT chunks, and of ancillary chunks before and after them.
    for (const char *name : {"oi4n2c16.png", "ct1n0g04.png", "ccwn2c08.png", "basn6a08.png"}) {
        const Bytes file = readBytes(kSuite + "/" + name);
        const auto chunks = chunksOf(file);
        ASSERT_GE(chunks.size(), 3u) << name;
        for (const auto &[at, type] : chunks) {
            const uint32_t n = (uint32_t)file[at] << 24 | file[at + 1] << 16 | file[at + 2] << 8 | file[at + 3];
            for (size_t k = 0; k < 4; ++k) {
                Bytes damaged = file;
                damaged[at + 8 + n + k] ^= 0x10;
                ASSERT_EQ(loadOver(damaged), IMAGE_FILE_BAD_CHECKSUM) << name << " " << type << " " << k;
            }
        }
    }
}

// A profile made with Little CMS, its pixels converted by Little CMS itself.
Bytes savedProfile(cmsHPROFILE profile) {
    cmsUInt32Number n = 0;
    cmsSaveProfileToMem(profile, nullptr, &n);
    Bytes bytes(n);
    cmsSaveProfileToMem(profile, bytes.data(), &n);
    return bytes;
}

// The profile is opened from the bytes the file carries: saving rounds its
// numbers, so the profile made in memory converts a little differently.
Bytes convertedByLittleCms(const Bytes &profileBytes, cmsUInt32Number format, const Bytes &pixels, size_t count) {
    cmsHPROFILE profile = cmsOpenProfileFromMem(profileBytes.data(), (cmsUInt32Number)profileBytes.size());
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHTRANSFORM transform =
        cmsCreateTransform(profile, format, srgb, TYPE_RGBA_8, INTENT_PERCEPTUAL, cmsFLAGS_COPY_ALPHA);
    Bytes out(count * 4);
    cmsDoTransform(transform, pixels.data(), out.data(), (cmsUInt32Number)count);
    cmsDeleteTransform(transform);
    cmsCloseProfile(srgb);
    cmsCloseProfile(profile);
    for (size_t i = 0; i < out.size(); i += 4)
        for (int k = 0; k < 3; ++k) out[i + k] = premultiplyFloor(out[i + k], out[i + 3]);
    return out;
}

TEST_F(PngFile, WideGamutProfileIsConvertedToSrgb) {
    // Rec. 2020 primaries, D65, gamma 2.2: far from sRGB.
    cmsCIExyY white;
    cmsWhitePointFromTemp(&white, 6504);
    const cmsCIExyYTRIPLE primaries = {{0.708, 0.292, 1.0}, {0.170, 0.797, 1.0}, {0.131, 0.046, 1.0}};
    cmsToneCurve *gamma = cmsBuildGamma(nullptr, 2.2);
    cmsToneCurve *curves[3] = {gamma, gamma, gamma};
    cmsHPROFILE wide = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsFreeToneCurve(gamma);
    PngRecipe recipe;
    recipe.width = 64;
    recipe.height = 48;
    std::mt19937 random(4);
    for (int i = 0; i < 64 * 48 * 4; ++i) recipe.samples.push_back((uint8_t)random());
    recipe.profile = savedProfile(wide);
    writeBytes(path("wide.png"), encodeWithLibpng(recipe));
    Image image;
    ASSERT_EQ(loadImageFile(path("wide.png").c_str(), &image), IMAGE_FILE_OK);
    EXPECT_TRUE(pixelsOf(image) == convertedByLittleCms(recipe.profile, TYPE_RGBA_8, recipe.samples, 64 * 48));
    image.release();
    cmsCloseProfile(wide);
}

TEST_F(PngFile, GreyProfileIsConvertedFromGrey) {
    // A linear grey: mid greys come out much lighter in sRGB.
    cmsToneCurve *linear = cmsBuildGamma(nullptr, 1.0);
    cmsHPROFILE grey = cmsCreateGrayProfile(cmsD50_xyY(), linear);
    cmsFreeToneCurve(linear);
    PngRecipe recipe;
    recipe.width = 256;
    recipe.height = 2;
    recipe.colourType = PNG_COLOR_TYPE_GRAY_ALPHA;
    for (int y = 0; y < 2; ++y)
        for (int v = 0; v < 256; ++v)
            recipe.samples.insert(recipe.samples.end(), {(uint8_t)v, (uint8_t)(y ? 255 - v : 255)});
    recipe.profile = savedProfile(grey);
    writeBytes(path("grey.png"), encodeWithLibpng(recipe));
    Image image;
    ASSERT_EQ(loadImageFile(path("grey.png").c_str(), &image), IMAGE_FILE_OK);
    const Bytes expected = convertedByLittleCms(recipe.profile, TYPE_GRAYA_8, recipe.samples, 512);
    EXPECT_TRUE(pixelsOf(image) == expected);
    EXPECT_GT(image.pixels[4 * 128], 170); // linear 128 is sRGB 188
    image.release();
    cmsCloseProfile(grey);
}

} // namespace
