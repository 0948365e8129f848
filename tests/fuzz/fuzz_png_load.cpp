// Fuzz target for the PNG reader: the input is a file. Whatever the bytes,
// a load either fails with a known error code and leaves the image it was
// to replace alone, or gives a premultiplied picture of an allowed size,
// which the PNG writer stores and the reader gives back with every opaque
// pixel as it was. Inputs without the PNG signature are left to the TGA
// target: the table would hand them to the TGA reader.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "image/image_file.h"

namespace {

std::string inputPath, outputPath;

void check(bool condition, const char *what) {
    if (condition) return;
    fprintf(stderr, "PNG load fuzz check failed: %s\n", what);
    abort();
}

void removeFiles() {
    unlink(inputPath.c_str());
    unlink(outputPath.c_str());
}

// Writing back and reading again keeps every opaque pixel. Only for small
// pictures, to keep each run short.
void checkRoundTrip(const Image &image) {
    if ((int64_t)image.width * image.height > 1 << 16) return;
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
    const std::string base = "/tmp/fuzz-png-" + std::to_string(getpid());
    inputPath = base + "-in.png";
    outputPath = base + "-out.png";
    atexit(removeFiles);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    size_t count = 0;
    const ImageFormat *formats = imageFormats(&count);
    const ImageFormat *png = nullptr;
    for (size_t i = 0; i < count; ++i)
        if (strcmp(formats[i].name, "PNG") == 0) png = &formats[i];
    check(png != nullptr, "the table has PNG");
    if (!png->isFormatOf(data, size)) return 0;

    FILE *f = fopen(inputPath.c_str(), "wb");
    check(f && (size == 0 || fwrite(data, 1, size, f) == size) && fclose(f) == 0, "the input file can be written");

    // A picture already there, which a failed load must leave as it was
    // (and a successful one frees).
    unsigned char *held = allocPixels(2, 2);
    check(held != nullptr, "memory for the held picture");
    for (int i = 0; i < 16; ++i) held[i] = (unsigned char)(i + 1);
    Image image;
    image.replace(2, 2, held);
    const int code = loadImageFile(inputPath.c_str(), &image);
    if (code != IMAGE_FILE_OK) {
        check(image.width == 2 && image.height == 2 && image.pixels == held, "a failed load leaves the image alone");
        for (int i = 0; i < 16; ++i) check(held[i] == i + 1, "a failed load leaves the pixels alone");
        check(strcmp(imageFileErrorText(code), "unknown error") != 0, "a failure has a known code");
        image.release();
        return 0;
    }
    check(image.pixels != held && image.pixels != nullptr, "a load gives new pixels");
    check(image.width > 0 && image.height > 0 &&
              (unsigned long long)image.width * image.height <= kMostFilePixels,
          "the size is allowed");
    for (int64_t i = 0; i < (int64_t)image.width * image.height; ++i) {
        const unsigned char *p = image.pixels + 4 * i;
        check(p[0] <= p[3] && p[1] <= p[3] && p[2] <= p[3], "colours are premultiplied");
    }
    checkRoundTrip(image);
    image.release();
    return 0;
}
