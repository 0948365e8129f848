// TGA reader: types 1, 2, 3 (raw) and 9, 10, 11 (run-length encoded).
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "parallel.h"
#include "pixel_memory.h"
#include "pixel_rows.h"
#include "premultiply.h"
#include "tga.h"
#include "tga_private.h"

namespace {

struct Header {
    int idLength, colorMapType, imageType;
    int mapFirst, mapLength, mapEntryBits;
    int width, height, depth, descriptor;

    int alphaBits() const { return descriptor & 0x0F; }
    int origin() const { return (descriptor >> 4) & 3; }
    bool isGrey() const { return imageType == 3 || imageType == 11; }
    bool isRunLength() const { return imageType >= 9; }
};

Header parseHeader(const unsigned char *b) {
    auto le16 = [&](int at) { return b[at] | b[at + 1] << 8; };
    return Header{b[0], b[1], b[2], le16(3), le16(5), b[7], le16(12), le16(14), b[16], b[17]};
}

int bytesForBits(int bits) { return bits == 0 ? 1 : (bits + 7) / 8; }

// Reads a file through one large block buffer instead of a call per byte.
// The decoders convert straight out of the buffer: 64 KiB blocks stay in the
// cache, and larger ones made the whole read slower on the machines measured.
// It can also serve bytes already in memory, with no file behind them.
class BlockReader {
  public:
    explicit BlockReader(FILE *f) : file(f), block(1 << 16), start(block.data()) {}
    BlockReader(const unsigned char *bytes, size_t n) : start(bytes), length(n) {}
    BlockReader(const BlockReader &) = delete;
    BlockReader &operator=(const BlockReader &) = delete;

    // A reader of the `n` bytes from `offset` of the same file, or of the
    // same bytes in memory, independent of this one: the parts of a file can
    // be read at the same time, each by its own thread.
    BlockReader part(uint64_t offset, uint64_t n) const {
        if (!file) return BlockReader(start + offset, (size_t)n);
        return BlockReader(fileno(file), offset, n);
    }

    // False when the bytes end before n could be read.
    bool read(unsigned char *dst, size_t n) {
        while (n > 0) {
            const size_t k = std::min(n, available());
            if (k == 0) {
                ranOut = true;
                return false;
            }
            if (dst) {
                memcpy(dst, data(), k);
                dst += k;
            }
            take(k);
            n -= k;
        }
        return true;
    }
    bool skip(size_t n) { return read(nullptr, n); }

    // The bytes buffered and not yet taken, after a refill when none are
    // left; 0 at the end.
    size_t available() {
        if (pos == length && file) {
            length = fread(block.data(), 1, block.size(), file);
            pos = 0;
        } else if (pos == length && partLeft > 0) {
            const ssize_t k = pread(fd, block.data(), (size_t)std::min<uint64_t>(block.size(), partLeft), (off_t)offset);
            partFailed = k < 0;
            length = k > 0 ? (size_t)k : 0;
            partLeft = k > 0 ? partLeft - k : 0;
            offset += length;
            pos = 0;
        }
        return length - pos;
    }
    const unsigned char *data() const { return start + pos; }
    void take(size_t n) { pos += n; }
    // Whether a read failed for want of bytes.
    bool hasRunOut() const { return ranOut; }
    // Whether reading a part of a file failed.
    bool partHasFailed() const { return partFailed; }

  private:
    BlockReader(int fd, uint64_t offset, uint64_t n)
        : block(1 << 16), start(block.data()), fd(fd), offset(offset), partLeft(n) {}

    FILE *file = nullptr;
    std::vector<unsigned char> block;
    const unsigned char *start;
    size_t pos = 0, length = 0;
    bool ranOut = false;
    // A part of a file, read with pread from `offset` on.
    int fd = -1;
    uint64_t offset = 0, partLeft = 0;
    bool partFailed = false;
};

// How the bytes of one pixel value or colour-map entry are laid out.
enum class Layout { Grey8, GreyAlpha16, Rgb555, Bgr24, Bgra32 };

int layoutBytes(Layout layout) {
    switch (layout) {
    case Layout::Grey8: return 1;
    case Layout::GreyAlpha16:
    case Layout::Rgb555: return 2;
    case Layout::Bgr24: return 3;
    case Layout::Bgra32: return 4;
    }
    return 1;
}

// 5-bit channel to 8 bits with the single-precision factor 8.2258, truncated:
// 31 becomes 254.
struct FiveBitScale {
    unsigned char value[32];
    FiveBitScale() {
        for (int f = 0; f < 32; ++f) value[f] = (unsigned char)(int)((float)f * 8.2258f);
    }
};
const FiveBitScale fiveBit;

inline void storePremultiplied(unsigned char *dst, unsigned r, unsigned g, unsigned b, unsigned a) {
    dst[0] = premultiplyFloor(r, a);
    dst[1] = premultiplyFloor(g, a);
    dst[2] = premultiplyFloor(b, a);
    dst[3] = (unsigned char)a;
}

// Converts `count` values laid out as `layout` into premultiplied RGBA.
// `useAlpha` says whether stored alpha counts (descriptor alpha bits non-zero).
void convertValues(Layout layout, bool useAlpha, const unsigned char *src, size_t count,
                   unsigned char *dst) {
    switch (layout) {
    case Layout::Grey8:
        for (size_t i = 0; i < count; ++i, dst += 4) storePremultiplied(dst, src[i], src[i], src[i], 255);
        break;
    case Layout::GreyAlpha16:
        for (size_t i = 0; i < count; ++i, src += 2, dst += 4)
            storePremultiplied(dst, src[0], src[0], src[0], useAlpha ? src[1] : 255);
        break;
    case Layout::Rgb555:
        for (size_t i = 0; i < count; ++i, src += 2, dst += 4) {
            unsigned v = src[0] | src[1] << 8;
            storePremultiplied(dst, fiveBit.value[(v >> 10) & 31], fiveBit.value[(v >> 5) & 31],
                               fiveBit.value[v & 31], 255);
        }
        break;
    case Layout::Bgr24:
        // Opaque: premultiplying keeps the colour.
        for (size_t i = 0; i < count; ++i, src += 3, dst += 4) {
            dst[0] = src[2];
            dst[1] = src[1];
            dst[2] = src[0];
            dst[3] = 255;
        }
        break;
    case Layout::Bgra32:
        if (useAlpha) {
            premultiplyBgra(src, count, dst);
            break;
        }
        for (size_t i = 0; i < count; ++i, src += 4, dst += 4) {
            dst[0] = src[2];
            dst[1] = src[1];
            dst[2] = src[0];
            dst[3] = 255;
        }
        break;
    }
}

// Turns pixel values as stored in the file into premultiplied RGBA, through
// the colour map when one applies.
struct Decoder {
    int valueBytes = 1;
    Layout layout = Layout::Grey8;
    bool useAlpha = false;
    bool mapped = false;
    int mapFirst = 0;
    std::vector<unsigned char> palette; // converted colour-map entries, 4 bytes each

    // False when a colour-map index lies outside the map.
    bool convert(const unsigned char *src, size_t count, unsigned char *dst) const {
        if (!mapped) {
            convertValues(layout, useAlpha, src, count, dst);
            return true;
        }
        const int64_t entries = (int64_t)(palette.size() / 4);
        for (size_t i = 0; i < count; ++i, src += valueBytes, dst += 4) {
            uint32_t index = 0;
            for (int k = 0; k < valueBytes; ++k) {
                if (k >= 4) {
                    if (src[k]) return false;
                } else {
                    index |= (uint32_t)src[k] << (8 * k);
                }
            }
            int64_t entry = (int64_t)index - mapFirst;
            if (entry < 0 || entry >= entries) return false;
            memcpy(dst, &palette[(size_t)entry * 4], 4);
        }
        return true;
    }
};

// The error code of a decoder that stopped with `code` after reading from
// `in`: bytes that end because reading `failed` are not the end of the file.
int readError(const BlockReader &in, bool failed, int code) {
    return code != TGA_NO_ERROR && in.hasRunOut() && failed ? TGA_CANNOT_READ : code;
}

// Takes decoded pixels in file order, one row at a time, and puts each row
// at its place in the output, bottom or top row first as asked, each row
// left to right. RGBA rows stored left to right are decoded in place;
// others go through a staging row.
class RowPlacer {
  public:
    // Places file rows first .. last - 1.
    RowPlacer(unsigned char *out, int w, int h, int format, int origin, TgaRowOrder order, int first, int last)
        : out(out), width(w), height(h), format(format), fromRight(origin & 1),
          sameOrder((origin >= 2) == (order == TGA_TOP_DOWN)), direct(format == TGA_RGBA && !fromRight),
          staging(direct ? 0 : (size_t)w * 4), row(first), last(last) {}

    unsigned char *next() { return (direct ? rowStart() : staging.data()) + filled * 4; }
    size_t roomInRow() const { return width - filled; }
    bool done() const { return row == last; }
    uint64_t pixelsLeft() const { return (uint64_t)(last - row) * width - filled; }

    void advance(size_t n) {
        filled += n;
        if (filled < (size_t)width) return;
        if (!direct) {
            unsigned char *dst = rowStart();
            for (int x = 0; x < width; ++x, dst += format)
                memcpy(dst, &staging[(size_t)(fromRight ? width - 1 - x : x) * 4], format);
        }
        filled = 0;
        ++row;
    }

  private:
    // The output row of the current file row.
    unsigned char *rowStart() const {
        return out + (size_t)(sameOrder ? row : height - 1 - row) * width * format;
    }

    unsigned char *out;
    int width, height, format;
    bool fromRight, sameOrder, direct;
    std::vector<unsigned char> staging;
    size_t filled = 0;
    int row, last;
};

int decodeRaw(BlockReader &in, const Decoder &decoder, RowPlacer &placer) {
    const size_t valueBytes = decoder.valueBytes;
    std::vector<unsigned char> split(valueBytes); // a value that straddles two blocks
    while (!placer.done()) {
        const size_t whole = std::min(in.available() / valueBytes, placer.roomInRow());
        if (whole == 0) {
            if (!in.read(split.data(), valueBytes)) return TGA_UNEXPECTED_EOF;
            if (!decoder.convert(split.data(), 1, placer.next())) return TGA_BAD_COLORMAP;
            placer.advance(1);
            continue;
        }
        if (!decoder.convert(in.data(), whole, placer.next())) return TGA_BAD_COLORMAP;
        in.take(whole * valueBytes);
        placer.advance(whole);
    }
    return TGA_NO_ERROR;
}

// Packets may cross row ends; one that runs past the last pixel is cut there.
int decodeRunLength(BlockReader &in, const Decoder &decoder, RowPlacer &placer) {
    std::vector<unsigned char> packet(128 * (size_t)decoder.valueBytes);
    unsigned char pixel[4];
    while (!placer.done()) {
        unsigned char h;
        if (!in.read(&h, 1)) return TGA_UNEXPECTED_EOF;
        size_t n = (size_t)std::min<uint64_t>((h & 0x7F) + 1, placer.pixelsLeft());
        if (h & 0x80) {
            if (!in.read(packet.data(), decoder.valueBytes)) return TGA_UNEXPECTED_EOF;
            if (!decoder.convert(packet.data(), 1, pixel)) return TGA_BAD_COLORMAP;
            while (n > 0) {
                size_t k = std::min(n, placer.roomInRow());
                for (size_t i = 0; i < k; ++i) memcpy(placer.next() + i * 4, pixel, 4);
                placer.advance(k);
                n -= k;
            }
        } else {
            if (!in.read(packet.data(), n * decoder.valueBytes)) return TGA_UNEXPECTED_EOF;
            const unsigned char *src = packet.data();
            while (n > 0) {
                size_t k = std::min(n, placer.roomInRow());
                if (!decoder.convert(src, k, placer.next())) return TGA_BAD_COLORMAP;
                placer.advance(k);
                src += k * decoder.valueBytes;
                n -= k;
            }
        }
    }
    return TGA_NO_ERROR;
}

bool layoutForDepth(int depth, bool grey, Layout *layout) {
    switch (depth) {
    case 8: *layout = Layout::Grey8; return true;
    case 15: *layout = Layout::Rgb555; return true;
    case 16: *layout = grey ? Layout::GreyAlpha16 : Layout::Rgb555; return true;
    case 24: *layout = Layout::Bgr24; return true;
    case 32: *layout = Layout::Bgra32; return true;
    }
    return false;
}

struct FreeDeleter {
    void operator()(unsigned char *p) const { free(p); }
};

// Decodes a file of `fileSize` bytes that `in` serves; returns the error code.
int decodeFile(BlockReader &in, uint64_t fileSize, int format, TgaRowOrder order, unsigned char **result,
               int *width, int *height) {
    unsigned char raw[kTgaHeaderSize];
    if (!in.read(raw, sizeof raw)) return TGA_BAD_HEADER;
    const Header hd = parseHeader(raw);
    if (hd.width == 0 || hd.height == 0) return TGA_ZERO_SIZE;
    if ((uint64_t)kTgaHeaderSize + hd.idLength > fileSize) return TGA_UNEXPECTED_EOF;
    if (!in.skip(hd.idLength)) return TGA_UNEXPECTED_EOF;
    if (hd.imageType == 0) return TGA_NO_DATA;

    Decoder decoder;
    int64_t mapBytes = 0;
    std::vector<unsigned char> map;
    Layout mapLayout = Layout::Grey8;
    if (hd.colorMapType != 0) {
        if (hd.isGrey()) return TGA_GREY_COLORMAP;
        if (hd.mapEntryBits == 8 || !layoutForDepth(hd.mapEntryBits, false, &mapLayout))
            return TGA_BAD_ENTRY_SIZE;
        mapBytes = (int64_t)hd.mapLength * layoutBytes(mapLayout);
        map.resize((size_t)mapBytes);
        if (!in.read(map.data(), map.size())) return TGA_BAD_COLORMAP;
    }
    if (hd.imageType != 1 && hd.imageType != 2 && hd.imageType != 3 && hd.imageType != 9 &&
        hd.imageType != 10 && hd.imageType != 11)
        return TGA_UNKNOWN_TYPE;

    // True-colour types read and check a colour map but never apply it.
    decoder.mapped = hd.colorMapType != 0 && (hd.imageType == 1 || hd.imageType == 9);
    decoder.valueBytes = bytesForBits(hd.depth);
    if (decoder.mapped) {
        decoder.mapFirst = hd.mapFirst;
        decoder.palette.resize((size_t)hd.mapLength * 4);
        convertValues(mapLayout, hd.alphaBits() != 0, map.data(), hd.mapLength, decoder.palette.data());
    } else {
        if (!layoutForDepth(hd.depth, hd.isGrey(), &decoder.layout)) return TGA_BAD_HEADER;
        decoder.useAlpha = hd.alphaBits() != 0;
    }

    // Refuse a file too short for the picture it announces before allocating.
    const uint64_t pixelCount = (uint64_t)hd.width * hd.height;
    const uint64_t leastPixelBytes = hd.isRunLength()
                                         ? (pixelCount + 127) / 128 * (1 + decoder.valueBytes)
                                         : pixelCount * decoder.valueBytes;
    if ((uint64_t)kTgaHeaderSize + hd.idLength + mapBytes + leastPixelBytes > fileSize)
        return TGA_UNEXPECTED_EOF;

    std::unique_ptr<unsigned char, FreeDeleter> out((unsigned char *)allocatePixelMemory(pixelCount * format));
    if (!out) return TGA_OUT_OF_MEMORY;
    int code = TGA_NO_ERROR;
    if (hd.isRunLength()) {
        // Packets run across row ends: where a row starts is known only once
        // the rows before it are decoded.
        RowPlacer placer(out.get(), hd.width, hd.height, format, hd.origin(), order, 0, hd.height);
        code = decodeRunLength(in, decoder, placer);
    } else {
        // Each row's values lie at a known place in the file: blocks of rows
        // are read and converted on all processors. Of the blocks that fail,
        // the first in the file gives the error, as if read in one go.
        const uint64_t dataStart = kTgaHeaderSize + hd.idLength + mapBytes;
        const uint64_t rowValueBytes = (uint64_t)hd.width * decoder.valueBytes;
        std::mutex failing;
        int failedRow = hd.height;
        forEachRowBlock(hd.height, rowsPerTask(hd.width), [&](int first, int last) {
            BlockReader part = in.part(dataStart + first * rowValueBytes, (last - first) * rowValueBytes);
            RowPlacer placer(out.get(), hd.width, hd.height, format, hd.origin(), order, first, last);
            const int partCode = readError(part, part.partHasFailed(), decodeRaw(part, decoder, placer));
            if (partCode == TGA_NO_ERROR) return;
            std::lock_guard<std::mutex> lock(failing);
            if (first < failedRow) {
                failedRow = first;
                code = partCode;
            }
        });
    }
    if (code != TGA_NO_ERROR) return code;
    *result = out.release();
    *width = hd.width;
    *height = hd.height;
    return TGA_NO_ERROR;
}

// The most bytes the reader can take from a file with this header: colour-map
// entries have 4 bytes at most, and a run-length packet holds at least one
// value.
uint64_t mostBytesTaken(const Header &hd) {
    const uint64_t pixelBytes = bytesForBits(hd.depth) + (hd.isRunLength() ? 1 : 0);
    return kTgaHeaderSize + hd.idLength + (uint64_t)hd.mapLength * 4 + (uint64_t)hd.width * hd.height * pixelBytes;
}

// Reads a stream of unknown length into memory, up to the most bytes its
// header lets the reader take. The buffer grows with the bytes that arrive,
// so a stream that announces a huge picture and then ends costs little.
// False when memory runs out.
bool readStream(FILE *f, std::unique_ptr<unsigned char, FreeDeleter> &bytes, size_t &size) {
    size_t capacity = 1 << 16;
    bytes.reset((unsigned char *)malloc(capacity));
    if (!bytes) return false;
    size = fread(bytes.get(), 1, kTgaHeaderSize, f);
    const uint64_t limit = size < (size_t)kTgaHeaderSize ? size : mostBytesTaken(parseHeader(bytes.get()));
    while (size < limit && !feof(f) && !ferror(f)) {
        if (size == capacity) {
            capacity = (size_t)std::min<uint64_t>((uint64_t)capacity * 2, limit);
            unsigned char *grown = (unsigned char *)realloc(bytes.get(), capacity);
            if (!grown) return false;
            bytes.release(); // now owned as `grown`
            bytes.reset(grown);
        }
        size += fread(bytes.get() + size, 1, (size_t)std::min<uint64_t>(capacity, limit) - size, f);
    }
    return true;
}

// Everything after opening the file; returns the error code. A regular file
// is decoded as it is read; a pipe or device, whose length is unknown, is
// read whole first so that the same size checks apply before allocating.
int loadFromFile(FILE *f, int format, TgaRowOrder order, unsigned char **result, int *width, int *height) {
    struct stat st;
    const bool statOk = fstat(fileno(f), &st) == 0;
    if (statOk && S_ISDIR(st.st_mode)) return TGA_CANNOT_OPEN;
    auto decode = [&](BlockReader &in, uint64_t fileSize) {
        return readError(in, ferror(f) != 0, decodeFile(in, fileSize, format, order, result, width, height));
    };
    if (statOk && S_ISREG(st.st_mode)) {
        BlockReader in(f);
        return decode(in, st.st_size);
    }
    std::unique_ptr<unsigned char, FreeDeleter> bytes;
    size_t size = 0;
    if (!readStream(f, bytes, size)) return TGA_OUT_OF_MEMORY;
    BlockReader in(bytes.get(), size);
    return decode(in, size);
}

} // namespace

unsigned char *tgaLoad(const char *fileName, int *width, int *height, int format) {
    return tgaLoadRows(fileName, width, height, format, TGA_BOTTOM_UP);
}

unsigned char *tgaLoadRows(const char *fileName, int *width, int *height, int format, TgaRowOrder order) {
    if (format != TGA_RGB && format != TGA_RGBA) {
        tgaSetError(TGA_BAD_FORMAT);
        return nullptr;
    }
    FILE *f = fileName ? fopen(fileName, "rb") : nullptr;
    if (!f) {
        // A file that exists but may not be opened, for want of permission
        // say, is not reported as missing; a folder keeps its code.
        struct stat st;
        const bool exists = fileName && stat(fileName, &st) == 0 && !S_ISDIR(st.st_mode);
        tgaSetError(exists ? TGA_CANNOT_READ : TGA_CANNOT_OPEN);
        return nullptr;
    }
    unsigned char *result = nullptr;
    int code = loadFromFile(f, format, order, &result, width, height);
    fclose(f);
    if (code != TGA_NO_ERROR) tgaSetError(code);
    return result;
}
