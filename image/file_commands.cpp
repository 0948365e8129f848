// The commands that move images between registers and TGA files.
#include <cstdio>

#include "core/command.h"
#include "core/console.h"
#include "core/registers.h"

namespace {

// Fixed places searched, in order, after the name itself.
const char kFirstPlace[] = "c:\\tga\\%s";
const char kSecondPlace[] = "p:\\course\\ip301-studio\\public\\Images\\%s";

int read(const Command &, char *args) {
    char *fileName = splitWord(args); // the whole rest, blanks included
    Image *image = lookupRegister(args);
    if (!image) return 1;
    if (image->load(fileName)) return 1;

    char path[256];
    snprintf(path, sizeof path, kFirstPlace, fileName);
    consolePrint("Trying %s\n", path);
    if (image->load(path)) {
        consolePrint(" READ %s\n", path);
        return 1;
    }
    snprintf(path, sizeof path, kSecondPlace, fileName);
    if (image->load(path)) {
        consolePrint(" READ %s\n", path);
        return 1;
    }
    consolePrintRed("Can't find image file %s\n", fileName);
    return 1;
}

int write(const Command &, char *args) {
    char *fileName = splitWord(args);
    Image *image = lookupRegister(args);
    if (!image) return 1;
    if (image->save(fileName))
        consolePrintRed("wrote %s\n", fileName);
    else
        consolePrintRed("FAILED to write %s\n", fileName);
    return 1;
}

} // namespace

FunctionCommand readCommand("read", "read R FILE", "loads a TGA file into register R", read);
FunctionCommand writeCommand("write", "write R FILE", "writes register R as a 32-bit TGA file", write);
