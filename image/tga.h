// A small self-contained TGA library: reads colour-mapped, true-colour and
// grey images (raw and run-length encoded) into 8-bit RGB or RGBA buffers
// premultiplied by alpha, and writes uncompressed 32- or 24-bit files.
// It depends on nothing but the C, C++ and POSIX libraries (its own pool of
// threads, parallel.h, converts rows on every core) and reports failures
// through a last-error code.
#pragma once

// Output pixel formats: the value is the number of bytes per pixel.
enum { TGA_RGB = 3, TGA_RGBA = 4 };

// Error codes; tgaErrorText() gives their texts.
enum TgaError {
    TGA_NO_ERROR = 0,
    TGA_BAD_HEADER = 1,
    TGA_CANNOT_OPEN = 2,
    TGA_BAD_FORMAT = 3,
    TGA_UNEXPECTED_EOF = 4,
    TGA_NO_DATA = 5,
    TGA_GREY_COLORMAP = 6,
    TGA_BAD_ENTRY_SIZE = 7,
    TGA_BAD_COLORMAP = 8,
    TGA_CANNOT_READ = 9,
    TGA_UNKNOWN_TYPE = 10,
    TGA_ZERO_SIZE = 11,
    TGA_CANNOT_WRITE = 12,
    TGA_OUT_OF_MEMORY = 13,
};

// Orders of the rows of a pixel buffer: the bottom row of the picture first,
// the library's own order, or the top row first.
enum TgaRowOrder { TGA_BOTTOM_UP = 0, TGA_TOP_DOWN = 1 };

// Reads a TGA file. On success returns a buffer of width x height x format
// bytes that the caller frees with free(), bottom row of the
// picture first, each row left to right, colour premultiplied by alpha, and
// stores the size. On failure returns null, leaves the outputs alone and sets
// the last-error code.
unsigned char *tgaLoad(const char *fileName, int *width, int *height, int format);
// tgaLoad with the rows of the result in the given order.
unsigned char *tgaLoadRows(const char *fileName, int *width, int *height, int format, TgaRowOrder order);

// Writes width x height pixels of `format` bytes, buffer order (the first
// row becomes the bottom row of the file), as an uncompressed true-colour
// file. RGBA colours are divided by alpha. The file is written as
// safe_output.h describes: a failed write leaves an existing file as it was
// wherever that can be had. Returns 1 on success, 0 on failure with the
// last-error code set.
int tgaWrite(const char *fileName, int width, int height, const unsigned char *pixels, int format);
// tgaWrite of a buffer whose rows are in the given order.
int tgaWriteRows(const char *fileName, int width, int height, const unsigned char *pixels, int format,
                 TgaRowOrder order);

// The code of the last failed call; successful calls leave it unchanged.
int tgaLastError();

const char *tgaErrorText(int code);
