// TGA writer: uncompressed true colour, 24 or 32 bits, origin bottom-left.
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tga.h"
#include "tga_private.h"

namespace {

const char kImageId[] = "written with libimgio";
constexpr int kImageIdLength = sizeof kImageId - 1;

// Colour byte divided by alpha, in single precision as the format's
// straight colours require; indexed [alpha][colour]. Built on first use.
struct UnpremultiplyTable {
    unsigned char value[256][256];
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
    }
};

const UnpremultiplyTable &unpremultiplyTable() {
    static const UnpremultiplyTable table;
    return table;
}

// Writes to a temporary file beside a regular (or not yet existing) target
// and renames it over the target only once everything has been written, so a
// failed write never destroys the old file. Other targets (devices, pipes)
// are written in place: replacing them would destroy the node.
class SafeOutput {
  public:
    // Returns false when nothing could be opened.
    bool open(const char *fileName) {
        target = resolveLinks(fileName);
        struct stat st;
        bool exists = stat(target.c_str(), &st) == 0;
        if (exists && !S_ISREG(st.st_mode)) {
            file = fopen(target.c_str(), "wb");
            return file != nullptr;
        }
        std::string::size_type slash = target.rfind('/');
        std::string dir = slash == std::string::npos ? "" : target.substr(0, slash + 1);
        std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
        temporary = dir + "." + base + ".XXXXXX";
        std::vector<char> name(temporary.begin(), temporary.end());
        name.push_back('\0');
        int fd = mkstemp(name.data());
        if (fd < 0) return false;
        temporary = name.data();
        mode_t mode = exists ? (st.st_mode & 07777) : (0666 & ~currentUmask());
        if (fchmod(fd, mode) != 0 || !(file = fdopen(fd, "wb"))) {
            close(fd);
            unlink(temporary.c_str());
            return false;
        }
        return true;
    }

    bool write(const void *data, size_t n) { return n == 0 || fwrite(data, 1, n, file) == n; }

    // Closes the file and, on success, puts it in place. False on any error.
    bool commit(bool ok) {
        ok = fflush(file) == 0 && !ferror(file) && ok;
        ok = fclose(file) == 0 && ok;
        if (temporary.empty()) return ok;
        if (ok && rename(temporary.c_str(), target.c_str()) == 0) return true;
        unlink(temporary.c_str());
        return false;
    }

  private:
    static std::string resolveLinks(const char *fileName) {
        struct stat st;
        if (lstat(fileName, &st) == 0 && S_ISLNK(st.st_mode)) {
            char resolved[PATH_MAX];
            if (realpath(fileName, resolved)) return resolved;
        }
        return fileName; // a dangling link is written through by fopen
    }
    static mode_t currentUmask() {
        mode_t mask = umask(0);
        umask(mask);
        return mask;
    }

    std::string target, temporary;
    FILE *file = nullptr;
};

void putLe16(unsigned char *p, int v) {
    p[0] = (unsigned char)(v & 0xFF);
    p[1] = (unsigned char)((v >> 8) & 0xFF);
}

} // namespace

int tgaWrite(const char *fileName, int width, int height, const unsigned char *pixels, int format) {
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

    SafeOutput out;
    if (!fileName || !out.open(fileName)) {
        tgaSetError(TGA_CANNOT_OPEN);
        return 0;
    }
    unsigned char header[kTgaHeaderSize + kImageIdLength] = {};
    header[0] = kImageIdLength;
    header[2] = 2;
    putLe16(header + 12, width);
    putLe16(header + 14, height);
    header[16] = (unsigned char)(8 * format);
    header[17] = format == TGA_RGBA ? 8 : 0;
    memcpy(header + kTgaHeaderSize, kImageId, kImageIdLength);
    bool ok = out.write(header, sizeof header);

    const size_t rowBytes = (size_t)width * format;
    std::vector<unsigned char> row(rowBytes);
    for (int y = 0; ok && y < height; ++y) {
        const unsigned char *src = pixels + y * rowBytes;
        unsigned char *dst = row.data();
        if (format == TGA_RGBA) {
            const UnpremultiplyTable &table = unpremultiplyTable();
            for (int x = 0; x < width; ++x, src += 4, dst += 4) {
                const unsigned char *divide = table.value[src[3]];
                dst[0] = divide[src[2]];
                dst[1] = divide[src[1]];
                dst[2] = divide[src[0]];
                dst[3] = src[3];
            }
        } else {
            for (int x = 0; x < width; ++x, src += 3, dst += 3) {
                dst[0] = src[2];
                dst[1] = src[1];
                dst[2] = src[0];
            }
        }
        ok = out.write(row.data(), rowBytes);
    }
    if (!out.commit(ok)) {
        tgaSetError(TGA_CANNOT_WRITE);
        return 0;
    }
    return 1;
}
