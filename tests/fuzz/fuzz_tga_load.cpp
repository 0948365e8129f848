// Fuzz target for the TGA reader: the input is a file, loaded in both
// formats. Whatever the bytes, a load either fails with a known error code
// and leaves its outputs alone, or gives the same picture in both formats,
// premultiplied, which the writer stores and the reader gives back.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tga.h"

namespace {

std::string inputPath, outputPath;

void check(bool condition, const char *what) {
    if (condition) return;
    fprintf(stderr, "tgaLoad fuzz check failed: %s\n", what);
    abort();
}

void removeFiles() {
    unlink(inputPath.c_str());
    unlink(outputPath.c_str());
}

// Writing back and reading again keeps every opaque pixel. Only for small
// pictures, to keep each run short.
void checkRoundTrip(const unsigned char *rgba, int width, int height) {
    if ((int64_t)width * height > 1 << 16) return;
    check(tgaWrite(outputPath.c_str(), width, height, rgba, TGA_RGBA) == 1, "a loaded picture can be written");
    int w = 0, h = 0;
    unsigned char *again = tgaLoad(outputPath.c_str(), &w, &h, TGA_RGBA);
    check(again && w == width && h == height, "a written picture loads at its size");
    for (int64_t i = 0; i < (int64_t)width * height; ++i)
        if (rgba[4 * i + 3] == 255) check(memcmp(rgba + 4 * i, again + 4 * i, 4) == 0, "opaque pixels survive");
    free(again);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    const std::string base = "/tmp/fuzz-tga-" + std::to_string(getpid());
    inputPath = base + "-in.tga";
    outputPath = base + "-out.tga";
    atexit(removeFiles);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FILE *f = fopen(inputPath.c_str(), "wb");
    check(f && (size == 0 || fwrite(data, 1, size, f) == size) && fclose(f) == 0, "the input file can be written");

    int w4 = -1, h4 = -1, w3 = -1, h3 = -1;
    unsigned char *rgba = tgaLoad(inputPath.c_str(), &w4, &h4, TGA_RGBA);
    const int rgbaError = tgaLastError();
    unsigned char *rgb = tgaLoad(inputPath.c_str(), &w3, &h3, TGA_RGB);
    check(!rgba == !rgb, "both formats succeed or both fail");
    if (!rgba) {
        check(w4 == -1 && h4 == -1 && w3 == -1 && h3 == -1, "a failed load leaves its outputs alone");
        check(rgbaError >= 1 && rgbaError <= 13 && tgaLastError() == rgbaError, "a failure has a known code");
        check(strcmp(tgaErrorText(rgbaError), "unknown error") != 0, "a failure has a text");
        return 0;
    }
    check(w4 == w3 && h4 == h3 && w4 > 0 && h4 > 0 && w4 <= 65535 && h4 <= 65535, "sizes agree");
    const int64_t count = (int64_t)w4 * h4;
    for (int64_t i = 0; i < count; ++i) {
        const unsigned char *p = rgba + 4 * i;
        check(p[0] <= p[3] && p[1] <= p[3] && p[2] <= p[3], "colours are premultiplied");
        check(memcmp(p, rgb + 3 * i, 3) == 0, "the RGB load is the RGBA load without alpha");
    }
    checkRoundTrip(rgba, w4, h4);
    free(rgba);
    free(rgb);
    return 0;
}
