// The commands darken, dissolve and difference.
#include <cstdio>

#include "core/command.h"
#include "core/console.h"
#include "core/registers.h"
#include "tone.h"

namespace {

// Runs `operation` on the register named by the first word with the factor
// that follows it (anything after the factor is ignored).
int scaleCommand(char *args, void (*operation)(Image &, float), const char *syntax) {
    char *number = splitWord(args);
    float factor;
    if (!number || sscanf(number, "%g", &factor) != 1) return usageError(syntax);
    Image *image = lookupImage(args);
    if (image) operation(*image, factor);
    return 1;
}

int darken(char *args) { return scaleCommand(args, darkenImage, "darken R FACTOR"); }
int dissolve(char *args) { return scaleCommand(args, dissolveImage, "dissolve R FACTOR"); }

int difference(char *args) {
    char *secondName = splitWord(args);
    char *number = splitWord(secondName);
    long double threshold;
    if (!number || sscanf(number, "%Lg", &threshold) != 1) return usageError("difference R1 R2 THRESHOLD");
    Image *first = lookupImage(args);
    Image *second = lookupImage(secondName);
    if (!first || !second) return 1;
    if (first->width != second->width || first->height != second->height) {
        consolePrintRed("Can't difference images of different sizes!\n");
        return 1;
    }
    differenceMatte(*first, *second, (double)threshold);
    return 1;
}

FunctionCommand darkenCommand("darken", darken);
FunctionCommand dissolveCommand("dissolve", dissolve);
FunctionCommand differenceCommand("difference", difference);

} // namespace
