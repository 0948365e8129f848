// The commands that move images between registers and picture files.
#include "file_commands.h"

#include <sys/stat.h>

#include <cstdio>

#include "core/command.h"
#include "core/console.h"
#include "core/registers.h"
#include "image_file.h"

namespace {

// Fixed places searched, in order, when the name itself is not found.
const char kFirstPlace[] = "c:\\tga\\%s";
const char kSecondPlace[] = "p:\\course\\ip301-studio\\public\\Images\\%s";

// Whether the name leads to a file, readable or not; a folder holds no picture.
bool exists(const char *path) {
    struct stat st;
    return stat(path, &st) == 0 && !S_ISDIR(st.st_mode);
}

// Reads the file at a fixed place, saying so first if asked; true when the
// file was there, read or not.
bool readAtPlace(const char *place, const char *fileName, Image *image, bool announce) {
    char path[kMostLineBytes + 64];
    snprintf(path, sizeof path, place, fileName);
    if (announce) consolePrint("Trying %s\n", path);
    const bool there = exists(path), read = readImageFile(path, image);
    if (read) consolePrint(" READ %s\n", path);
    return there || read;
}

int read(const Command &, char *args) {
    char *fileName = splitWord(args); // the whole rest, blanks included
    Image *image = lookupRegister(args);
    if (!image) return 1;
    // A file that is there but cannot be read has said why: the fixed places
    // are only for names that are not found.
    if (readImageFile(fileName, image) || exists(fileName)) return 1;
    if (readAtPlace(kFirstPlace, fileName, image, true) || readAtPlace(kSecondPlace, fileName, image, false))
        return 1;
    consolePrintRed("Can't find image file %s\n", fileName);
    return 1;
}

int write(const Command &, char *args) {
    char *fileName = splitWord(args);
    Image *image = lookupRegister(args);
    if (!image) return 1;
    const ImageFormat &format = formatForName(fileName);
    const int code = saveImageFile(fileName, *image);
    if (code == IMAGE_FILE_OK) {
        if (!format.keepsAlpha && hasTransparency(*image))
            consolePrint("%s keeps no alpha: wrote the colour over black\n", format.name);
        consolePrintRedResult("wrote %s\n", fileName);
        return 1;
    }
    consolePrintRed("Couldn't write %s image!\n", format.name);
    consolePrintRed("%s\n", imageFileErrorText(code));
    consolePrintRed("FAILED to write %s\n", fileName);
    return 1;
}

} // namespace

bool readImageFile(const char *path, Image *image) {
    const int code = loadImageFile(path, image);
    if (code == IMAGE_FILE_OK) return true;
    consolePrintRed("Error trying to set image to `%s'!\n", path);
    consolePrintRed("%s\n", imageFileErrorText(code));
    return false;
}

FunctionCommand readCommand("read", "read R FILE", "loads a TGA, PNG or JPEG file into register R", read);
FunctionCommand writeCommand("write", "write R FILE",
                             "writes register R as a PNG (.png), JPEG (.jpg, .jpeg) or 32-bit TGA file", write);
