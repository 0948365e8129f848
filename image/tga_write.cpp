// TGA writer: uncompressed true colour, 24 or 32 bits, origin bottom-left.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "parallel.h"
#include "pixel_halves.h"
#include "safe_output.h"
#include "tga.h"
#include "tga_private.h"

namespace {

const char kImageId[] = "written with libimgio";
constexpr int kImageIdLength = sizeof kImageId - 1;

// Colour byte divided by alpha, in single precision as the format's
// straight colours require; indexed [alpha][colour]. Built on first use.
struct UnpremultiplyTable {
    unsigned char value[256][256];
    // Whether opaque pixels keep their colour bytes, so that runs of them
    // can skip the table.
    bool opaqueKeepsColour = true;
    UnpremultiplyTable() {
        const float k = 1.0f / 255.0f;
        for (int a = 0; a < 256; ++a) {
            float alpha = (float)a * k;
            for (int c = 0; c < 256; ++c) {
                float x = (float)c * k;
                if (alpha > 0.0001f) x = x / alpha;
                value[a][c] = x > 1.0f ? 255 : (unsigned char)(int)(x * 255.0f);
            }
        }
        for (int c = 0; c < 256; ++c) opaqueKeepsColour = opaqueKeepsColour && value[255][c] == c;
    }
};

const UnpremultiplyTable &unpremultiplyTable() {
    static const UnpremultiplyTable table;
    return table;
}

// RGBA to BGRA for a run of pixels, on their 16-bit halves.
void swapRedBlue(const unsigned char *src, unsigned char *dst) {
    for (int i = 0; i < kRunPixels; ++i, src += 4, dst += 4) {
        const PixelHalves p = loadHalves(src);
        storeHalves(dst, (uint16_t)((p.high & 0xFF) | (p.low & 0xFF00)), (uint16_t)((p.low & 0xFF) | (p.high & 0xFF00)));
    }
}

// One row of RGBA pixels as straight BGRA. Runs of opaque pixels, most of a
// typical picture, only swap red and blue; the others look their colours up.
void straightBgraRow(const unsigned char *src, int width, unsigned char *dst) {
    const UnpremultiplyTable &table = unpremultiplyTable();
    for (int x = 0; x < width; x += kRunPixels) {
        const int n = std::min(kRunPixels, width - x);
        if (n == kRunPixels && table.opaqueKeepsColour && runIsOpaque(src + x * 4)) {
            swapRedBlue(src + x * 4, dst + x * 4);
            continue;
        }
        for (int i = x; i < x + n; ++i) {
            const unsigned char *p = src + i * 4;
            const unsigned char *divide = table.value[p[3]];
            unsigned char *q = dst + i * 4;
            q[0] = divide[p[2]];
            q[1] = divide[p[1]];
            q[2] = divide[p[0]];
            q[3] = p[3];
        }
    }
}

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
                    straightBgraRow(src, width, dst);
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
