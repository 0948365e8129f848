// Times TGA writing and reading of a 3840 x 2160 RGBA image (raw and
// run-length encoded files) against a plain copy of the same bytes.
//   build/bench/bench_tga [folder for the temporary files]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "image/tga.h"

namespace {

using Clock = std::chrono::steady_clock;

template <class F> double bestMs(int runs, F &&work) {
    double best = 1e30;
    for (int i = 0; i < runs; ++i) {
        auto start = Clock::now();
        work();
        best = std::min(best, std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    return best;
}

// A run-length encoded 32-bit copy of the image: runs where pixels repeat.
void writeRunLength(const std::string &path, int w, int h, const std::vector<unsigned char> &rgba) {
    std::vector<unsigned char> out = {0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, (unsigned char)w, (unsigned char)(w >> 8),
                                      (unsigned char)h, (unsigned char)(h >> 8), 32, 8};
    const size_t n = (size_t)w * h;
    for (size_t i = 0; i < n;) {
        size_t run = 1;
        while (run < 128 && i + run < n && memcmp(&rgba[i * 4], &rgba[(i + run) * 4], 4) == 0) ++run;
        out.push_back((unsigned char)(0x80 | (run - 1)));
        const unsigned char *p = &rgba[i * 4];
        out.insert(out.end(), {p[2], p[1], p[0], p[3]});
        i += run;
    }
    FILE *f = fopen(path.c_str(), "wb");
    fwrite(out.data(), 1, out.size(), f);
    fclose(f);
}

} // namespace

int main(int argc, char **argv) {
    const std::string folder = argc > 1 ? argv[1] : "/tmp";
    const int w = 3840, h = 2160;
    std::vector<unsigned char> rgba((size_t)w * h * 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            unsigned char *p = &rgba[((size_t)y * w + x) * 4];
            unsigned a = (x / 64 + y / 64) % 2 ? 255 : (x ^ y) & 255;
            p[0] = (unsigned char)((x / 8 & 255) * a / 255);
            p[1] = (unsigned char)((y / 8 & 255) * a / 255);
            p[2] = (unsigned char)(((x + y) / 16 & 255) * a / 255);
            p[3] = (unsigned char)a;
        }
    const std::string raw = folder + "/bench-raw.tga", rle = folder + "/bench-rle.tga";
    std::vector<unsigned char> copy(rgba.size());

    double copyMs = bestMs(5, [&] { memcpy(copy.data(), rgba.data(), rgba.size()); });
    double writeMs = bestMs(5, [&] { tgaWrite(raw.c_str(), w, h, rgba.data(), TGA_RGBA); });
    writeRunLength(rle, w, h, rgba);
    int lw, lh;
    double readMs = bestMs(5, [&] { free(tgaLoad(raw.c_str(), &lw, &lh, TGA_RGBA)); });
    double readRleMs = bestMs(5, [&] { free(tgaLoad(rle.c_str(), &lw, &lh, TGA_RGBA)); });
    printf("3840 x 2160 RGBA, best of 5\n");
    printf("  memcpy          %8.1f ms\n", copyMs);
    printf("  tgaWrite        %8.1f ms\n", writeMs);
    printf("  tgaLoad raw     %8.1f ms\n", readMs);
    printf("  tgaLoad RLE     %8.1f ms\n", readRleMs);
    remove(raw.c_str());
    remove(rle.c_str());
    return 0;
}
