// TGA reader: types 1, 2, 3 (raw) and 9, 10, 11 (run-length encoded).
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

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
class BlockReader {
  public:
    explicit BlockReader(FILE *f) : file(f), buffer(1 << 16) {}

    // False when the file ends before n bytes could be read.
    bool read(unsigned char *dst, size_t n) {
        while (n > 0) {
            if (!refill()) return false;
            size_t k = std::min(n, length - pos);
            if (dst) {
                memcpy(dst, buffer.data() + pos, k);
                dst += k;
            }
            pos += k;
            n -= k;
        }
        return true;
    }
    bool skip(size_t n) { return read(nullptr, n); }

  private:
    bool refill() {
        if (pos < length) return true;
        length = fread(buffer.data(), 1, buffer.size(), file);
        pos = 0;
        return length > 0;
    }

    FILE *file;
    std::vector<unsigned char> buffer;
    size_t pos = 0, length = 0;
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
    dst[0] = (unsigned char)(r * a / 255);
    dst[1] = (unsigned char)(g * a / 255);
    dst[2] = (unsigned char)(b * a / 255);
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
        for (size_t i = 0; i < count; ++i, src += 3, dst += 4) storePremultiplied(dst, src[2], src[1], src[0], 255);
        break;
    case Layout::Bgra32:
        for (size_t i = 0; i < count; ++i, src += 4, dst += 4)
            storePremultiplied(dst, src[2], src[1], src[0], useAlpha ? src[3] : 255);
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

// Collects decoded pixels in file order, one row at a time, and puts each
// finished row at its place in the output: bottom row first, left to right.
class RowPlacer {
  public:
    RowPlacer(unsigned char *out, int w, int h, int format, int origin)
        : out(out), width(w), height(h), format(format), fromTop(origin >= 2), fromRight(origin & 1),
          staging((size_t)w * 4) {}

    unsigned char *next() { return staging.data() + filled * 4; }
    size_t roomInRow() const { return width - filled; }
    bool done() const { return row == height; }
    uint64_t pixelsLeft() const { return (uint64_t)(height - row) * width - filled; }

    void advance(size_t n) {
        filled += n;
        if (filled < (size_t)width) return;
        int y = fromTop ? height - 1 - row : row;
        unsigned char *dst = out + (size_t)y * width * format;
        for (int x = 0; x < width; ++x, dst += format)
            memcpy(dst, &staging[(size_t)(fromRight ? width - 1 - x : x) * 4], format);
        filled = 0;
        ++row;
    }

  private:
    unsigned char *out;
    int width, height, format;
    bool fromTop, fromRight;
    std::vector<unsigned char> staging;
    size_t filled = 0;
    int row = 0;
};

int decodeRaw(BlockReader &in, const Decoder &decoder, RowPlacer &placer, int width) {
    std::vector<unsigned char> fileRow((size_t)width * decoder.valueBytes);
    while (!placer.done()) {
        if (!in.read(fileRow.data(), fileRow.size())) return TGA_UNEXPECTED_EOF;
        if (!decoder.convert(fileRow.data(), width, placer.next())) return TGA_BAD_COLORMAP;
        placer.advance(width);
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

// Everything after opening the file; returns the error code.
int loadFromFile(FILE *f, int format, unsigned char **result, int *width, int *height) {
    struct stat st;
    int64_t fileSize = -1; // unknown for pipes and devices
    if (fstat(fileno(f), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return TGA_CANNOT_OPEN;
        if (S_ISREG(st.st_mode)) fileSize = st.st_size;
    }
    BlockReader in(f);
    unsigned char raw[kTgaHeaderSize];
    if (!in.read(raw, sizeof raw)) return TGA_BAD_HEADER;
    const Header hd = parseHeader(raw);
    if (hd.width == 0 || hd.height == 0) return TGA_ZERO_SIZE;
    if (fileSize >= 0 && kTgaHeaderSize + hd.idLength > fileSize) return TGA_UNEXPECTED_EOF;
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
    if (fileSize >= 0 &&
        (uint64_t)kTgaHeaderSize + hd.idLength + mapBytes + leastPixelBytes > (uint64_t)fileSize)
        return TGA_UNEXPECTED_EOF;

    std::unique_ptr<unsigned char, FreeDeleter> out((unsigned char *)malloc(pixelCount * format));
    if (!out) return TGA_OUT_OF_MEMORY;
    RowPlacer placer(out.get(), hd.width, hd.height, format, hd.origin());
    int code = hd.isRunLength() ? decodeRunLength(in, decoder, placer)
                                : decodeRaw(in, decoder, placer, hd.width);
    if (code != TGA_NO_ERROR) return code;
    *result = out.release();
    *width = hd.width;
    *height = hd.height;
    return TGA_NO_ERROR;
}

} // namespace

unsigned char *tgaLoad(const char *fileName, int *width, int *height, int format) {
    if (format != TGA_RGB && format != TGA_RGBA) {
        tgaSetError(TGA_BAD_FORMAT);
        return nullptr;
    }
    FILE *f = fileName ? fopen(fileName, "rb") : nullptr;
    if (!f) {
        tgaSetError(TGA_CANNOT_OPEN);
        return nullptr;
    }
    unsigned char *result = nullptr;
    int code = loadFromFile(f, format, &result, width, height);
    fclose(f);
    if (code != TGA_NO_ERROR) tgaSetError(code);
    return result;
}
