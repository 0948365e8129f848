// The last-error code and the error texts shared by the TGA reader and writer.
#include "tga.h"
#include "tga_private.h"

namespace {
int lastError = TGA_NO_ERROR;

const char *const errorTexts[] = {
    "no error",
    "bad image header",
    "cannot open file",
    "bad format argument",
    "unexpected end-of-file",
    "image contains no data",
    "found colormap for a grayscale image",
    "unsupported colormap entry size",
    "bad colormap",
    "cannot read from file",
    "unknown image type",
    "image has size 0 width or height (or both)",
    "cannot write to file",
    "not enough memory for the image",
};
} // namespace

void tgaSetError(int code) { lastError = code; }

int tgaLastError() { return lastError; }

const char *tgaErrorText(int code) {
    const int count = sizeof errorTexts / sizeof errorTexts[0];
    return code >= 0 && code < count ? errorTexts[code] : "unknown error";
}
