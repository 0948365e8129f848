// Times the image operations on a 3840 x 2160 image, each run on a fresh
// copy of the same picture: one untimed run, then the median of several, in
// wall-clock time and in processor time of this process (all its threads),
// as bench/peers.py times its libraries. Processor time is less disturbed
// by other work on a shared machine; wall-clock time shows what the threads
// gain. bench/run uses it for the in-process column of its table.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "image/image_file.h"
#include "image/parallel.h"
#include "image/vector_path.h"

#include "ops/bluescreen.h"
#include "ops/composite.h"
#include "ops/crop.h"
#include "ops/dither.h"
#include "ops/filter.h"
#include "ops/painter.h"
#include "ops/resample.h"
#include "ops/rotate.h"
#include "ops/tone.h"

namespace {

constexpr int kWidth = 3840, kHeight = 2160;

// A picture with gradients and noise, so no row or column is black, opaque
// in the middle and more and more transparent towards the corners.
Image makePicture() {
    Image image;
    image.replace(kWidth, kHeight, allocPixels(kWidth, kHeight));
    uint32_t seed = 12345;
    unsigned char *p = image.pixels;
    for (int r = 0; r < kHeight; ++r)
        for (int c = 0; c < kWidth; ++c, p += 4) {
            seed = seed * 1664525u + 1013904223u;
            const int dx = 2 * c - kWidth, dy = 2 * r - kHeight;
            const int alpha = std::max(40, std::min(255, 400 - (int)(160.0 * dx / kWidth * dx / kWidth +
                                                                     160.0 * dy / kHeight * dy / kHeight)));
            p[0] = (unsigned char)((16 + c * 200 / kWidth + (seed >> 28)) * alpha / 255);
            p[1] = (unsigned char)((16 + r * 200 / kHeight + ((seed >> 24) & 15)) * alpha / 255);
            p[2] = (unsigned char)((16 + (seed >> 16) % 224) * alpha / 255);
            p[3] = (unsigned char)alpha;
        }
    return image;
}

const char *only = nullptr; // the one operation to time, when named
int runs = 5;
// A second result of an operation, freed with the first after the timing.
Image spare;

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void time(const char *name, const Image &picture, const std::function<bool(Image &)> &operation) {
    if (only && strcmp(only, name) != 0) return;
    std::vector<double> walls, processors;
    int width = 0, height = 0;
    for (int run = 0; run <= runs; ++run) { // run 0 untimed
        Image copy;
        const size_t bytes = (size_t)picture.width * picture.height * 4;
        copy.replace(picture.width, picture.height, allocPixels(picture.width, picture.height));
        memcpy(copy.pixels, picture.pixels, bytes);
        const auto wallStart = std::chrono::steady_clock::now();
        const clock_t start = clock();
        if (!operation(copy)) {
            printf("%-16s failed\n", name);
            return;
        }
        const double processor = (clock() - start) * 1000.0 / CLOCKS_PER_SEC;
        const double wall = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wallStart).count();
        if (run > 0) {
            walls.push_back(wall);
            processors.push_back(processor);
        }
        width = copy.width;
        height = copy.height;
        copy.release();
        spare.release();
    }
    printf("%-16s %8.1f ms %8.1f ms  -> %d x %d\n", name, median(walls), median(processors), width, height);
}

} // namespace

// bench_ops [-t THREADS] [-p plain|avx2|avx512] [-r RUNS] [-f PICTURE MIRROR] ["NAME"]
// times every operation, or only the one named: with the given number of
// threads (by default one per processor the process may run on), on the
// plain x86-64 code paths with -p plain, the AVX2 ones with -p avx2 (by
// default the fastest the processor has), the median of RUNS runs (5), on the two pictures of the
// TGA files (by default a made-up picture and its mirror image). Run from
// the source folder, it times the painter too.
int main(int argc, char **argv) {
    Image picture, second; // second: the picture mirrored, for the operations on two images
    const char *pictureFile = nullptr;
    int arg = 1;
    for (; arg + 1 < argc && argv[arg][0] == '-'; arg += 2) {
        if (strcmp(argv[arg], "-t") == 0) setThreadCount(atoi(argv[arg + 1]));
        if (strcmp(argv[arg], "-p") == 0)
            setVectorPath(strcmp(argv[arg + 1], "plain") == 0 ? VectorPath::Plain
                          : strcmp(argv[arg + 1], "avx2") == 0  ? VectorPath::Avx2
                                                                : VectorPath::Avx512);
        if (strcmp(argv[arg], "-r") == 0) runs = std::max(1, atoi(argv[arg + 1]));
        if (strcmp(argv[arg], "-f") == 0 && arg + 2 < argc) {
            pictureFile = argv[arg + 1];
            if (loadImageFile(pictureFile, &picture) || loadImageFile(argv[arg + 2], &second)) return 1;
            ++arg;
        }
    }
    if (arg < argc) only = argv[arg];
    if (!picture.pixels) {
        picture = makePicture();
        copyImage(picture, second);
        for (int r = 0; r < kHeight; ++r)
            for (int c = 0; c < kWidth; ++c)
                memcpy(second.pixels + ((size_t)r * kWidth + c) * 4,
                       picture.pixels + ((size_t)r * kWidth + kWidth - 1 - c) * 4, 4);
    }
    printf("%d x %d, %d threads, %s, median of %d runs:     wall  processor\n", picture.width, picture.height,
           threadCount(), useAvx512() ? "AVX-512" : useAvx2() ? "AVX2" : "plain", runs);
    // Reading the picture's file and writing it beside it, when there is one;
    // then the same as PNG and JPEG: the reads take the files beside the
    // picture of the same name (photo.png and photo.jpg beside photo.tga,
    // as bench/run makes them), written here first, untimed, where there are
    // none.
    if (pictureFile) {
        const std::string path = pictureFile, base = path.substr(0, path.rfind('.'));
        const struct {
            const char *read, *write, *suffix;
        } kinds[] = {{"TGA read", "TGA write", ".tga"}, {"PNG read", "PNG write", ".png"}, {"JPEG read", "JPEG write", ".jpg"}};
        for (const auto &kind : kinds) {
            const std::string input = strcmp(kind.suffix, ".tga") == 0 ? path : base + kind.suffix;
            const std::string written = path + ".written" + kind.suffix;
            if (!only || strcmp(only, kind.read) == 0) {
                FILE *file = fopen(input.c_str(), "rb");
                if (file) fclose(file);
                if (!file && saveImageFile(input.c_str(), picture) != IMAGE_FILE_OK)
                    printf("%-16s failed\n", kind.read);
                else
                    time(kind.read, picture, [&](Image &i) { return loadImageFile(input.c_str(), &i) == IMAGE_FILE_OK; });
            }
            time(kind.write, picture, [&](Image &i) { return saveImageFile(written.c_str(), i) == IMAGE_FILE_OK; });
            remove(written.c_str());
        }
    }
    time("blur 1", picture, [](Image &i) { return convolveImage(i, Kernel::Blur5); });
    time("blur 2", picture, [](Image &i) { return convolveImage(i, Kernel::Blur7); });
    time("sharpen", picture, [](Image &i) { return convolveImage(i, Kernel::Sharpen); });
    time("edgedetect", picture, [](Image &i) { return convolveImage(i, Kernel::Edge); });
    time("unsharpmask", picture, [](Image &i) { return unsharpMaskImage(i); });
    time("scale 1.7 1.3", picture, [](Image &i) { return scaleImage(i, 1.7, 1.3) == Resized::Done; });
    time("half", picture, [](Image &i) { return scaleImage(i, 0.5, 0.5) == Resized::Done; });
    time("double", picture, [](Image &i) { return scaleImage(i, 2, 2) == Resized::Done; });
    time("rotate 30", picture, [](Image &i) { return rotateImage(i, 30) == Resized::Done; });
    time("rotate 90", picture, [](Image &i) { return rotateImage(i, 90) == Resized::Done; });
    time("composite over", picture, [&](Image &i) { return compositeImages(second, i, kOver, 0, 0), true; });
    time("darken 0.7", picture, [](Image &i) { return darkenImage(i, 0.7f), true; });
    time("dissolve 0.5", picture, [](Image &i) { return dissolveImage(i, 0.5f), true; });
    time("difference", picture, [&](Image &i) { return differenceMatte(i, second, 8); });
    time("grays", picture, [](Image &i) { return grayLevels(i), true; });
    time("BW", picture, [](Image &i) {
        DiffusionTrace trace;
        return errorDiffuse(i, paletteBW, trace);
    });
    time("BW 1", picture, [](Image &i) { return clipBW(i), true; });
    time("BW 2", picture, [](Image &i) { return orderedDither2(i), true; });
    time("BW 3", picture, [](Image &i) { return orderedDither3(i), true; });
    time("primary", picture, [](Image &i) {
        DiffusionTrace trace;
        return errorDiffuse(i, palettePrimary, trace);
    });
    time("pastel", picture, [](Image &i) {
        DiffusionTrace trace;
        return errorDiffuse(i, palettePastel, trace);
    });
    time("bluescreen", picture, [](Image &i) { return bluescreenMatte(i, 255, 2.1, 0.6), true; });
    time("crop", picture, [](Image &i) { return cropImage(i, 960, 540, 1920, 1080) == CropResult::Done; });
    time("copy", picture, [](Image &i) { return copyImage(i, spare); });
    time("solid", picture, [](Image &i) { return fillSolid(i, 3840, 2160, 200, 100, 50, 128); });
    // The painter with the shipped brush file, when run from the source folder.
    Image brushes;
    StrokeMap map;
    const OffsetTable offsets = makeOffsetTable();
    if (loadImageFile("data/paintBrushes.tga", &brushes) == IMAGE_FILE_OK && imageToMap(brushes, map))
        time("painter", picture, [&](Image &i) {
            unsigned char *canvas = whiteCanvas(i);
            if (!canvas) return false;
            paintStrokes(i, map, kDotBrush, offsets, (uint32_t *)canvas);
            i.replace(2 * i.width, 2 * i.height, canvas);
            return true;
        });
    brushes.release();
    picture.release();
    second.release();
    return 0;
}
