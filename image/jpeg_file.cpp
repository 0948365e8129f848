// JPEG files through libjpeg-turbo's libjpeg interface. Files are read whole
// into memory and decoded from there; pictures are encoded into memory and
// written through the careful writer.
//
// libjpeg reports errors by calling error_exit, which must not return: it
// jumps back to the setjmp of `guarded`. So that the jump skips no
// destructor, the libjpeg calls are made only in the plain step functions
// that `guarded` runs, and everything those allocate hangs off a
// Decoding or Encoding record that the caller owns and frees.
#include <sys/stat.h>

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

// jpeglib.h needs FILE and size_t declared first, and jerror.h the
// configuration jpeglib.h brings.
#include <jpeglib.h>
#include <jerror.h>

#include "colour_profile.h"
#include "image_file.h"
#include "parallel.h"
#include "premultiply.h"

bool isJpegFile(const unsigned char *head, size_t n) { return n >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF; }

namespace {

// More scans than any encoder writes; a hostile progressive file could
// otherwise make each of thousands of scans walk the whole picture.
constexpr int kMostScans = 1000;
// The memory libjpeg may give its whole-picture buffers, which only
// progressive and multi-scan files need: 2 GiB holds the coefficients of a
// 4:2:0 colour picture of 700 million pixels.
constexpr long kMostDecoderMemory = 1l << 31;
constexpr int kQuality = 90;
// Rows handed to libjpeg per call.
constexpr int kRowBatch = 16;

struct Free {
    void operator()(void *p) const { free(p); }
};
using Bytes = std::unique_ptr<unsigned char, Free>;

struct Errors {
    jpeg_error_mgr manager; // first: libjpeg's pointer to it points to the whole
    jmp_buf jump;
    int code; // the ImageFileError of the failure
};

int failureOfError(int messageCode) {
    switch (messageCode) {
    case JERR_OUT_OF_MEMORY:
    case JERR_NO_BACKING_STORE: // a whole-picture buffer above kMostDecoderMemory
        return TGA_OUT_OF_MEMORY;
    case JERR_IMAGE_TOO_BIG:
    case JERR_WIDTH_OVERFLOW:
        return IMAGE_FILE_TOO_LARGE;
    case JERR_INPUT_EMPTY:
    case JERR_INPUT_EOF:
        return IMAGE_FILE_TRUNCATED;
    case JERR_ARITH_NOTIMPL:
    case JERR_BAD_J_COLORSPACE:
    case JERR_BAD_PRECISION:
    case JERR_CCIR601_NOTIMPL:
    case JERR_CONVERSION_NOTIMPL:
    case JERR_FRACT_SAMPLE_NOTIMPL:
    case JERR_NOTIMPL:
    case JERR_NOT_COMPILED:
    case JERR_SOF_UNSUPPORTED:
        return IMAGE_FILE_UNSUPPORTED;
    default:
        return IMAGE_FILE_CORRUPT;
    }
}

// After these warnings libjpeg carries on with made-up pixels (grey, or the
// rest of a segment left flat), so the file is refused instead. The others,
// such as stray bytes between markers, leave the picture whole.
int failureOfWarning(int messageCode) {
    switch (messageCode) {
    case JWRN_JPEG_EOF:
    case JWRN_HIT_MARKER:
        return IMAGE_FILE_TRUNCATED;
    case JWRN_HUFF_BAD_CODE:
    case JWRN_ARITH_BAD_CODE:
    case JWRN_MUST_RESYNC:
        return IMAGE_FILE_CORRUPT;
    default:
        return IMAGE_FILE_OK;
    }
}

[[noreturn]] void failWith(j_common_ptr cinfo, int code) {
    Errors *errors = reinterpret_cast<Errors *>(cinfo->err);
    errors->code = code;
    longjmp(errors->jump, 1);
}

[[noreturn]] void onError(j_common_ptr cinfo) { failWith(cinfo, failureOfError(cinfo->err->msg_code)); }

void onMessage(j_common_ptr cinfo, int level) {
    if (level >= 0) return; // a trace message
    const int code = failureOfWarning(cinfo->err->msg_code);
    if (code != IMAGE_FILE_OK) failWith(cinfo, code);
}

void printNothing(j_common_ptr) {}

void limitScans(j_common_ptr cinfo) {
    if (reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMostScans) failWith(cinfo, IMAGE_FILE_CORRUPT);
}

jpeg_error_mgr *setUpErrors(Errors &errors) {
    jpeg_std_error(&errors.manager);
    errors.manager.error_exit = onError;
    errors.manager.emit_message = onMessage;
    errors.manager.output_message = printNothing;
    return &errors.manager;
}

// Runs `step`, returning its code, or the code of the libjpeg failure that
// jumped out of it.
template <class State> int guarded(State &state, int (*step)(State &)) {
    if (setjmp(state.errors.jump)) return state.errors.code;
    return step(state);
}

// ---- Reading

struct Decoding {
    jpeg_decompress_struct cinfo;
    Errors errors;
    jpeg_progress_mgr progress;
    const unsigned char *file;
    size_t fileSize;
    JOCTET *profile; // the ICC profile, malloc'ed by libjpeg
    unsigned profileSize;
    int orientation;
    unsigned char *rows; // the decoded samples, output_components a pixel
    ~Decoding() {
        jpeg_destroy_decompress(&cinfo); // also when never created: it is zeroed
        free(profile);
        free(rows);
    }
};

// The orientation of the picture in its first EXIF block (APP1 "Exif\0\0",
// a TIFF header, tag 0x0112 of its first IFD): 1, upright, when there is
// none or it cannot be read. Every offset is checked against the block.
int exifOrientation(jpeg_saved_marker_ptr marker) {
    for (; marker; marker = marker->next) {
        if (marker->marker != JPEG_APP0 + 1 || marker->data_length < 6 || memcmp(marker->data, "Exif\0\0", 6) != 0)
            continue;
        const unsigned char *tiff = marker->data + 6;
        const uint64_t n = marker->data_length - 6;
        if (n < 8 || (memcmp(tiff, "II", 2) != 0 && memcmp(tiff, "MM", 2) != 0)) return 1;
        const bool bigEndian = tiff[0] == 'M';
        auto u16 = [&](uint64_t at) -> unsigned {
            return bigEndian ? tiff[at] << 8 | tiff[at + 1] : tiff[at] | tiff[at + 1] << 8;
        };
        auto u32 = [&](uint64_t at) -> uint64_t {
            return bigEndian ? (uint64_t)u16(at) << 16 | u16(at + 2) : (uint64_t)u16(at + 2) << 16 | u16(at);
        };
        if (u16(2) != 42) return 1;
        const uint64_t ifd = u32(4);
        if (ifd + 2 > n) return 1;
        for (uint64_t entry = ifd + 2, end = entry + 12ull * u16(ifd); entry < end && entry + 12 <= n; entry += 12) {
            if (u16(entry) != 0x0112) continue;
            const unsigned value = u16(entry + 8);
            return u16(entry + 2) == 3 && value >= 1 && value <= 8 ? (int)value : 1; // a SHORT, 1 to 8
        }
        return 1;
    }
    return 1;
}

int readHeader(Decoding &d) {
    jpeg_decompress_struct &c = d.cinfo;
    c.err = setUpErrors(d.errors);
    jpeg_create_decompress(&c);
    c.mem->max_memory_to_use = kMostDecoderMemory;
    d.progress.progress_monitor = limitScans;
    c.progress = &d.progress;
    jpeg_mem_src(&c, d.file, d.fileSize);
    jpeg_save_markers(&c, JPEG_APP0 + 1, 0xFFFF); // EXIF
    jpeg_save_markers(&c, JPEG_APP0 + 2, 0xFFFF); // ICC profile chunks
    jpeg_read_header(&c, TRUE);
    if ((unsigned long long)c.image_width * c.image_height > kMostFilePixels) return IMAGE_FILE_TOO_LARGE;
    jpeg_read_icc_profile(&c, &d.profile, &d.profileSize); // null when there is none or it is broken
    // Now: jpeg_finish_decompress frees the saved markers.
    d.orientation = exifOrientation(c.marker_list);
    return IMAGE_FILE_OK;
}

// Decodes the rows in the out_color_space chosen. The buffer is made only
// now: a progressive file has been read to its end by jpeg_start_decompress,
// so a truncated one fails before it is allocated.
int readRows(Decoding &d) {
    jpeg_decompress_struct &c = d.cinfo;
    jpeg_start_decompress(&c);
    const size_t rowBytes = (size_t)c.output_width * c.output_components;
    d.rows = c.output_components == 4 ? allocPixels((int)c.output_width, (int)c.output_height)
                                      : (unsigned char *)malloc(rowBytes * c.output_height);
    if (!d.rows) return TGA_OUT_OF_MEMORY;
    while (c.output_scanline < c.output_height) {
        JSAMPROW rows[kRowBatch];
        const JDIMENSION n = c.output_height - c.output_scanline < (JDIMENSION)kRowBatch
                                 ? c.output_height - c.output_scanline
                                 : (JDIMENSION)kRowBatch;
        for (JDIMENSION i = 0; i < n; ++i) rows[i] = d.rows + (c.output_scanline + i) * rowBytes;
        if (jpeg_read_scanlines(&c, rows, n) == 0) return IMAGE_FILE_CORRUPT;
    }
    // Reads on to the end marker: a file without one is cut short, and
    // libjpeg may have read ahead past its end already.
    jpeg_finish_decompress(&c);
    return IMAGE_FILE_OK;
}

// The upright picture of stored pixels with an EXIF orientation from 2 to 8.
// Each row of the result is a line of the stored picture: `first` is the
// index of its first pixel, `step` the distance to the next.
unsigned char *orient(const unsigned char *src, int width, int height, int orientation, int *newWidth,
                      int *newHeight) {
    const bool turned = orientation >= 5;
    const int outWidth = turned ? height : width, outHeight = turned ? width : height;
    unsigned char *out = allocPixels(outWidth, outHeight);
    if (!out) return nullptr;
    const long w = width, h = height;
    forEachRowBlock(outHeight, rowsPerTask(outWidth), [&](int firstRow, int lastRow) {
        for (long y = firstRow; y < lastRow; ++y) {
            long first = 0, step = 1;
            switch (orientation) {
            case 2: first = y * w + w - 1, step = -1; break;             // mirrored
            case 3: first = (h - 1 - y) * w + w - 1, step = -1; break;   // turned half round
            case 4: first = (h - 1 - y) * w; break;                      // flipped
            case 5: first = y, step = w; break;                          // transposed
            case 6: first = (h - 1) * w + y, step = -w; break;           // to turn clockwise
            case 7: first = (h - 1) * w + w - 1 - y, step = -w; break;   // transversed
            default: first = w - 1 - y, step = w; break;                 // 8: to turn anticlockwise
            }
            unsigned char *row = out + (size_t)y * outWidth * 4;
            for (long x = 0; x < outWidth; ++x) memcpy(row + 4 * x, src + 4 * (first + x * step), 4);
        }
    });
    *newWidth = outWidth;
    *newHeight = outHeight;
    return out;
}

// CMYK without a profile, in place: each colour is the light its ink and
// the black ink leave, (255 - C) x (255 - K) / 255 rounded. Inverted files
// store 255 - ink, the light itself.
void cmykToRgb(unsigned char *p, size_t count, bool inverted) {
    const unsigned flip = inverted ? 0 : 255;
    for (size_t i = 0; i < count; ++i, p += 4) {
        const int black = p[3] ^ flip;
        for (int c = 0; c < 3; ++c) p[c] = (unsigned char)mulDiv255(p[c] ^ flip, black);
        p[3] = 255;
    }
}

// The whole file in memory: its size and one byte more, so that its end is
// seen without growing, and more should it grow while it is read.
int readFile(FILE *f, Bytes &bytes, size_t &size) {
    struct stat st;
    size_t capacity = fstat(fileno(f), &st) == 0 ? (size_t)st.st_size + 1 : (size_t)1 << 16;
    size = 0;
    for (;;) {
        if (size == capacity || !bytes) {
            if (bytes) capacity *= 2;
            unsigned char *grown = (unsigned char *)realloc(bytes.get(), capacity);
            if (!grown) return TGA_OUT_OF_MEMORY;
            bytes.release(); // now owned as `grown`
            bytes.reset(grown);
        }
        const size_t n = fread(bytes.get() + size, 1, capacity - size, f);
        if (n == 0) break;
        size += n;
    }
    return ferror(f) ? (int)TGA_CANNOT_READ : (int)IMAGE_FILE_OK;
}

// ---- Writing

struct Encoding {
    jpeg_compress_struct cinfo;
    Errors errors;
    jpeg_destination_mgr destination;
    const Image *image;
    // The file as far as it is encoded. libjpeg's own memory destination is
    // not used: a failure after it has grown its buffer would lose the buffer.
    unsigned char *bytes;
    size_t capacity, size;
    ~Encoding() {
        jpeg_destroy_compress(&cinfo);
        free(bytes);
    }
};

void startBuffer(j_compress_ptr) {}

// Called when the buffer is full: doubles it.
boolean growBuffer(j_compress_ptr cinfo) {
    Encoding &e = *static_cast<Encoding *>(cinfo->client_data);
    unsigned char *grown = e.capacity <= SIZE_MAX / 2 ? (unsigned char *)realloc(e.bytes, e.capacity * 2) : nullptr;
    if (!grown) ERREXIT(cinfo, JERR_OUT_OF_MEMORY);
    e.bytes = grown;
    e.destination.next_output_byte = grown + e.capacity;
    e.destination.free_in_buffer = e.capacity;
    e.capacity *= 2;
    return TRUE;
}

void endBuffer(j_compress_ptr cinfo) {
    Encoding &e = *static_cast<Encoding *>(cinfo->client_data);
    e.size = e.capacity - e.destination.free_in_buffer;
}

// Quality 90, 4:2:0 chroma, baseline Huffman coding with the standard
// tables: libjpeg's defaults at that quality.
int writeRows(Encoding &e) {
    jpeg_compress_struct &c = e.cinfo;
    c.err = setUpErrors(e.errors);
    jpeg_create_compress(&c);
    const Image &image = *e.image;
    // A quarter of a byte a pixel holds most photographs at this quality.
    e.capacity = (size_t)image.width * image.height / 4 + 4096;
    e.bytes = (unsigned char *)malloc(e.capacity);
    if (!e.bytes) return TGA_OUT_OF_MEMORY;
    c.client_data = &e;
    e.destination = {e.bytes, e.capacity, startBuffer, growBuffer, endBuffer};
    c.dest = &e.destination;
    c.image_width = (JDIMENSION)image.width;
    c.image_height = (JDIMENSION)image.height;
    // The premultiplied colour straight from the picture: the colour over
    // black, as the view shows it; libjpeg skips the alpha byte.
    c.input_components = 4;
    c.in_color_space = JCS_EXT_RGBA;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, kQuality, TRUE);
    jpeg_start_compress(&c, TRUE);
    const size_t rowBytes = (size_t)image.width * 4;
    while (c.next_scanline < c.image_height) {
        JSAMPROW rows[kRowBatch];
        JDIMENSION n = 0;
        for (; n < (JDIMENSION)kRowBatch && c.next_scanline + n < c.image_height; ++n)
            rows[n] = image.pixels + (c.next_scanline + n) * rowBytes;
        jpeg_write_scanlines(&c, rows, n);
    }
    jpeg_finish_compress(&c);
    return IMAGE_FILE_OK;
}

} // namespace

int loadJpegFile(const char *, FILE *f, Image *result) {
    Bytes file;
    size_t fileSize = 0;
    int code = readFile(f, file, fileSize);
    if (code != IMAGE_FILE_OK) return code;
    Decoding d{};
    d.file = file.get();
    d.fileSize = fileSize;
    code = guarded(d, readHeader);
    if (code != IMAGE_FILE_OK) return code;

    jpeg_decompress_struct &c = d.cinfo;
    ProfilePixels layout;
    switch (c.jpeg_color_space) {
    case JCS_GRAYSCALE: layout = ProfilePixels::Grey; break;
    case JCS_RGB:
    case JCS_YCbCr: layout = ProfilePixels::Rgb; break;
    case JCS_CMYK:
    case JCS_YCCK: layout = c.saw_Adobe_marker ? ProfilePixels::InvertedCmyk : ProfilePixels::Cmyk; break;
    default: return IMAGE_FILE_UNSUPPORTED;
    }
    const bool cmyk = layout == ProfilePixels::Cmyk || layout == ProfilePixels::InvertedCmyk;
    const SrgbTransformPtr transform = makeSrgbTransform(d.profile, d.profileSize, layout);
    // Without a profile to apply, grey and colour decode straight to RGBA.
    c.out_color_space = cmyk ? JCS_CMYK
                        : transform ? (layout == ProfilePixels::Grey ? JCS_GRAYSCALE : JCS_RGB)
                                    : JCS_EXT_RGBA;
    code = guarded(d, readRows);
    if (code != IMAGE_FILE_OK) return code;

    int width = (int)c.output_width, height = (int)c.output_height;
    Bytes pixels(d.rows);
    d.rows = nullptr;
    if (transform) {
        Bytes rgba(allocPixels(width, height));
        if (!rgba) return TGA_OUT_OF_MEMORY;
        const size_t rowBytes = (size_t)width * c.output_components;
        forEachRowBlock(height, rowsPerTask(width), [&](int first, int last) {
            convertToSrgb(*transform, pixels.get() + first * rowBytes, (size_t)(last - first) * width,
                          rgba.get() + (size_t)first * width * 4);
        });
        pixels = std::move(rgba);
    } else if (cmyk) {
        forEachRowBlock(height, rowsPerTask(width), [&](int first, int last) {
            cmykToRgb(pixels.get() + (size_t)first * width * 4, (size_t)(last - first) * width,
                      layout == ProfilePixels::InvertedCmyk);
        });
    }
    if (d.orientation != 1) {
        Bytes upright(orient(pixels.get(), width, height, d.orientation, &width, &height));
        if (!upright) return TGA_OUT_OF_MEMORY;
        pixels = std::move(upright);
    }
    // Opaque: the colour is its own premultiplied value.
    result->replace(width, height, pixels.release());
    return IMAGE_FILE_OK;
}

int saveJpegFile(const char *path, const Image &image) {
    if (image.width > JPEG_MAX_DIMENSION || image.height > JPEG_MAX_DIMENSION) return IMAGE_FILE_TOO_LARGE_FOR_FORMAT;
    Encoding e{};
    e.image = &image;
    const int code = guarded(e, writeRows);
    if (code != IMAGE_FILE_OK) return code;
    return writeFileCarefully(path, e.bytes, e.size);
}
