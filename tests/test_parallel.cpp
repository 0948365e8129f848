// The pool that splits row loops across threads, and every operation that
// uses it: the same bytes with one thread as with several.
#include <sched.h>
#include <sys/stat.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <tuple>

#include "image/parallel.h"
#include "image/tga.h"
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
#include "test_support.h"

namespace {

const int kThreadCounts[] = {2, 3, 7};

// The blocks one call hands out, as (first, last) pairs, and how often each
// row was visited.
struct Coverage {
    std::mutex mutex;
    std::vector<std::pair<int, int>> blocks;
    std::vector<std::atomic<int>> visits;
    explicit Coverage(int rows) : visits(rows) {}
    void run(int rows, int minimum) {
        forEachRowBlock(rows, minimum, [&](int first, int last) {
            for (int r = first; r < last; ++r) ++visits[r];
            std::lock_guard<std::mutex> lock(mutex);
            blocks.emplace_back(first, last);
        });
    }
};

} // namespace

TEST(RowBlocks, CoverEveryRowOnceInBlocksOfAtLeastTheMinimum) {
    for (int threads : {1, 2, 3, 7})
        for (auto [rows, minimum] : {std::pair{1, 1}, {5, 3}, {6, 3}, {17, 1}, {1000, 7}, {1000, 400}}) {
            setThreadCount(threads);
            Coverage coverage(rows);
            coverage.run(rows, minimum);
            for (int r = 0; r < rows; ++r) ASSERT_EQ(coverage.visits[r].load(), 1) << rows << " rows, row " << r;
            std::sort(coverage.blocks.begin(), coverage.blocks.end());
            for (auto [first, last] : coverage.blocks)
                EXPECT_TRUE(last - first >= minimum || coverage.blocks.size() == 1) << first << ".." << last;
        }
    setThreadCount(0);
}

TEST(RowBlocks, NestedCallsCallsFromOtherThreadsAndExceptionsNeitherHangNorStopThePool) {
    setThreadCount(7);
    for (int call = 0; call < 200; ++call) {
        Coverage inner(64 * 64), outside(300);
        std::thread other([&] { outside.run(300, 1); }); // while this thread's job runs, or not
        forEachRowBlock(64, 1, [&](int first, int last) {
            for (int r = first; r < last; ++r)
                forEachRowBlock(64, 1, [&](int a, int b) {
                    for (int c = a; c < b; ++c) ++inner.visits[r * 64 + c];
                });
        });
        other.join();
        for (auto &v : inner.visits) ASSERT_EQ(v.load(), 1) << call;
        for (auto &v : outside.visits) ASSERT_EQ(v.load(), 1) << call;
        auto throwing = [](int first, int) {
            if (first == 0) throw std::bad_alloc();
        };
        EXPECT_THROW(forEachRowBlock(100, 1, throwing), std::bad_alloc);
    }
    setThreadCount(0);
}

TEST(RowBlocks, ThreadsFollowTheProcessorsTheProcessMayRunOn) {
    cpu_set_t all, one;
    ASSERT_EQ(sched_getaffinity(0, sizeof all, &all), 0);
    CPU_ZERO(&one);
    CPU_SET(sched_getcpu(), &one);
    ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
    setThreadCount(0);
    EXPECT_EQ(threadCount(), 1);
    sched_setaffinity(0, sizeof all, &all);
    setThreadCount(0);
    EXPECT_EQ(threadCount(), CPU_COUNT(&all));
}

namespace {

// Noise with runs of opaque pixels, transparent ones, and black edge rows
// and columns for the trims to find.
Bytes picture(int w, int h) {
    Bytes b((size_t)w * h * 4);
    for (size_t i = 0; i < b.size(); ++i) b[i] = (uint8_t)(rand() % 7 == 0 ? 255 : rand());
    for (size_t i = 0; i < b.size() / 4; i += 1 + rand() % 40)
        for (size_t k = i; k < std::min(b.size() / 4, i + rand() % 40); ++k) b[k * 4 + 3] = 255;
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c)
            if (r < 3 || c >= w - 2) memset(&b[((size_t)r * w + c) * 4], 0, 3);
    return b;
}

using Result = std::tuple<int, int, Bytes>;

Result after(int threads, VectorPath path, int w, int h, const Bytes &pixels,
             const std::function<void(Image &)> &operation) {
    setThreadCount(threads);
    setVectorPath(path);
    TestImage image(w, h, pixels);
    operation(image);
    return {image.width, image.height, image.bytes()};
}

// A stroke map with every code in every cell, for painting.
StrokeMap randomMap() {
    TestImage brush(8 * kStrokeSize, 6 * kStrokeSize, [](int, int) {
        const Pixel codes[] = {opaque(255, 255, 0), opaque(0, 255, 0), opaque(0, 0, 0), opaque(200, 0, 0)};
        return codes[rand() % 4];
    });
    StrokeMap map;
    imageToMap(brush, map);
    return map;
}

} // namespace

// Every vector path this processor has, each with one thread and several,
// against the plain path on one thread.
TEST(Parallel, EveryOperationGivesTheSameBytesWithAnyNumberOfThreadsOnEveryVectorPath) {
    srand(3);
    const StrokeMap map = randomMap();
    const OffsetTable offsets = makeOffsetTable();
    // Smaller than a block, one row, a few blocks, many blocks.
    for (auto [w, h] : {std::pair{7, 5}, {1001, 1}, {517, 263}, {1031, 389}}) {
        const Bytes input = picture(w, h);
        TestImage second(w, h, picture(w, h));
        const std::pair<const char *, std::function<void(Image &)>> operations[] = {
            {"blur", [](Image &i) { convolveImage(i, Kernel::Blur7); }},
            {"sharpen", [](Image &i) { convolveImage(i, Kernel::Sharpen); }},
            {"edge", [](Image &i) { convolveImage(i, Kernel::Edge); }},
            {"unsharp", [](Image &i) { unsharpMaskImage(i); }},
            {"half", [](Image &i) { scaleImage(i, 0.5, 0.5); }},
            {"double", [](Image &i) { scaleImage(i, 2, 2); }},
            {"scale", [](Image &i) { scaleImage(i, 1.7, -0.3); }},
            {"rotate", [](Image &i) { rotateImage(i, 30); }},
            {"rotate 90", [](Image &i) { rotateImage(i, 90); }},
            {"rotate 3", [](Image &i) { rotateImage(i, 3); }},
            {"rotate -100", [](Image &i) { rotateImage(i, -100); }},
            {"over", [&](Image &i) { compositeImages(second, i, kOver, 3, -2); }},
            {"over itself", [](Image &i) { compositeImages(i, i, kAtop, 2, 1); }},
            {"darken", [](Image &i) { darkenImage(i, 0.7f); }},
            {"dissolve", [](Image &i) { dissolveImage(i, 0.4f); }},
            {"difference", [&](Image &i) { differenceMatte(i, second, 8); }},
            {"grays", grayLevels},
            {"BW 1", clipBW},
            {"BW 3", orderedDither3},
            {"BW", [](Image &i) {
                 DiffusionTrace trace;
                 errorDiffuse(i, paletteBW, trace);
             }},
            {"primary", [](Image &i) {
                 DiffusionTrace trace;
                 errorDiffuse(i, palettePrimary, trace);
             }},
            {"pastel", [](Image &i) {
                 DiffusionTrace trace;
                 errorDiffuse(i, palettePastel, trace);
             }},
            {"bluescreen", [](Image &i) { bluescreenMatte(i, 200, 2.1, 0.6); }},
            {"copy", [&](Image &i) { copyImage(second, i); }},
            {"solid", [](Image &i) { fillSolid(i, i.width, i.height, 200, 100, 50, 128); }},
            {"painter", [&](Image &i) {
                 Image canvas;
                 canvas.replace(2 * i.width, 2 * i.height, whiteCanvas(i));
                 paintStrokes(i, map, kSquiggleBrush, offsets, (uint32_t *)canvas.pixels);
                 i.replace(canvas.width, canvas.height, canvas.pixels);
             }},
        };
        for (auto &[name, operation] : operations) {
            const Result plain = after(1, VectorPath::Plain, w, h, input, operation);
            for (VectorPath path : kVectorPaths) {
                if (!vectorPathSupported(path)) continue;
                for (int threads : {1, 2, 3, 7})
                    EXPECT_TRUE(after(threads, path, w, h, input, operation) == plain)
                        << name << ", " << w << " x " << h << ", " << threads << " threads, path " << (int)path;
            }
        }
    }
    setThreadCount(0);
    setVectorPath(VectorPath::Avx512);
}

using ParallelFiles = TempDirTest;

TEST_F(ParallelFiles, TgaFilesAreReadAndWrittenTheSameWithAnyNumberOfThreads) {
    srand(4);
    // Tall enough for the writer's chunks to go round every thread.
    const int w = 517, h = 1100;
    const TestImage image(w, h, picture(w, h));
    auto written = [&](int threads) {
        setThreadCount(threads);
        EXPECT_EQ(tgaWrite(path("out.tga").c_str(), w, h, image.pixels, TGA_RGBA), 1);
        return pixelData(readBytes(path("out.tga")));
    };
    // A pipe, which cannot take the chunks out of order, is read as written.
    ASSERT_EQ(mkfifo(path("pipe").c_str(), 0600), 0);
    auto piped = [&](int threads) {
        setThreadCount(threads);
        std::thread writer([&] { EXPECT_EQ(tgaWrite(path("pipe").c_str(), w, h, image.pixels, TGA_RGBA), 1); });
        const Bytes file = readBytes(path("pipe"));
        writer.join();
        return pixelData(file);
    };
    const Bytes data = written(1);
    auto first = [&](size_t bytes, Bytes start = {}) {
        start.insert(start.end(), data.begin(), data.begin() + bytes);
        return start;
    };
    // 32-bit from each corner, and grey through a colour map.
    TgaHeader header;
    header.width = w;
    header.height = h;
    header.depth = 32;
    std::vector<Bytes> files;
    for (int corner : {0, 0x10, 0x20, 0x30}) {
        header.descriptor = 8 | corner;
        files.push_back(header.with(data));
    }
    header.mapType = header.type = 1;
    header.mapLength = 256;
    header.mapBits = 24;
    header.depth = 8;
    Bytes greys;
    for (int i = 0; i < 256; ++i) greys.insert(greys.end(), {(uint8_t)i, (uint8_t)i, (uint8_t)i});
    files.push_back(header.with(first((size_t)w * h, greys)));
    // Indices past the end of a shorter map in the last rows only: an error.
    header.mapLength = 255;
    Bytes badIndex(greys.begin(), greys.end() - 3);
    badIndex.resize(badIndex.size() + (size_t)w * h, 7);
    std::fill(badIndex.end() - 3 * w, badIndex.end(), 255);
    auto read = [&](int threads, const Bytes &file, int format) {
        setThreadCount(threads);
        writeBytes(path("in.tga"), file);
        int rw = 0, rh = 0;
        unsigned char *pixels = tgaLoadRows(path("in.tga").c_str(), &rw, &rh, format, TGA_TOP_DOWN);
        const Bytes result = pixels ? Bytes(pixels, pixels + (size_t)rw * rh * format) : Bytes{(uint8_t)tgaLastError()};
        free(pixels);
        return result;
    };
    for (int threads : kThreadCounts) {
        EXPECT_EQ(written(threads), data) << threads << " threads";
        EXPECT_EQ(piped(threads), data) << threads << " threads";
        for (const Bytes &file : files)
            for (int format : {TGA_RGBA, TGA_RGB}) EXPECT_EQ(read(threads, file, format), read(1, file, format));
        EXPECT_EQ(read(threads, header.with(badIndex), TGA_RGBA), Bytes{TGA_BAD_COLORMAP}) << threads << " threads";
    }
    setThreadCount(0);
}
