// TGA writer: uncompressed true colour, 24 or 32 bits, origin bottom-left.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "parallel.h"
#include "pixel_rows.h"
#include "safe_output.h"
#include "tga.h"
#include "tga_private.h"

namespace {

const char kImageId[] = "written with libimgio";
constexpr int kImageIdLength = sizeof kImageId - 1;

void putLe16(unsigned char *p, int v) {
    p[0] = (unsigned char)(v & 0xFF);
    p[1] = (unsigned char)((v >> 8) & 0xFF);
}

} // namespace

int tgaWrite(const char *fileName, int width, int height, const unsigned char *pixels, int format) {
    return tgaWriteRows(fileName, width, height, pixels, format, TGA_BOTTOM_UP);
}

int tgaWriteRows(const char *fileName, int width, int height, const unsigned char *pixels, int format,
                 TgaRowOrder order) {
    int code = TGA_NO_ERROR;
    if (format != TGA_RGB && format != TGA_RGBA)
        code = TGA_BAD_FORMAT;
    else if (!pixels && (width < 0 || height < 0 || (long long)width * height > 0))
        code = TGA_NO_DATA;
    else if (width < 0 || height < 0 || width > 65535 || height > 65535)
        code = TGA_BAD_HEADER;
    if (code != TGA_NO_ERROR) {
        tgaSetError(code);
        return 0;
    }

    // The file's rows go in chunks of about 1 MiB, each converted into a
    // buffer and written from it. With a buffer per processor, the processors
    // take turns at the chunks, each writing its own while another converts
    // the next, so that the system's copying of the data overlaps the
    // conversion. The buffers come first: without memory for them, the old
    // file is not touched at all.
    const size_t rowBytes = (size_t)width * format;
    const int chunkRows = rowBytes ? (int)std::max<size_t>(1, ((size_t)1 << 20) / rowBytes) : 1;
    const int chunks = (height + chunkRows - 1) / chunkRows;
    const size_t chunkBytes = rowBytes * std::min(chunkRows, std::max(height, 1));
    int buffers = 1;
    std::unique_ptr<unsigned char[]> buffer;
    try {
        // (Counting the processors makes the pool of threads on first use.)
        buffers = std::max(1, std::min(threadCount(), chunks));
        buffer.reset(new unsigned char[chunkBytes * buffers]);
    } catch (const std::bad_alloc &) {
        tgaSetError(TGA_OUT_OF_MEMORY);
        return 0;
    }
    unsigned char header[kTgaHeaderSize + kImageIdLength] = {};
    SafeOutput out;
    code = out.open(fileName, sizeof header + (uint64_t)rowBytes * height);
    if (code != TGA_NO_ERROR) {
        tgaSetError(code);
        return 0;
    }
    header[0] = kImageIdLength;
    header[2] = 2;
    putLe16(header + 12, width);
    putLe16(header + 14, height);
    header[16] = (unsigned char)(8 * format);
    header[17] = format == TGA_RGBA ? 8 : 0;
    memcpy(header + kTgaHeaderSize, kImageId, kImageIdLength);
    std::atomic<bool> ok{out.write(header, sizeof header)};

    // Chunk c goes to turn c mod turns; a file that must be written in order
    // gets one turn, whose chunks are converted on all processors instead.
    const int turns = out.seekable() ? buffers : 1;
    forEachRowBlock(turns, 1, [&](int firstTurn, int lastTurn) {
        unsigned char *converted = buffer.get() + firstTurn * chunkBytes;
        for (int chunk = 0; ok && chunk < chunks; ++chunk) {
            if (chunk % turns < firstTurn || chunk % turns >= lastTurn) continue;
            const int first = chunk * chunkRows, rows = std::min(chunkRows, height - first);
            forEachRowBlock(rows, rowsPerTask(width), [&](int begin, int end) {
                for (int r = begin; r < end; ++r) {
                    // The file holds the bottom row first.
                    const int y = order == TGA_BOTTOM_UP ? first + r : height - 1 - first - r;
                    const unsigned char *src = pixels + y * rowBytes;
                    unsigned char *dst = converted + r * rowBytes;
                    if (format == TGA_RGBA) {
                        straightBgra(src, width, dst);
                    } else {
                        for (int x = 0; x < width; ++x, src += 3, dst += 3) {
                            dst[0] = src[2];
                            dst[1] = src[1];
                            dst[2] = src[0];
                        }
                    }
                }
            });
            if (!out.writeAt(converted, rows * rowBytes, sizeof header + first * rowBytes)) ok = false;
        }
    });
    code = out.commit(ok);
    if (code != TGA_NO_ERROR) {
        tgaSetError(code);
        return 0;
    }
    return 1;
}
