#include "image_file.h"

#include <strings.h>
#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <cstring>

#include "safe_output.h"
#include "tga.h"

// The codecs, one file each.
bool isPngFile(const unsigned char *head, size_t n);
int loadPngFile(const char *path, FILE *file, Image *result);
int savePngFile(const char *path, const Image &image);
bool isJpegFile(const unsigned char *head, size_t n);
int loadJpegFile(const char *path, FILE *file, Image *result);
int saveJpegFile(const char *path, const Image &image);

namespace {

int loadTgaFile(const char *path, FILE *, Image *result) {
    int w = 0, h = 0;
    unsigned char *pixels = tgaLoadRows(path, &w, &h, TGA_RGBA, TGA_TOP_DOWN);
    if (!pixels) return tgaLastError();
    result->replace(w, h, pixels);
    return IMAGE_FILE_OK;
}

int saveTgaFile(const char *path, const Image &image) {
    return tgaWriteRows(path, image.width, image.height, image.pixels, TGA_RGBA, TGA_TOP_DOWN) ? IMAGE_FILE_OK
                                                                                             : tgaLastError();
}

const ImageFormat formats[] = {
    {"TGA", {".tga", nullptr}, nullptr, loadTgaFile, saveTgaFile, true},
    {"PNG", {".png", nullptr}, isPngFile, loadPngFile, savePngFile, true},
    {"JPEG", {".jpg", ".jpeg", nullptr}, isJpegFile, loadJpegFile, saveJpegFile, false},
};
constexpr size_t kFormatCount = sizeof formats / sizeof formats[0];

const char *const errorTexts[] = {
    "image too large: more than 2^30 pixels",
    "unexpected end-of-file",
    "corrupt image data",
    "bad checksum",
    "unsupported kind of image file",
    "image too large for the file format",
};

// The format whose first bytes the open file begins with; TGA when none
// claims them. Leaves the file at its start.
const ImageFormat &formatOfOpenFile(FILE *f) {
    unsigned char head[16];
    const size_t n = fread(head, 1, sizeof head, f);
    rewind(f);
    for (const ImageFormat &format : formats)
        if (format.isFormatOf && format.isFormatOf(head, n)) return format;
    return formats[0];
}

// The file at `path` opened for reading when it is a regular file, else
// null: the first bytes of a pipe would be taken from its reader.
FILE *openRegularFile(const char *path) {
    struct stat st;
    return path && stat(path, &st) == 0 && S_ISREG(st.st_mode) ? fopen(path, "rb") : nullptr;
}

bool endsWith(const char *name, const char *suffix) {
    const size_t n = strlen(name), k = strlen(suffix);
    return n >= k && strcasecmp(name + n - k, suffix) == 0;
}

} // namespace

const char *imageFileErrorText(int code) {
    const int first = IMAGE_FILE_TOO_LARGE, count = sizeof errorTexts / sizeof errorTexts[0];
    if (code >= first && code < first + count) return errorTexts[code - first];
    return tgaErrorText(code);
}

const ImageFormat *imageFormats(size_t *count) {
    *count = kFormatCount;
    return formats;
}

const ImageFormat *formatWithSuffix(const char *path) {
    for (const ImageFormat &format : formats)
        for (const char *const *suffix = format.suffixes; *suffix; ++suffix)
            if (path && endsWith(path, *suffix)) return &format;
    return nullptr;
}

const ImageFormat &formatForName(const char *path) {
    const ImageFormat *format = formatWithSuffix(path);
    return format ? *format : formats[0];
}

const ImageFormat &formatOfFile(const char *path) {
    FILE *f = openRegularFile(path);
    if (!f) return formats[0];
    const ImageFormat &format = formatOfOpenFile(f);
    fclose(f);
    return format;
}

bool isPictureFile(const char *path) { return formatWithSuffix(path) || &formatOfFile(path) != &formats[0]; }

int loadImageFile(const char *path, Image *image) {
    FILE *f = openRegularFile(path);
    Image loaded;
    const int code = (f ? formatOfOpenFile(f) : formats[0]).load(path, f, &loaded);
    if (f) fclose(f);
    if (code != IMAGE_FILE_OK) return code;
    image->replace(loaded.width, loaded.height, loaded.pixels);
    return IMAGE_FILE_OK;
}

int saveImageFile(const char *path, const Image &image) {
    const ImageFormat &format = formatForName(path);
    // The TGA writer has its own rules for a register without pixels.
    if (image.empty() && &format != &formats[0]) return TGA_NO_DATA;
    return format.save(path, image);
}

int writeFileCarefully(const char *path, const void *bytes, size_t n) {
    SafeOutput out;
    const int opened = out.open(path, n);
    if (opened != TGA_NO_ERROR) return opened;
    return out.commit(out.write(bytes, n));
}

std::string imageFilePattern() {
    std::string pattern = "*.{";
    for (const ImageFormat &format : formats)
        for (const char *const *suffix = format.suffixes; *suffix; ++suffix) {
            if (pattern.size() > 3) pattern += ',';
            for (const char *c = *suffix + 1; *c; ++c) {
                pattern += '[';
                pattern += (char)toupper((unsigned char)*c);
                pattern += *c;
                pattern += ']';
            }
        }
    return pattern + "}";
}
