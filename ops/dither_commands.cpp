// The commands BW, grays, primary and pastel.
#include <cstdlib>

#include "core/command.h"
#include "core/console.h"
#include "core/registers.h"
#include "dither.h"

namespace {

// The image a dithering command works on; a bad register name is also
// reported as a bad image to dither.
Image *ditherTarget(const char *name) {
    if (!lookupRegister(name)) {
        consolePrintRed("Bad Image to DITHER!\n");
        return nullptr;
    }
    return lookupImage(name);
}

// Error diffusion of the image to `palette`, showing the working of the
// first two pixels of the first two rows: one console line each, without a
// newline, so on standard output they run on into the timing line.
void diffuse(Image &image, const Palette &palette) {
    DiffusionTrace trace;
    if (!errorDiffuse(image, palette, trace)) {
        memoryError();
        return;
    }
    for (int i = 0; i < trace.count; ++i) {
        const DiffusionStep &s = trace.steps[i];
        consolePrint("    (%d %d %d) - (%3d %3d %3d) = (%d %d %d)", s.value[0], s.value[1], s.value[2],
                     s.chosen[0], s.chosen[1], s.chosen[2], s.error[0], s.error[1], s.error[2]);
    }
}

int bw(const Command &, char *args) {
    char *mode = splitWord(args);
    Image *image = ditherTarget(args);
    if (!image) return 1;
    // The leading number of the rest of the line; anything else means 0.
    switch (mode ? strtol(mode, nullptr, 10) : 0) {
    case 1:
        clipBW(*image);
        break;
    case 2:
        orderedDither2(*image);
        break;
    case 3:
        orderedDither3(*image);
        break;
    default:
        diffuse(*image, paletteBW);
        break;
    }
    return 1;
}

int grays(const Command &, char *args) {
    splitWord(args); // anything after the name is ignored
    Image *image = lookupImage(args);
    if (image) grayLevels(*image);
    return 1;
}

int paletteCommand(char *args, const Palette &palette) {
    splitWord(args);
    Image *image = ditherTarget(args);
    if (image) diffuse(*image, palette);
    return 1;
}

int primary(const Command &, char *args) { return paletteCommand(args, palettePrimary); }
int pastel(const Command &, char *args) { return paletteCommand(args, palettePastel); }

} // namespace

FunctionCommand bwCommand("BW", "BW R [MODE]",
    "turns R into black and white: threshold (1), ordered dither (2, 3) or error diffusion", bw);
FunctionCommand graysCommand("grays", "grays R", "turns R into grey levels", grays);
FunctionCommand primaryCommand("primary", "primary R", "error diffusion to the eight primary colours", primary);
FunctionCommand pastelCommand("pastel", "pastel R", "error diffusion to 38 pastel tints and their shades", pastel);
