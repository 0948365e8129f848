// Image files: one table of the formats the program reads and writes, and
// the two calls that go through it. A file is read in the format its first
// bytes show (TGA when they show none) and written in the format its name's
// suffix asks for (TGA for any other name). Failures are returned as codes
// whose texts come from imageFileErrorText; nothing here prints.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#include "image.h"
#include "tga.h"

// Why a load or a save failed. The TGA library's codes (tga.h) keep their
// values and texts; the other formats add theirs from 100 on.
enum ImageFileError {
    IMAGE_FILE_OK = TGA_NO_ERROR,
    IMAGE_FILE_TOO_LARGE = 100,  // more pixels than the program takes (kMostFilePixels)
    IMAGE_FILE_TRUNCATED,        // the data ends before the picture does
    IMAGE_FILE_CORRUPT,          // the data breaks the format's rules
    IMAGE_FILE_BAD_CHECKSUM,     // a checksum does not match the data
    IMAGE_FILE_UNSUPPORTED,      // valid, but a kind of file no decoder here takes
    IMAGE_FILE_TOO_LARGE_FOR_FORMAT, // the picture is wider or taller than the format can hold
};

// The text of a code: the TGA library's for its own, else this module's.
const char *imageFileErrorText(int code);

// The most pixels a PNG or JPEG file may announce: a small file can claim a
// huge picture, so larger ones are refused before anything is decoded.
constexpr unsigned long long kMostFilePixels = 1ull << 30;

struct ImageFormat {
    const char *name;          // "TGA", "PNG", "JPEG", as messages show it
    const char *suffixes[3];   // lower case with the dot, the usual one first; null-ended
    // Whether the first bytes of a file are this format's (the TGA entry has
    // none: it takes whatever no other entry claims). `n` may be short.
    bool (*isFormatOf)(const unsigned char *head, size_t n);
    // Decodes the file into `result`, 8-bit RGBA premultiplied, top row first,
    // in sRGB. `file` is the regular file at `path`, open at its start, for
    // every entry that isFormatOf chose; the TGA entry, which takes any other
    // file, pipes and names that cannot be opened too, reads `path` itself.
    // `result` is empty on entry; on failure it is left empty, with nothing
    // allocated. Returns IMAGE_FILE_OK or a code.
    int (*load)(const char *path, FILE *file, Image *result);
    // Writes `image` through the careful writer (safe_output.h); on failure
    // the old file stays as it was. Returns IMAGE_FILE_OK or a code. Every
    // entry but TGA's is given pictures with pixels only.
    int (*save)(const char *path, const Image &image);
    // Whether the format stores alpha; where not, the colour is written as
    // the view shows it, over black.
    bool keepsAlpha;
};

// The formats, TGA first; `count` gets their number.
const ImageFormat *imageFormats(size_t *count);
// The format whose suffix `path` ends in, in any case; null for none.
const ImageFormat *formatWithSuffix(const char *path);
// The format `path` is written in: by its suffix, else TGA.
const ImageFormat &formatForName(const char *path);
// The format of a file's content, from its first bytes (TGA when unknown,
// unreadable or no regular file).
const ImageFormat &formatOfFile(const char *path);
// Whether a file is a picture by its content (a format other than TGA) or
// by its name (a suffix of the table).
bool isPictureFile(const char *path);

// Replaces `image` with the picture in the file; on failure the image stays
// exactly as it was. Returns IMAGE_FILE_OK or a code.
int loadImageFile(const char *path, Image *image);
// Writes `image` in the format its name asks for; the pixels are left as
// they were. Returns IMAGE_FILE_OK or a code.
int saveImageFile(const char *path, const Image &image);

// Writes `n` bytes as the file `path` through the careful writer: the codecs
// encode into memory, then hand the bytes here. Returns IMAGE_FILE_OK,
// TGA_CANNOT_OPEN or TGA_CANNOT_WRITE.
int writeFileCarefully(const char *path, const void *bytes, size_t n);

// A file chooser's pattern for every suffix of the table in any case, such
// as "*.{[tT][gG][aA],[pP][nN][gG],...}".
std::string imageFilePattern();
