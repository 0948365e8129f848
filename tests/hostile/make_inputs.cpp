// Writes the inputs of the hostile-input suite into a folder:
//   hostile_inputs DIR
// DIR/tga/KIND-N.tga   damaged TGA files, by kind (truncated, huge, colormap,
//                      header, mutated), from small valid files of every type;
// DIR/png/KIND-N.png, DIR/jpeg/KIND-N.jpg
//                      damaged PNG and JPEG files, by kind (truncated, huge,
//                      mutated), from small files the program's writers make;
// DIR/garbage-N.txt    scripts of random bytes;
// DIR/long-lines.txt   a script of lines thousands of characters long;
// DIR/soak-N.txt       a long mixed script of N rounds over all registers
//                      (soak test), for N = 5 and 10.
// Everything comes from a fixed seed, so every run tries the same inputs.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <zlib.h>

#include "image/image_file.h"

namespace {

using Bytes = std::vector<uint8_t>;

uint32_t state = 12345;
uint32_t nextRandom() {
    state = state * 1103515245u + 12345u;
    return state >> 8;
}

struct Header {
    int idLength = 0, mapType = 0, type = 2, mapFirst = 0, mapLength = 0, mapBits = 0;
    int width = 3, height = 2, depth = 24, descriptor = 0;

    Bytes with(const Bytes &body) const {
        const uint8_t header[18] = {(uint8_t)idLength, (uint8_t)mapType, (uint8_t)type, (uint8_t)mapFirst,
                                    (uint8_t)(mapFirst >> 8), (uint8_t)mapLength, (uint8_t)(mapLength >> 8),
                                    (uint8_t)mapBits, 0, 0, 0, 0, (uint8_t)width, (uint8_t)(width >> 8),
                                    (uint8_t)height, (uint8_t)(height >> 8), (uint8_t)depth, (uint8_t)descriptor};
        Bytes b(sizeof header + body.size());
        std::copy(header, header + sizeof header, b.begin());
        std::copy(body.begin(), body.end(), b.begin() + sizeof header);
        return b;
    }
};

Bytes sequence(int n, int start = 1) {
    Bytes b;
    for (int i = 0; i < n; ++i) b.push_back((uint8_t)(start + 7 * i));
    return b;
}

Bytes concat(Bytes a, const Bytes &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

void writeFile(const std::filesystem::path &path, const Bytes &bytes) {
    FILE *f = fopen(path.c_str(), "wb");
    if (!f || (!bytes.empty() && fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) || fclose(f) != 0) {
        fprintf(stderr, "cannot write %s\n", path.c_str());
        exit(1);
    }
}

// One small valid file of each type and layout.
std::vector<Bytes> validFiles() {
    std::vector<Bytes> files;
    Header h;
    files.push_back(h.with(sequence(18))); // type 2, 24 bits
    h.depth = 32, h.descriptor = 0x28;     // 32 bits with alpha, top-left
    files.push_back(h.with(sequence(24)));
    h.depth = 16, h.descriptor = 0x10; // 16 bits, bottom-right
    files.push_back(h.with(sequence(12)));
    Header grey;
    grey.type = 3, grey.depth = 8;
    files.push_back(grey.with(sequence(6)));
    Header mapped;
    mapped.mapType = 1, mapped.type = 1, mapped.mapLength = 4, mapped.mapBits = 24, mapped.depth = 8;
    files.push_back(mapped.with(concat(sequence(12), {0, 1, 2, 3, 2, 1})));
    mapped.type = 9;
    files.push_back(mapped.with(concat(sequence(12), {0x82, 3, 0x02, 0, 1, 2})));
    Header rle;
    rle.type = 10;
    files.push_back(rle.with({0x84, 1, 2, 3, 0x00, 4, 5, 6}));
    rle.type = 11, rle.depth = 8, rle.descriptor = 0x30;
    files.push_back(rle.with({0x01, 9, 8, 0x83, 7}));
    return files;
}

void writeTgaFiles(const std::filesystem::path &dir) {
    int n = 0;
    auto put = [&](const char *kind, const Bytes &bytes) {
        writeFile(dir / (std::string(kind) + "-" + std::to_string(n++) + ".tga"), bytes);
    };
    const std::vector<Bytes> valid = validFiles();
    for (const Bytes &file : valid)
        for (size_t length = 0; length < file.size(); ++length) put("truncated", Bytes(file.begin(), file.begin() + length));

    for (int type : {1, 2, 3, 9, 10, 11})
        for (int size : {0xFFFF, 0x8000})
            for (int body : {0, 4, 300}) {
                Header h;
                h.type = type, h.width = size, h.height = size, h.depth = type == 3 || type == 11 ? 8 : 32;
                if (type == 1 || type == 9) h.mapType = 1, h.mapLength = 2, h.mapBits = 24, h.depth = 8;
                put("huge", h.with(Bytes(body + (h.mapType ? 6 : 0), 0x80)));
                h.height = 1;
                put("huge", h.with(Bytes(body, 0x7F)));
            }
    for (int mapLength : {0xFFFF, 0x8000}) {
        Header h;
        h.mapType = 1, h.type = 1, h.mapLength = mapLength, h.mapBits = 32, h.depth = 8;
        put("huge", h.with(sequence(40)));
    }

    for (int type : {1, 9})
        for (int index : {4, 5, 255}) {
            Header h;
            h.mapType = 1, h.type = type, h.mapLength = 4, h.mapBits = 24, h.depth = 8;
            put("colormap", h.with(concat(sequence(12), type == 1 ? Bytes{0, 1, (uint8_t)index, 3, 2, 1}
                                                                  : Bytes{0x85, (uint8_t)index})));
        }
    for (int first : {1, 3, 0xFFFF}) {
        Header h;
        h.mapType = 1, h.type = 1, h.mapFirst = first, h.mapLength = 2, h.mapBits = 24, h.depth = 8;
        put("colormap", h.with(concat(sequence(6), {0, 1, 2, 3, 0, 1})));
    }
    for (int bits : {0, 1, 8, 17, 33, 64, 255}) {
        Header h;
        h.mapType = 1, h.type = 1, h.mapLength = 2, h.mapBits = bits, h.depth = 8;
        put("colormap", h.with(sequence(64)));
    }
    for (int type : {3, 11}) {
        Header h;
        h.mapType = 1, h.type = type, h.mapLength = 2, h.mapBits = 24, h.depth = 8;
        put("colormap", h.with(sequence(64)));
    }
    for (int depth : {16, 24, 32}) { // wide indices
        Header h;
        h.mapType = 1, h.type = 1, h.mapLength = 2, h.mapBits = 24, h.depth = depth;
        put("colormap", h.with(Bytes(6 + 6 * depth / 8, 0xFF)));
    }

    for (int type : {0, 4, 5, 8, 12, 32, 128, 255}) {
        Header h;
        h.type = type;
        put("header", h.with(sequence(18)));
    }
    for (int depth : {0, 1, 7, 9, 23, 31, 33, 48, 64, 255}) {
        Header h;
        h.depth = depth;
        put("header", h.with(sequence(64)));
    }
    for (int w : {0, 1}) {
        Header h;
        h.width = w, h.height = 1 - w;
        put("header", h.with(sequence(18)));
    }
    for (int idLength : {1, 100, 255}) {
        Header h;
        h.idLength = idLength;
        put("header", h.with(sequence(20)));
    }
    for (int descriptor : {0x0F, 0xC0, 0xFF}) {
        Header h;
        h.depth = 32, h.descriptor = descriptor;
        put("header", h.with(sequence(24)));
    }
    Header pipeSized;
    put("header", pipeSized.with({}));
    put("header", Bytes(17, 0xFF));

    for (int i = 0; i < 300; ++i) {
        Bytes file = valid[i % valid.size()];
        const int changes = 1 + nextRandom() % 4;
        for (int c = 0; c < changes; ++c) file[nextRandom() % file.size()] = (uint8_t)nextRandom();
        put("mutated", file);
    }
}

// A small picture with every kind of alpha, written by the program's own
// writer for the format of `suffix`.
Bytes writtenFile(const std::filesystem::path &dir, const char *suffix, int width, int height) {
    Image image;
    image.replace(width, height, allocPixels(width, height));
    for (int i = 0; i < width * height * 4; i += 4) {
        const uint8_t alpha = (uint8_t)(i * 37);
        for (int c = 0; c < 3; ++c) image.pixels[i + c] = (uint8_t)(nextRandom() % (alpha + 1));
        image.pixels[i + 3] = alpha;
    }
    const std::filesystem::path path = dir / (std::string("valid") + suffix);
    const int code = saveImageFile(path.c_str(), image);
    image.release();
    if (code != IMAGE_FILE_OK) {
        fprintf(stderr, "cannot write %s: %s\n", path.c_str(), imageFileErrorText(code));
        exit(1);
    }
    FILE *f = fopen(path.c_str(), "rb");
    Bytes bytes;
    for (int c; (c = fgetc(f)) != EOF;) bytes.push_back((uint8_t)c);
    fclose(f);
    std::filesystem::remove(path);
    return bytes;
}

void putBigEndian(Bytes &b, size_t at, uint32_t v, int bytes) {
    for (int k = 0; k < bytes; ++k) b[at + k] = (uint8_t)(v >> (8 * (bytes - 1 - k)));
}

// The PNG file with every chunk's checksum made right again, so that a
// damaged chunk reaches the decoder.
Bytes withPngChecksums(Bytes png) {
    for (size_t at = 8; at + 12 <= png.size();) {
        const uint32_t length = (uint32_t)png[at] << 24 | png[at + 1] << 16 | png[at + 2] << 8 | png[at + 3];
        if (length > png.size() - at - 12) break;
        putBigEndian(png, at + 8 + length, (uint32_t)crc32(0, png.data() + at + 4, length + 4), 4);
        at += 12 + length;
    }
    return png;
}

// Damaged PNG and JPEG files: cut at every length of small files, headers
// announcing huge pictures, and random bytes changed (in PNG files with the
// checksums made right again half the time).
void writeCodecFiles(const std::filesystem::path &dir, const char *suffix) {
    int n = 0;
    auto put = [&](const char *kind, const Bytes &bytes) {
        writeFile(dir / (std::string(kind) + "-" + std::to_string(n++) + suffix), bytes);
    };
    const bool png = std::string(suffix) == ".png";
    const std::vector<Bytes> valid = {writtenFile(dir, suffix, 3, 2), writtenFile(dir, suffix, 17, 9)};
    for (size_t length = 0; length < valid[0].size(); ++length)
        put("truncated", Bytes(valid[0].begin(), valid[0].begin() + length));
    for (size_t length = valid[1].size() / 2; length < valid[1].size(); length += 7)
        put("truncated", Bytes(valid[1].begin(), valid[1].begin() + length));

    for (uint32_t width : {65535u, 65536u, 1u << 20, 0x7FFFFFFFu, 0xFFFFFFFFu})
        for (uint32_t height : {1u, 65535u, 1u << 15}) {
            Bytes file = valid[1];
            if (png) {
                putBigEndian(file, 16, width, 4); // IHDR's width and height
                putBigEndian(file, 20, height, 4);
                file = withPngChecksums(file);
            } else {
                for (size_t at = 2; at + 9 < file.size(); ++at)
                    if (file[at] == 0xFF && file[at + 1] == 0xC0) { // the frame header's height and width
                        putBigEndian(file, at + 5, height & 0xFFFF, 2);
                        putBigEndian(file, at + 7, width & 0xFFFF, 2);
                        break;
                    }
            }
            put("huge", file);
        }

    for (int i = 0; i < 300; ++i) {
        Bytes file = valid[i % valid.size()];
        const int changes = 1 + nextRandom() % 4;
        for (int c = 0; c < changes; ++c) file[nextRandom() % file.size()] = (uint8_t)nextRandom();
        put("mutated", png && i % 2 ? withPngChecksums(file) : file);
    }
}

void writeScripts(const std::filesystem::path &dir) {
    for (int i = 0; i < 8; ++i) {
        Bytes garbage(512 << (i % 4));
        for (uint8_t &b : garbage) b = (uint8_t)nextRandom();
        writeFile(dir / ("garbage-" + std::to_string(i) + ".txt"), garbage);
    }
    std::string lines;
    for (int length : {95, 254, 255, 256, 1000, 5000, 20000}) {
        lines += "Sample " + std::string(length, 'x') + "\n";
        lines += "crop A 0 0 " + std::string(length, '9') + " 1\n";
        lines += std::string(length, ' ') + "half A\n";
        lines += "write A out/" + std::string(length, 'n') + ".tga\n";
    }
    writeFile(dir / "long-lines.txt", Bytes(lines.begin(), lines.end()));
}

// Rounds of mixed commands that move pictures through every register; each
// round ends with the registers holding pictures of the same sizes, so the
// memory in use must not grow from one round to the next.
void writeSoakScript(const std::filesystem::path &dir, int rounds) {
    std::string s = "read A data/landscape.tga\nscale A 0.25 0.25\ncrop A 0 0 64 48\n";
    const char *const steps[] = {
        "copy A %c",        "blur %c 1",          "sharpen %c",         "edgedetect %c",     "unsharpmask %c",
        "darken %c 0.7",    "dissolve %c 0.5",    "rotate %c 30",       "scale %c 1.5 0.75", "half %c",
        "double %c",        "BW %c 2",            "grays %c",           "primary %c",        "pastel %c",
        "composite A over %c 3 4", "difference A %c 8", "bluescreen %c 0 1.5 2", "crop %c 1 1 40 30",
        "solid %c 20 10 1 2 3 200", "write %c out/soak.tga", "read %c out/soak.tga", "copy A %c",
    };
    for (int r = 0; r < rounds; ++r)
        for (char reg = 'B'; reg <= 'Z'; ++reg)
            for (const char *step : steps) {
                char line[100];
                snprintf(line, sizeof line, step, reg);
                s += line;
                s += '\n';
            }
    s += "painter C\nimage-to-map B\n";
    writeFile(dir / ("soak-" + std::to_string(rounds) + ".txt"), Bytes(s.begin(), s.end()));
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: hostile_inputs DIR\n");
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    std::filesystem::create_directories(dir / "tga");
    writeTgaFiles(dir / "tga");
    std::filesystem::create_directories(dir / "png");
    writeCodecFiles(dir / "png", ".png");
    std::filesystem::create_directories(dir / "jpeg");
    writeCodecFiles(dir / "jpeg", ".jpg");
    writeScripts(dir);
    writeSoakScript(dir, 5);
    writeSoakScript(dir, 10);
    return 0;
}
