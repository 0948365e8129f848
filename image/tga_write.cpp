// TGA writer: uncompressed true colour, 24 or 32 bits, origin bottom-left.
#include <algorithm>
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

    // The block for converted rows comes first: without memory for it, the
    // old file is not touched at all. About 4 MiB is written at once: much
    // smaller writes made writing the file twice as slow, and a block of 1 MiB
    // gave the threads that convert it too little work each.
    const size_t rowBytes = (size_t)width * format;
    const int blockRows = rowBytes ? (int)std::max<size_t>(1, ((size_t)1 << 22) / rowBytes) : 1;
    std::unique_ptr<unsigned char[]> block(new (std::nothrow)
                                               unsigned char[rowBytes * std::min(blockRows, std::max(height, 1))]);
    if (!block) {
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
    bool ok = out.write(header, sizeof header);

    for (int first = 0; ok && first < height; first += blockRows) {
        const int rows = std::min(blockRows, height - first);
        // The rows of a block are converted on all processors.
        forEachRowBlock(rows, rowsPerTask(width), [&](int begin, int end) {
            for (int r = begin; r < end; ++r) {
                // The file holds the bottom row first.
                const int y = order == TGA_BOTTOM_UP ? first + r : height - 1 - first - r;
                const unsigned char *src = pixels + y * rowBytes;
                unsigned char *dst = block.get() + r * rowBytes;
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
        ok = out.write(block.get(), rows * rowBytes);
    }
    code = out.commit(ok);
    if (code != TGA_NO_ERROR) {
        tgaSetError(code);
        return 0;
    }
    return 1;
}
