// What the fuzz targets of the picture-file readers share: the input is
// written to a file and loaded through the table of formats over a picture
// already there. Whatever the bytes, a load either fails with a code that has
// a text and leaves that picture as it was, or gives a premultiplied picture
// of an allowed size.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "image/image_file.h"

namespace fuzzing {

inline std::string inputPath;

inline void check(bool condition, const char *what) {
    if (condition) return;
    fprintf(stderr, "picture load fuzz check failed: %s\n", what);
    abort();
}

inline void removeInput() { unlink(inputPath.c_str()); }

// Names this process's input file after the format; called once.
inline void start(const char *format) {
    inputPath = std::string("/tmp/fuzz-") + format + "-" + std::to_string(getpid());
    atexit(removeInput);
}

// The picture the input loads as, or an empty image when it fails.
inline Image loadChecked(const uint8_t *data, size_t size) {
    FILE *f = fopen(inputPath.c_str(), "wb");
    check(f && (size == 0 || fwrite(data, 1, size, f) == size) && fclose(f) == 0, "the input file can be written");
    const unsigned char held[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    Image image;
    image.replace(2, 1, allocPixels(2, 1));
    check(image.pixels != nullptr, "memory for the held picture");
    memcpy(image.pixels, held, sizeof held);
    unsigned char *const before = image.pixels;
    const int code = loadImageFile(inputPath.c_str(), &image);
    if (code != IMAGE_FILE_OK) {
        check(image.pixels == before && image.width == 2 && image.height == 1 && memcmp(before, held, 8) == 0,
              "a failed load leaves the image alone");
        check(strcmp(imageFileErrorText(code), "unknown error") != 0, "a failure has a known code");
        image.release();
        return Image();
    }
    check(image.width > 0 && image.height > 0 && (unsigned long long)image.width * image.height <= kMostFilePixels,
          "the size is allowed");
    for (size_t i = 0; i < (size_t)image.width * image.height; ++i) {
        const unsigned char *p = image.pixels + 4 * i;
        check(p[0] <= p[3] && p[1] <= p[3] && p[2] <= p[3], "colours are premultiplied");
    }
    return image;
}

} // namespace fuzzing
