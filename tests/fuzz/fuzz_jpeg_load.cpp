// Fuzz target for the JPEG reader (picture_file_fuzzing.h); a picture it
// loads is opaque.
#include <csetjmp>

#include "picture_file_fuzzing.h"
// After the C library's declarations, which jpeglib.h needs.
#include <jpeglib.h>

namespace {

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
    fuzzing::start("jpeg");
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

    Image image = fuzzing::loadChecked(data, size);
    if (image.empty()) return 0;
    for (size_t i = 0; i < (size_t)image.width * image.height; ++i)
        fuzzing::check(image.pixels[4 * i + 3] == 255, "opaque");
    image.release();
    return 0;
}
