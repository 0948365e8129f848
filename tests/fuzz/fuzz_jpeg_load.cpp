// Fuzz target for the JPEG reader: the input is a file. Whatever the bytes,
// a load either fails with a known code and leaves the image as it was, or
// gives an opaque picture of positive size.
#include <unistd.h>

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <jpeglib.h>

#include "image/image_file.h"

namespace {

std::string inputPath;
void removeInput() { unlink(inputPath.c_str()); }

void check(bool condition, const char *what) {
    if (condition) return;
    fprintf(stderr, "JPEG load fuzz check failed: %s\n", what);
    abort();
}

struct HeaderErrors {
    jpeg_error_mgr manager; // first: libjpeg's pointer to it points to the whole
    jmp_buf jump;
};
[[noreturn]] void stopReading(j_common_ptr cinfo) { longjmp(reinterpret_cast<HeaderErrors *>(cinfo->err)->jump, 1); }
void ignoreMessage(j_common_ptr, int) {}

bool readHeader(jpeg_decompress_struct *cinfo, HeaderErrors *errors, const uint8_t *data, size_t size) {
    if (setjmp(errors->jump)) return false;
    jpeg_create_decompress(cinfo);
    jpeg_mem_src(cinfo, data, size);
    jpeg_read_header(cinfo, TRUE);
    return true;
}

// The pixels the header announces, as libjpeg reads it; 0 when it cannot.
unsigned long long announcedPixels(const uint8_t *data, size_t size) {
    jpeg_decompress_struct cinfo{};
    HeaderErrors errors;
    cinfo.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = stopReading;
    errors.manager.emit_message = ignoreMessage;
    const unsigned long long pixels =
        readHeader(&cinfo, &errors, data, size) ? (unsigned long long)cinfo.image_width * cinfo.image_height : 0;
    jpeg_destroy_decompress(&cinfo);
    return pixels;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    inputPath = "/tmp/fuzz-jpeg-" + std::to_string(getpid());
    atexit(removeInput);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // Other bytes go to the TGA reader, which has its own target.
    if (!formatForName("x.jpg").isFormatOf(data, size)) return 0;
    // A picture of many megapixels is a valid outcome that the fuzzer's
    // memory limit would count as a failure; refusals above the program's
    // own limit are still tried.
    const unsigned long long pixels = announcedPixels(data, size);
    if (pixels > (1u << 22) && pixels <= kMostFilePixels) return 0;

    FILE *f = fopen(inputPath.c_str(), "wb");
    check(f && (size == 0 || fwrite(data, 1, size, f) == size) && fclose(f) == 0, "the input file can be written");
    Image image;
    image.replace(1, 1, allocPixels(1, 1));
    check(image.pixels != nullptr, "a pixel can be had");
    memcpy(image.pixels, "\x01\x02\x03\x04", 4);
    unsigned char *const before = image.pixels;

    const int code = loadImageFile(inputPath.c_str(), &image);
    if (code != IMAGE_FILE_OK) {
        check((code >= TGA_BAD_HEADER && code <= TGA_OUT_OF_MEMORY) ||
                  (code >= IMAGE_FILE_TOO_LARGE && code <= IMAGE_FILE_TOO_LARGE_FOR_FORMAT),
              "a failure has a known code");
        check(strcmp(imageFileErrorText(code), "unknown error") != 0, "a failure has a text");
        check(image.pixels == before && image.width == 1 && image.height == 1 && memcmp(before, "\x01\x02\x03\x04", 4) == 0,
              "a failed load leaves the image alone");
    } else {
        check(image.width > 0 && image.height > 0 && (unsigned long long)image.width * image.height <= kMostFilePixels,
              "a picture has a size");
        for (size_t i = 0; i < (size_t)image.width * image.height; ++i) check(image.pixels[4 * i + 3] == 255, "opaque");
    }
    image.release();
    return 0;
}
