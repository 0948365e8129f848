// JPEG files and ICC profiles. Every file is made here with libjpeg, every
// profile with Little CMS.
#include "test_support.h" // first: jpeglib.h needs FILE and size_t

#include <jpeglib.h>
#include <lcms2.h>

#include "image/colour_profile.h"
#include "image/image_file.h"
#include "image/premultiply.h"

namespace {

// Channel `c` of the colour numbered `cell`.
int level(int cell, int c) { return 25 + (cell * 47 + c * 71) % 200; }
using Samples = std::function<int(int x, int y, int c)>;
// Flat 8 x 8 blocks, three a row, numbered in reading order: quality 100
// keeps each to a level or so.
int blocks(int x, int y, int c) { return level(x / 8 + y / 8 * 3, c); }

struct JpegMaker {
    int width = 24, height = 16, quality = 100;
    J_COLOR_SPACE space = JCS_RGB, stored = JCS_UNKNOWN; // stored: when not libjpeg's choice
    bool progressive = false, arithmetic = false, adobe = true, fullChroma = true;
    std::vector<jpeg_scan_info> scans;
    Bytes exif, icc;

    Bytes make(const Samples &sample = blocks) const {
        const int n = space == JCS_GRAYSCALE ? 1 : space == JCS_CMYK ? 4 : 3;
        jpeg_compress_struct c;
        jpeg_error_mgr errors;
        c.err = jpeg_std_error(&errors);
        jpeg_create_compress(&c);
        unsigned char *out = nullptr;
        unsigned long size = 0;
        jpeg_mem_dest(&c, &out, &size);
        c.image_width = width, c.image_height = height, c.input_components = n, c.in_color_space = space;
        jpeg_set_defaults(&c);
        if (stored != JCS_UNKNOWN) jpeg_set_colorspace(&c, stored);
        jpeg_set_quality(&c, quality, TRUE);
        for (int i = 0; fullChroma && i < c.num_components; ++i) c.comp_info[i].h_samp_factor = c.comp_info[i].v_samp_factor = 1;
        c.write_Adobe_marker = c.write_Adobe_marker && adobe, c.arith_code = arithmetic;
        if (progressive) jpeg_simple_progression(&c);
        if (!scans.empty()) c.scan_info = scans.data(), c.num_scans = (int)scans.size();
        jpeg_start_compress(&c, TRUE);
        if (!exif.empty()) jpeg_write_marker(&c, JPEG_APP0 + 1, exif.data(), (unsigned)exif.size());
        if (!icc.empty()) jpeg_write_icc_profile(&c, icc.data(), (unsigned)icc.size());
        Bytes row(width * n);
        for (JSAMPROW rows[1] = {row.data()}; c.next_scanline < c.image_height; jpeg_write_scanlines(&c, rows, 1))
            for (int i = 0; i < width * n; ++i) row[i] = (uint8_t)sample(i / n, (int)c.next_scanline, i % n);
        jpeg_finish_compress(&c);
        jpeg_destroy_compress(&c);
        Bytes file(out, out + size);
        free(out);
        return file;
    }
};

Bytes saved(cmsHPROFILE profile) {
    cmsUInt32Number n = 0;
    cmsSaveProfileToMem(profile, nullptr, &n);
    Bytes bytes(n);
    cmsSaveProfileToMem(profile, bytes.data(), &n);
    cmsCloseProfile(profile);
    return bytes;
}

// Adobe RGB's primaries and gamma: wider than sRGB.
Bytes wideProfile() {
    cmsCIExyY white;
    cmsWhitePointFromTemp(&white, 6504);
    const cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1}, {0.21, 0.71, 1}, {0.15, 0.06, 1}};
    cmsToneCurve *gamma = cmsBuildGamma(nullptr, 2.2), *curves[3] = {gamma, gamma, gamma};
    Bytes bytes = saved(cmsCreateRGBProfile(&white, &primaries, curves));
    cmsFreeToneCurve(gamma);
    return bytes;
}

// A printer's CMYK profile: a table from the inks to Lab, between identity curves.
Bytes cmykProfile() {
    cmsHPROFILE p = cmsCreateProfilePlaceholder(nullptr);
    cmsSetDeviceClass(p, cmsSigOutputClass), cmsSetColorSpace(p, cmsSigCmykData), cmsSetPCS(p, cmsSigLabData);
    cmsStage *table = cmsStageAllocCLut16bit(nullptr, 3, 4, 3, nullptr);
    auto lab = [](const cmsUInt16Number in[], cmsUInt16Number out[], void *) {
        const cmsCIELab value = {95 - (in[3] + in[0] / 4) / 900.0, (in[1] - in[0]) / 1100.0, (in[2] - in[1]) / 1100.0};
        cmsFloat2LabEncoded(out, &value);
        return 1;
    };
    cmsStageSampleCLut16bit(table, lab, nullptr, 0);
    cmsPipeline *lut = cmsPipelineAlloc(nullptr, 4, 3);
    cmsPipelineInsertStage(lut, cmsAT_END, cmsStageAllocToneCurves(nullptr, 4, nullptr));
    cmsPipelineInsertStage(lut, cmsAT_END, table);
    cmsPipelineInsertStage(lut, cmsAT_END, cmsStageAllocToneCurves(nullptr, 3, nullptr));
    cmsWriteTag(p, cmsSigAToB0Tag, lut);
    cmsWriteTag(p, cmsSigMediaWhitePointTag, cmsD50_XYZ());
    cmsPipelineFree(lut);
    return saved(p);
}

// `count` pixels of `format` from `profile` to sRGB RGBA, by Little CMS.
Bytes lcmsToSrgb(const Bytes &profile, cmsUInt32Number format, const Bytes &pixels, size_t count) {
    cmsHPROFILE in = cmsOpenProfileFromMem(profile.data(), (cmsUInt32Number)profile.size()), srgb = cmsCreate_sRGBProfile();
    cmsHTRANSFORM t = cmsCreateTransform(in, format, srgb, TYPE_RGBA_8, INTENT_PERCEPTUAL, cmsFLAGS_COPY_ALPHA);
    Bytes out(count * 4, 255);
    cmsDoTransform(t, pixels.data(), out.data(), (cmsUInt32Number)count);
    cmsDeleteTransform(t), cmsCloseProfile(in), cmsCloseProfile(srgb);
    return out;
}

// An EXIF block whose first IFD holds a Make entry, then the orientation.
Bytes exifBlock(int orientation, bool bigEndian, uint32_t ifdOffset = 8) {
    Bytes b = {'E', 'x', 'i', 'f', 0, 0, (uint8_t)(bigEndian ? 'M' : 'I'), (uint8_t)(bigEndian ? 'M' : 'I')};
    auto put = [&](uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) b.push_back((uint8_t)(v >> 8 * (bigEndian ? bytes - 1 - i : i)));
    };
    put(42, 2), put(ifdOffset, 4), put(2, 2), put(0x010F, 2), put(2, 2), put(4, 4), put(0x63616D, 4);
    put(0x0112, 2), put(3, 2), put(1, 4), put(orientation, 2), put(0, 2), put(0, 4);
    return b;
}

class JpegFile : public TempDirTest {
  protected:
    struct Loaded : Image {
        ~Loaded() { release(); }
        Bytes bytes() const { return Bytes(pixels, pixels + (size_t)width * height * 4); }
        // Whether the middle of block k is its colour (or the light its CMYK inks leave), to `tolerance`.
        bool shows(int k, int tolerance, bool inks = false) const {
            const unsigned char *p = pixels + ((size_t)(k / 3 * 8 + 4) * width + k % 3 * 8 + 4) * 4;
            for (int c = 0; c < 3; ++c)
                if (abs(p[c] - (inks ? mulDiv255(255 - level(k, c), 255 - level(k, 3)) : level(k, c))) > tolerance) return false;
            return p[3] == 255;
        }
    };
    int load(const Bytes &file, Image *image) {
        writeBytes(path("in.jpg"), file);
        return loadImageFile(path("in.jpg").c_str(), image);
    }
};

TEST_F(JpegFile, EveryCodingAndColourSpaceDecodes) {
    JpegMaker maker;
    maker.width = 64, maker.height = 48, maker.quality = 90, maker.fullChroma = false;
    const Samples gradient = [](int x, int y, int c) { return c == 0 ? x * 4 : c == 1 ? y * 5 : 128 + x - y; };
    Loaded baseline, progressive, arithmetic, grey;
    ASSERT_EQ(load(maker.make(gradient), &baseline), IMAGE_FILE_OK);
    maker.progressive = true;
    ASSERT_EQ(load(maker.make(gradient), &progressive), IMAGE_FILE_OK);
    maker.progressive = false, maker.arithmetic = true;
    ASSERT_EQ(load(maker.make(gradient), &arithmetic), IMAGE_FILE_OK);
    ASSERT_TRUE(baseline.width == 64 && baseline.height == 48);
    EXPECT_EQ(progressive.bytes(), baseline.bytes());
    EXPECT_EQ(arithmetic.bytes(), baseline.bytes());
    double error = 0;
    for (int i = 0; i < 64 * 48 * 4; ++i) error += abs(baseline.pixels[i] - (i % 4 == 3 ? 255 : gradient(i / 4 % 64, i / 256, i % 4)));
    EXPECT_LT(error / (64 * 48 * 3), 1.5);

    maker = JpegMaker(), maker.space = JCS_GRAYSCALE;
    ASSERT_EQ(load(maker.make(), &grey), IMAGE_FILE_OK);
    EXPECT_TRUE(grey.pixels[0] == 25 && grey.pixels[1] == 25 && grey.pixels[2] == 25 && grey.pixels[3] == 255);
    // Plain CMYK, Adobe's (which stores 255 - ink), and Adobe's YCCK.
    for (int kind = 0; kind < 3; ++kind) {
        maker.space = JCS_CMYK, maker.adobe = kind > 0, maker.stored = kind == 2 ? JCS_YCCK : JCS_UNKNOWN;
        Loaded image;
        ASSERT_EQ(load(maker.make([&](int x, int y, int c) { return kind ? 255 - blocks(x, y, c) : blocks(x, y, c); }), &image), IMAGE_FILE_OK);
        for (int k = 0; k < 6; ++k) EXPECT_TRUE(image.shows(k, kind == 2 ? 2 : 0, true)) << kind << " " << k;
    }
}

TEST_F(JpegFile, EveryExifOrientationComesUpright) {
    // The blocks a camera stores for the upright 0 1 2 / 3 4 5, by orientation.
    const std::vector<int> stored[9] = {{}, {0, 1, 2, 3, 4, 5}, {2, 1, 0, 5, 4, 3}, {5, 4, 3, 2, 1, 0}, {3, 4, 5, 0, 1, 2},
                                        {0, 3, 1, 4, 2, 5}, {2, 5, 1, 4, 0, 3}, {5, 2, 4, 1, 3, 0}, {3, 0, 4, 1, 5, 2}};
    for (int orientation = 1; orientation <= 8; ++orientation)
        for (bool bigEndian : {false, true}) {
            JpegMaker maker;
            const int columns = orientation >= 5 ? 2 : 3;
            maker.width = columns * 8, maker.height = 48 / columns, maker.exif = exifBlock(orientation, bigEndian);
            Loaded image;
            ASSERT_EQ(load(maker.make([&](int x, int y, int c) { return level(stored[orientation][y / 8 * columns + x / 8], c); }), &image), IMAGE_FILE_OK);
            ASSERT_TRUE(image.width == 24 && image.height == 16) << orientation;
            for (int k = 0; k < 6; ++k) EXPECT_TRUE(image.shows(k, 2)) << orientation << bigEndian << k;
        }
    // Broken blocks are ignored: the first IFD past the end, its entries cut short.
    JpegMaker maker;
    Bytes cut = exifBlock(6, false);
    cut.resize(cut.size() - 14);
    for (const Bytes &exif : {exifBlock(6, true, 0xFFFFFFF0u), exifBlock(6, false, 60), cut}) {
        Loaded image;
        maker.exif = exif;
        EXPECT_TRUE(load(maker.make(), &image) == IMAGE_FILE_OK && image.width == 24);
    }
}

TEST_F(JpegFile, ProfilesConvertToSrgbUnlessTheyAreSrgb) {
    JpegMaker maker;
    Loaded plain, wide, srgb, adobe, notAdobe;
    ASSERT_EQ(load(maker.make(), &plain), IMAGE_FILE_OK);
    maker.icc = wideProfile();
    ASSERT_EQ(load(maker.make(), &wide), IMAGE_FILE_OK);
    EXPECT_EQ(wide.bytes(), lcmsToSrgb(maker.icc, TYPE_RGBA_8, plain.bytes(), 24 * 16));
    EXPECT_NE(wide.bytes(), plain.bytes());
    maker.icc = saved(cmsCreate_sRGBProfile());
    ASSERT_EQ(load(maker.make(), &srgb), IMAGE_FILE_OK);
    EXPECT_EQ(srgb.bytes(), plain.bytes());
    // CMYK through a CMYK profile, stored inverted and plain.
    maker.space = JCS_CMYK, maker.icc = cmykProfile();
    ASSERT_EQ(load(maker.make([](int x, int y, int c) { return 255 - blocks(x, y, c); }), &adobe), IMAGE_FILE_OK);
    maker.adobe = false;
    ASSERT_EQ(load(maker.make(), &notAdobe), IMAGE_FILE_OK);
    Bytes inks;
    for (int i = 0; i < 24 * 16 * 4; ++i) inks.push_back((uint8_t)blocks(i / 4 % 24, i / 96, i % 4));
    EXPECT_EQ(adobe.bytes(), lcmsToSrgb(maker.icc, TYPE_CMYK_8, inks, 24 * 16));
    EXPECT_EQ(notAdobe.bytes(), adobe.bytes());
}

TEST_F(JpegFile, WritesTheColourOverBlackAndReadsItBack) {
    TestImage picture(64, 40, [](int c, int r) { return Pixel{(uint8_t)(c * 2), (uint8_t)(r * 3), 90, 255}; });
    TestImage halfClear(16, 16, [](int, int) { return Pixel{100, 50, 0, 128}; }), tooWide(65501, 1, [](int, int) { return 0; });
    Loaded back, over;
    ASSERT_EQ(saveImageFile(path("a.jpg").c_str(), picture), IMAGE_FILE_OK);
    ASSERT_EQ(loadImageFile(path("a.jpg").c_str(), &back), IMAGE_FILE_OK);
    ASSERT_TRUE(back.width == 64 && back.height == 40);
    double error = 0;
    for (size_t i = 0; i < 64 * 40 * 4; ++i) error += abs(back.pixels[i] - picture.pixels[i]);
    EXPECT_LT(error / (64 * 40 * 3), 1.5);
    ASSERT_EQ(saveImageFile(path("b.jpeg").c_str(), halfClear), IMAGE_FILE_OK);
    ASSERT_EQ(loadImageFile(path("b.jpeg").c_str(), &over), IMAGE_FILE_OK);
    EXPECT_TRUE(abs(over.pixels[0] - 100) <= 2 && abs(over.pixels[1] - 50) <= 2 && over.pixels[2] <= 2 && over.pixels[3] == 255);
    EXPECT_EQ(saveImageFile(path("c.jpg").c_str(), tooWide), IMAGE_FILE_TOO_LARGE_FOR_FORMAT);
}

TEST_F(JpegFile, HostileFilesFailWithTheirCodeAndLeaveTheImage) {
    JpegMaker maker;
    const Bytes baseline = maker.make();
    maker.progressive = true;
    const Bytes progressive = maker.make();
    TestImage kept(2, 2, [](int, int) { return 7; });
    const Bytes before = kept.bytes();
    auto fails = [&](const Bytes &file, int code) {
        EXPECT_EQ(load(file, &kept), code);
        EXPECT_TRUE(kept.width == 2 && kept.height == 2 && kept.bytes() == before);
    };
    for (const Bytes &file : {baseline, progressive})
        for (size_t size : {(size_t)20, file.size() / 2, file.size() - 10, file.size() - 2})
            fails(Bytes(file.begin(), file.begin() + size), IMAGE_FILE_TRUNCATED);
    // Patches of the frame header: FF C0 or C2, length, precision, height, width.
    auto patched = [](Bytes file, uint8_t frame, size_t at, std::initializer_list<uint8_t> bytes) {
        size_t sof = 0;
        while (sof + 1 < file.size() && !(file[sof] == 0xFF && file[sof + 1] == frame)) ++sof;
        std::copy(bytes.begin(), bytes.end(), file.begin() + sof + at);
        return file;
    };
    fails(patched(baseline, 0xC0, 1, {0xC3}), IMAGE_FILE_UNSUPPORTED); // lossless
    fails(patched(baseline, 0xC0, 4, {12}), IMAGE_FILE_UNSUPPORTED);   // 12 bits
    fails(patched(baseline, 0xC0, 5, {0, 0}), IMAGE_FILE_CORRUPT);
    fails(patched(baseline, 0xC0, 5, {0xFF, 0xFF, 0xFF, 0xFF}), IMAGE_FILE_TOO_LARGE);
    fails(patched(baseline, 0xC0, 5, {0x9C, 0x40, 0x9C, 0x40}), IMAGE_FILE_TOO_LARGE); // 40000 x 40000
    // 30000 x 30000 progressive: its coefficients would take more than libjpeg may have.
    fails(patched(progressive, 0xC2, 5, {0x75, 0x30, 0x75, 0x30}), TGA_OUT_OF_MEMORY);

    // Every coefficient sent bit by bit, 704 scans a component: one component
    // decodes as baseline does; three, over a thousand scans, are refused.
    JpegMaker scans;
    scans.width = scans.height = 8, scans.space = JCS_RGB;
    for (int c = 0; c < 3; ++c)
        for (int k = 0; k < 64; ++k)
            for (int bit = 10; bit >= 0; --bit) scans.scans.push_back({1, {c}, k, k, bit == 10 ? 0 : bit + 1, bit});
    fails(scans.make(), IMAGE_FILE_CORRUPT);
    scans.scans.resize(704), scans.space = JCS_GRAYSCALE;
    Loaded many, few;
    ASSERT_EQ(load(scans.make(), &many), IMAGE_FILE_OK);
    scans.scans.clear();
    ASSERT_EQ(load(scans.make(), &few), IMAGE_FILE_OK);
    EXPECT_EQ(many.bytes(), few.bytes());
}

TEST(ColourProfile, TransformsOnlyWhereAProfileFitsAndIsNotSrgb) {
    const Bytes wide = wideProfile(), srgb = saved(cmsCreate_sRGBProfile()), junk(300, 7);
    auto fits = [](const Bytes &p, ProfilePixels layout) { return makeSrgbTransform(p.data(), p.size(), layout) != nullptr; };
    EXPECT_FALSE(fits(Bytes(), ProfilePixels::Rgb) || fits(junk, ProfilePixels::Rgb) || fits(srgb, ProfilePixels::Rgba) ||
                 fits(wide, ProfilePixels::Grey) || fits(wide, ProfilePixels::Cmyk) || fits(cmykProfile(), ProfilePixels::Rgb));
    // Alpha is copied.
    const Bytes rgba = {200, 30, 40, 77, 10, 250, 90, 0};
    Bytes out(8);
    convertToSrgb(*makeSrgbTransform(wide.data(), wide.size(), ProfilePixels::Rgba), rgba.data(), 2, out.data());
    EXPECT_EQ(out, lcmsToSrgb(wide, TYPE_RGBA_8, rgba, 2));
}

} // namespace
