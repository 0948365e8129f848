// Fuzz target for the PNG reader (picture_file_fuzzing.h); a picture it
// loads, written as PNG and read again, keeps every opaque pixel. Inputs
// without the PNG signature are left to the TGA target: the table would hand
// them to the TGA reader.
#include "picture_file_fuzzing.h"

namespace {

std::string outputPath;

void removeOutput() { unlink(outputPath.c_str()); }

// Only for small pictures, to keep each run short.
void checkRoundTrip(const Image &image) {
    if ((int64_t)image.width * image.height > 1 << 16) return;
    using fuzzing::check;
    check(saveImageFile(outputPath.c_str(), image) == IMAGE_FILE_OK, "a loaded picture can be written");
    Image again;
    check(loadImageFile(outputPath.c_str(), &again) == IMAGE_FILE_OK, "a written picture loads");
    check(again.width == image.width && again.height == image.height, "a written picture keeps its size");
    for (int64_t i = 0; i < (int64_t)image.width * image.height; ++i)
        if (image.pixels[4 * i + 3] == 255)
            check(memcmp(image.pixels + 4 * i, again.pixels + 4 * i, 4) == 0, "opaque pixels survive");
    again.release();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzzing::start("png");
    outputPath = fuzzing::inputPath + ".png";
    atexit(removeOutput);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (!formatForName("x.png").isFormatOf(data, size)) return 0;
    Image image = fuzzing::loadChecked(data, size);
    if (image.empty()) return 0;
    checkRoundTrip(image);
    image.release();
    return 0;
}
