// PNG files, through libspng.
//
// Reading takes every colour type and bit depth, interlaced or not, with
// its tRNS transparency, to 8-bit straight RGBA: libspng expands palettes
// and low bit depths itself, but cuts 16-bit samples to their high byte, so
// those are decoded at 16 bits and rounded here, (v x 255 + 32767) / 65535.
// gAMA and cHRM are ignored; an iCCP profile other than sRGB is converted to
// sRGB (colour_profile.h). The colour is then premultiplied by the TGA
// reader's rule. What a file announces is checked before any pixel memory
// is taken: more than kMostFilePixels pixels is refused, and so is a file
// too short to hold the pixels it announces even at deflate's best ratio.
// Text and profiles that inflate past kChunkLimit or kCacheLimit make the
// file one not taken (IMAGE_FILE_UNSUPPORTED), so that a small file cannot
// make the decoder allocate much beside the pixels.
//
// Writing stores 8-bit RGBA (colour type 6, not interlaced), divided by
// alpha by the TGA writer's rule, every row filtered by Sub, and deflated by
// Huffman codes alone or, for a picture with flat areas, by zlib's
// run-length strategy (runsPayOff): on a photograph faster than any zlib
// level, with a file about as small as level 6 with adaptive filters gives
// (the 3840 x 2160 bench picture: 16.5 MB against 16.1), and flat areas
// still shrink to almost nothing.
#include <spng.h>
#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "colour_profile.h"
#include "image_file.h"
#include "parallel.h"
#include "pixel_rows.h"

namespace {

// The bytes libspng may keep for one ancillary chunk once inflated (a text
// or a colour profile), and for all of them: bounds that a small hostile
// file cannot make it exceed, far above any real profile or comment.
constexpr size_t kChunkLimit = (size_t)16 << 20;
constexpr size_t kCacheLimit = (size_t)64 << 20;
// Deflate's best ratio: a match of 258 bytes coded in two bits.
constexpr uint64_t kMostDeflateRatio = 1032;

const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

struct ContextFree {
    void operator()(spng_ctx *ctx) const { spng_ctx_free(ctx); }
};
using Context = std::unique_ptr<spng_ctx, ContextFree>;
struct MemoryFree {
    void operator()(void *p) const { free(p); }
};
using Pixels = std::unique_ptr<unsigned char, MemoryFree>;

// The file as libspng reads it, noting how a read came up short (libspng
// lets the file end within IEND's checksum, which is truncation all the
// same) and keeping the first bytes, the signature and IHDR, for a look at
// the size they announce.
struct Source {
    FILE *file;
    bool ended = false, failed = false;
    unsigned char head[33] = {};
    size_t headBytes = 0;
};

int readSource(spng_ctx *, void *user, void *dst, size_t n) {
    Source &source = *static_cast<Source *>(user);
    const size_t got = fread(dst, 1, n, source.file);
    const size_t kept = std::min(got, sizeof source.head - source.headBytes);
    memcpy(source.head + source.headBytes, dst, kept);
    source.headBytes += kept;
    if (got == n) return SPNG_OK;
    if (ferror(source.file)) {
        source.failed = true;
        return SPNG_IO_ERROR;
    }
    source.ended = true;
    return SPNG_IO_EOF;
}

// The code of a libspng error. `readFailed`: the file stopped because
// reading it failed, not because it ended.
int codeOf(int error, bool readFailed) {
    switch (error) {
    case SPNG_OK: return IMAGE_FILE_OK;
    case SPNG_IO_ERROR: return TGA_CANNOT_READ;
    case SPNG_IO_EOF:
    case SPNG_EIDAT_TOO_SHORT: return readFailed ? (int)TGA_CANNOT_READ : (int)IMAGE_FILE_TRUNCATED;
    case SPNG_ECHUNK_CRC: return IMAGE_FILE_BAD_CHECKSUM;
    case SPNG_EMEM: return TGA_OUT_OF_MEMORY;
    case SPNG_EUSER_WIDTH:
    case SPNG_EUSER_HEIGHT: return IMAGE_FILE_TOO_LARGE;
    case SPNG_ECHUNK_LIMITS: return IMAGE_FILE_UNSUPPORTED; // valid, but with more metadata than taken
    default: return IMAGE_FILE_CORRUPT;
    }
}

uint32_t bigEndian32(const unsigned char *p) {
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}

// Whether the IHDR libspng refused for its width or height announces a
// picture larger than the program takes, rather than one of no size:
// libspng takes no width or height above 2^31 - 1.
bool announcesTooLarge(const Source &source) {
    if (source.headBytes < 24 || memcmp(source.head + 12, "IHDR", 4) != 0) return false;
    return bigEndian32(source.head + 16) > INT_MAX || bigEndian32(source.head + 20) > INT_MAX;
}

// Whether a file of `fileSize` bytes (0: unknown) is too short for the
// pixels its header announces even at deflate's best ratio. The pixels'
// bits alone are counted: interlacing and filters only add bytes.
bool tooShortForPixels(const spng_ihdr &ihdr, uint64_t fileSize) {
    static const int channels[7] = {1, 0, 3, 1, 2, 0, 4};
    if (fileSize == 0 || ihdr.color_type > 6) return false;
    const uint64_t pixelBits = (uint64_t)ihdr.width * ihdr.height * channels[ihdr.color_type] * ihdr.bit_depth;
    return pixelBits / 8 / kMostDeflateRatio > fileSize;
}

// The Adam7 pass of each row libspng hands over, by the first column and
// the step of its pixels; not interlaced, every column.
const int kPassFirstColumn[7] = {0, 4, 0, 2, 0, 1, 0};
const int kPassColumnStep[7] = {8, 8, 4, 4, 2, 2, 1};

// 16 bits to 8, rounded to the nearest: (v x 255 + 32767) / 65535.
inline unsigned char scale16(uint16_t v) { return (unsigned char)(((uint32_t)v * 255 + 32767) / 65535); }

// Decodes a 16-bit file row by row at 16 bits, rounding each pixel libspng
// delivers into `out`.
int decode16(spng_ctx *ctx, const spng_ihdr &ihdr, unsigned char *out) {
    const size_t width = ihdr.width, rowValues = width * 4;
    std::unique_ptr<uint16_t, MemoryFree> row((uint16_t *)malloc(rowValues * sizeof(uint16_t)));
    if (!row) return SPNG_EMEM;
    int error = spng_decode_image(ctx, nullptr, 0, SPNG_FMT_RGBA16, SPNG_DECODE_TRNS | SPNG_DECODE_PROGRESSIVE);
    while (error == SPNG_OK) {
        spng_row_info info = {};
        error = spng_get_row_info(ctx, &info);
        if (error != SPNG_OK) break;
        error = spng_decode_row(ctx, row.get(), rowValues * sizeof(uint16_t));
        if (error != SPNG_OK && error != SPNG_EOI) break;
        if (info.pass < 0 || info.pass > 6 || info.row_num >= ihdr.height) return SPNG_EINTERNAL;
        const bool interlaced = ihdr.interlace_method != SPNG_INTERLACE_NONE;
        const size_t first = interlaced ? kPassFirstColumn[info.pass] : 0;
        const size_t step = interlaced ? kPassColumnStep[info.pass] : 1;
        unsigned char *dst = out + (size_t)info.row_num * rowValues;
        const uint16_t *src = row.get();
        for (size_t x = first; x < width; x += step)
            for (int k = 0; k < 4; ++k) dst[x * 4 + k] = scale16(src[x * 4 + k]);
    }
    return error == SPNG_EOI ? SPNG_OK : error;
}

// The file's colour profile as a transform to sRGB, null when it needs none.
// Grey pictures carry grey profiles, converted from grey and alpha.
SrgbTransformPtr profileTransform(spng_ctx *ctx, bool grey, int *error) {
    spng_iccp iccp = {};
    *error = spng_get_iccp(ctx, &iccp);
    if (*error == SPNG_ECHUNKAVAIL) *error = SPNG_OK; // no profile: sRGB
    if (*error != SPNG_OK || iccp.profile_len == 0 || !iccp.profile) return nullptr;
    return makeSrgbTransform((const unsigned char *)iccp.profile, iccp.profile_len,
                             grey ? ProfilePixels::GreyAlpha : ProfilePixels::Rgba);
}

// The decoded straight rows to sRGB where a profile asks, then premultiplied
// unless `opaque`, in blocks of rows on the pool's threads. False when
// memory ran out.
bool finishRows(unsigned char *pixels, int width, int height, const SrgbTransform *transform, bool grey,
                bool opaque) {
    return fitsInMemory([&] {
        forEachRowBlock(height, rowsPerTask(width), [&](int first, int last) {
            std::vector<unsigned char> source(transform ? (size_t)width * 4 : 0);
            for (int y = first; y < last; ++y) {
                unsigned char *row = pixels + (size_t)y * width * 4;
                if (transform) {
                    // The profile's pixels: grey and alpha, or RGBA as decoded.
                    if (grey)
                        for (int x = 0; x < width; ++x) {
                            source[2 * x] = row[4 * x];
                            source[2 * x + 1] = row[4 * x + 3];
                        }
                    else
                        memcpy(source.data(), row, (size_t)width * 4);
                    convertToSrgb(*transform, source.data(), (size_t)width, row);
                }
                if (!opaque) premultiplyRgba(row, (size_t)width, row);
            }
        });
    });
}

int decodeFile(FILE *f, uint64_t fileSize, Image *result) {
    // zlib's Adler-32 of the inflated rows is not checked: every IDAT chunk's
    // CRC already guards the compressed bytes, and the check is a sixth of
    // the decoding time.
    Context ctx(spng_ctx_new(SPNG_CTX_IGNORE_ADLER32));
    if (!ctx) return TGA_OUT_OF_MEMORY;
    Source source = {f};
    auto fail = [&](int error) { return codeOf(error, source.failed); };
    int error = spng_set_chunk_limits(ctx.get(), kChunkLimit, kCacheLimit);
    // A damaged checksum is an error in any chunk, as in the critical ones.
    if (error == SPNG_OK) error = spng_set_crc_action(ctx.get(), SPNG_CRC_ERROR, SPNG_CRC_ERROR);
    if (error == SPNG_OK) error = spng_set_png_stream(ctx.get(), readSource, &source);
    spng_ihdr ihdr = {};
    if (error == SPNG_OK) error = spng_get_ihdr(ctx.get(), &ihdr);
    if ((error == SPNG_EWIDTH || error == SPNG_EHEIGHT) && announcesTooLarge(source)) return IMAGE_FILE_TOO_LARGE;
    if (error != SPNG_OK) return fail(error);
    // The size is checked before anything else is read or allocated.
    if (ihdr.width > INT_MAX || ihdr.height > INT_MAX || (uint64_t)ihdr.width * ihdr.height > kMostFilePixels)
        return IMAGE_FILE_TOO_LARGE;
    if (tooShortForPixels(ihdr, fileSize)) return IMAGE_FILE_TRUNCATED;
    const int width = (int)ihdr.width, height = (int)ihdr.height;
    const bool grey =
        ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE || ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA;

    SrgbTransformPtr transform;
    if (!fitsInMemory([&] { transform = profileTransform(ctx.get(), grey, &error); })) return TGA_OUT_OF_MEMORY;
    if (error != SPNG_OK) return fail(error);

    Pixels pixels(allocPixels(width, height));
    if (!pixels) return TGA_OUT_OF_MEMORY;
    if (ihdr.bit_depth == 16) {
        error = decode16(ctx.get(), ihdr, pixels.get());
    } else {
        size_t bytes = 0;
        error = spng_decoded_image_size(ctx.get(), SPNG_FMT_RGBA8, &bytes);
        if (error == SPNG_OK && bytes != (size_t)width * height * 4) error = SPNG_EINTERNAL;
        if (error == SPNG_OK)
            error = spng_decode_image(ctx.get(), pixels.get(), bytes, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS);
    }
    // The chunks after the pixels up to IEND, which checks the last IDAT
    // chunk's checksum too.
    if (error == SPNG_OK) error = spng_decode_chunks(ctx.get());
    if (error == SPNG_OK && (source.ended || source.failed)) error = SPNG_IO_EOF;
    if (error != SPNG_OK) return fail(error);
    // Without an alpha channel or tRNS every pixel is opaque: premultiplying
    // would change nothing.
    spng_trns trns;
    const bool opaque = (ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE || ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR ||
                         ihdr.color_type == SPNG_COLOR_TYPE_INDEXED) &&
                        spng_get_trns(ctx.get(), &trns) == SPNG_ECHUNKAVAIL;
    if ((transform || !opaque) && !finishRows(pixels.get(), width, height, transform.get(), grey, opaque))
        return TGA_OUT_OF_MEMORY;
    result->replace(width, height, pixels.release());
    return IMAGE_FILE_OK;
}

// Whether zlib's run-length strategy is worth its time for this picture
// rather than Huffman codes alone: it is when some of the rows, as the Sub
// filter leaves them, lie in long runs of one byte value (flat colour,
// transparent areas), which it codes in a few bits a run. A photograph has
// none (the bench picture, and data/landscape.tga: 0.0 and 0.1 % of bytes
// in runs of 8 or more; data/badge.tga 56 %); then Huffman codes alone are
// about a tenth faster and no larger. Decided on a sample of rows.
bool runsPayOff(const Image &image) {
    constexpr int kSampleRows = 64, kLongRun = 8;
    const int width = image.width, step = std::max(1, image.height / kSampleRows);
    const size_t rowBytes = (size_t)width * 4;
    Pixels row((unsigned char *)malloc(rowBytes));
    if (!row) return true;
    uint64_t inLongRuns = 0, sampled = 0;
    for (int y = step / 2; y < image.height; y += step) {
        straightRgba(image.pixels + (size_t)y * rowBytes, (size_t)width, row.get());
        // The Sub filter's bytes: each less the one four before it.
        const unsigned char *p = row.get();
        unsigned char previous = 0;
        int run = 0;
        for (size_t i = 0; i < rowBytes; ++i) {
            const unsigned char filtered = (unsigned char)(p[i] - (i >= 4 ? p[i - 4] : 0));
            run = i > 0 && filtered == previous ? std::min(run + 1, kLongRun) : 1;
            inLongRuns += run == kLongRun;
            previous = filtered;
        }
        sampled += rowBytes;
    }
    return inLongRuns * 100 > sampled; // more than 1 %
}

} // namespace

bool isPngFile(const unsigned char *head, size_t n) { return n >= 8 && std::equal(kSignature, kSignature + 8, head); }

int loadPngFile(const char *, FILE *file, Image *result) {
    struct stat st;
    return decodeFile(file, fstat(fileno(file), &st) == 0 ? (uint64_t)st.st_size : 0, result);
}

int savePngFile(const char *path, const Image &image) {
    const int width = image.width, height = image.height;
    const size_t rowBytes = (size_t)width * 4;

    Context ctx(spng_ctx_new(SPNG_CTX_ENCODER));
    if (!ctx) return TGA_OUT_OF_MEMORY;
    spng_ihdr ihdr = {};
    ihdr.width = (uint32_t)width;
    ihdr.height = (uint32_t)height;
    ihdr.bit_depth = 8;
    ihdr.color_type = SPNG_COLOR_TYPE_TRUECOLOR_ALPHA;
    int error = spng_set_option(ctx.get(), SPNG_ENCODE_TO_BUFFER, 1);
    if (error == SPNG_OK) error = spng_set_option(ctx.get(), SPNG_IMG_COMPRESSION_LEVEL, 1);
    if (error == SPNG_OK)
        error = spng_set_option(ctx.get(), SPNG_IMG_COMPRESSION_STRATEGY, runsPayOff(image) ? Z_RLE : Z_HUFFMAN_ONLY);
    if (error == SPNG_OK) error = spng_set_option(ctx.get(), SPNG_IMG_MEM_LEVEL, 9);
    if (error == SPNG_OK) error = spng_set_option(ctx.get(), SPNG_FILTER_CHOICE, SPNG_FILTER_CHOICE_SUB);
    if (error == SPNG_OK) error = spng_set_ihdr(ctx.get(), &ihdr);
    if (error == SPNG_OK)
        error = spng_encode_image(ctx.get(), nullptr, 0, SPNG_FMT_PNG, SPNG_ENCODE_PROGRESSIVE | SPNG_ENCODE_FINALIZE);
    if (error != SPNG_OK) return error == SPNG_EMEM ? TGA_OUT_OF_MEMORY : TGA_CANNOT_WRITE;

    // Rows are divided by alpha a band at a time, each band split over the
    // pool's threads, and encoded while the band is still in the cache.
    const int bandRows = std::min(height, rowsPerTask(width) * std::max(1, threadCount()));
    Pixels band((unsigned char *)malloc((size_t)bandRows * rowBytes));
    if (!band) return TGA_OUT_OF_MEMORY;
    for (int top = 0; top < height && error == SPNG_OK; top += bandRows) {
        const int rows = std::min(bandRows, height - top);
        forEachRowBlock(rows, rowsPerTask(width), [&](int first, int last) {
            straightRgba(image.pixels + (size_t)(top + first) * rowBytes, (size_t)(last - first) * width,
                         band.get() + (size_t)first * rowBytes);
        });
        for (int y = 0; y < rows && error == SPNG_OK; ++y) {
            error = spng_encode_row(ctx.get(), band.get() + (size_t)y * rowBytes, rowBytes);
            if (error == SPNG_EOI && top + y == height - 1) error = SPNG_OK;
        }
    }
    band.reset();
    if (error != SPNG_OK) return error == SPNG_EMEM ? TGA_OUT_OF_MEMORY : TGA_CANNOT_WRITE;

    size_t size = 0;
    Pixels bytes((unsigned char *)spng_get_png_buffer(ctx.get(), &size, &error));
    if (!bytes || error != SPNG_OK) return error == SPNG_EMEM ? TGA_OUT_OF_MEMORY : TGA_CANNOT_WRITE;
    ctx.reset();
    return writeFileCarefully(path, bytes.get(), size);
}
