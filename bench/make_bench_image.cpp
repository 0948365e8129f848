// Makes the test picture of bench/run, 3840 x 2160 unless another size is
// given: the shipped landscape scaled bilinearly, with a fine grain as a
// photograph has and a soft alpha that fades from opaque in the middle
// towards the corners; and its mirror image, the second picture of the
// commands that take two.
//   build/bench/make_bench_image data/landscape.tga OUT.tga MIRROR.tga [WIDTH HEIGHT]
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "image/tga.h"

namespace {

// Deterministic grain of -6 .. 6, the same on every machine.
int grain(int x, int y, int channel) {
    uint32_t h = (uint32_t)x * 374761393u + (uint32_t)y * 668265263u + (uint32_t)channel * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return (int)((h ^ (h >> 16)) % 13) - 6;
}

} // namespace

int main(int argc, char **argv) {
    const int width = argc == 6 ? atoi(argv[4]) : 3840, height = argc == 6 ? atoi(argv[5]) : 2160;
    if ((argc != 4 && argc != 6) || width < 1 || height < 1) {
        fprintf(stderr, "usage: make_bench_image SOURCE.tga OUT.tga MIRROR.tga [WIDTH HEIGHT]\n");
        return 2;
    }
    int sw, sh;
    unsigned char *source = tgaLoad(argv[1], &sw, &sh, TGA_RGBA);
    if (!source) {
        fprintf(stderr, "cannot read %s: %s\n", argv[1], tgaErrorText(tgaLastError()));
        return 1;
    }
    std::vector<unsigned char> out((size_t)width * height * 4);
    unsigned char *p = out.data();
    for (int y = 0; y < height; ++y) {
        const double fy = std::min((y + 0.5) * sh / height - 0.5, sh - 1.0);
        const int y0 = std::max(0, (int)fy), y1 = std::min(sh - 1, y0 + 1);
        const double ty = std::max(0.0, fy - y0);
        for (int x = 0; x < width; ++x, p += 4) {
            const double fx = std::min((x + 0.5) * sw / width - 0.5, sw - 1.0);
            const int x0 = std::max(0, (int)fx), x1 = std::min(sw - 1, x0 + 1);
            const double tx = std::max(0.0, fx - x0);
            // Alpha 255 within the middle, falling to about 60 in the corners.
            const double dx = (x - width / 2.0) / (width / 2.0), dy = (y - height / 2.0) / (height / 2.0);
            const double alpha = std::clamp(255.0 * (1.4 - 0.55 * (dx * dx + dy * dy)), 0.0, 255.0);
            for (int k = 0; k < 3; ++k) {
                auto at = [&](int cx, int cy) { return source[((size_t)cy * sw + cx) * 4 + k]; };
                const double v = (at(x0, y0) * (1 - tx) + at(x1, y0) * tx) * (1 - ty) +
                                 (at(x0, y1) * (1 - tx) + at(x1, y1) * tx) * ty + grain(x, y, k);
                p[k] = (unsigned char)(std::clamp(v, 0.0, 255.0) * alpha / 255.0);
            }
            p[3] = (unsigned char)alpha;
        }
    }
    free(source);
    std::vector<unsigned char> mirror(out.size());
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            memcpy(&mirror[((size_t)y * width + x) * 4], &out[((size_t)y * width + width - 1 - x) * 4], 4);
    for (int i : {2, 3}) {
        if (!tgaWrite(argv[i], width, height, (i == 2 ? out : mirror).data(), TGA_RGBA)) {
            fprintf(stderr, "cannot write %s: %s\n", argv[i], tgaErrorText(tgaLastError()));
            return 1;
        }
    }
    return 0;
}
