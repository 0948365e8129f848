// Times the three painters on a 1920 x 1080 source with the shipped brush
// file. Prints the best processor time of several runs and a checksum of each canvas, which
// must not change when the painting code is made faster. Run from the source folder.
//   build/bench/bench_painter [RUNS]
#include <algorithm>
#include <ctime>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

#include "image/image_file.h"
#include "ops/painter.h"

namespace {

uint64_t checksum(const std::vector<uint32_t> &pixels) {
    uint64_t hash = 14695981039346656037u;
    for (uint32_t p : pixels) hash = (hash ^ p) * 1099511628211u;
    return hash;
}

// Processor time, less disturbed than wall time by other work on the machine.
double cpuSeconds() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

} // namespace

int main(int argc, char **argv) {
    const int runs = argc > 1 ? atoi(argv[1]) : 5;
    const int w = 1920, h = 1080;
    Image source;
    source.replace(w, h, allocPixels(w, h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            unsigned char *p = source.pixels + ((size_t)y * w + x) * 4;
            p[0] = (unsigned char)(x * 255 / w);
            p[1] = (unsigned char)(y * 255 / h);
            p[2] = (unsigned char)((x ^ y) & 255);
            p[3] = 255;
        }
    Image brushes;
    StrokeMap map;
    if (loadImageFile("data/paintBrushes.tga", &brushes) != IMAGE_FILE_OK || !imageToMap(brushes, map)) return 1;
    brushes.release();
    const OffsetTable offsets = makeOffsetTable();

    std::vector<uint32_t> canvas((size_t)4 * w * h);
    const std::pair<const char *, BrushCells> painters[] = {
        {"painter", kDotBrush}, {"painter2", kSquiggleBrush}, {"painter3", kHighlightBrush}};
    for (auto [name, brush] : painters) {
        double best = 1e30;
        for (int r = 0; r < runs; ++r) {
            std::fill(canvas.begin(), canvas.end(), 0xFFFFFFFFu);
            const double start = cpuSeconds();
            paintStrokes(source, map, brush, offsets, canvas.data());
            best = std::min(best, cpuSeconds() - start);
        }
        printf("%-9s %dx%d: best of %d %7.1f ms  (%.1f M strokes/s)  checksum %016llx\n", name, w, h,
               runs, best * 1000, w * h / 4 / best / 1e6, (unsigned long long)checksum(canvas));
    }
    source.release();
    return 0;
}
