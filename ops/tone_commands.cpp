// The commands darken, dissolve and difference.
#include <cstdio>

#include "core/command.h"
#include "core/console.h"
#include "core/registers.h"
#include "tone.h"

namespace {

// Runs `operation` on the register named by the first word with the factor
// that follows it (anything after the factor is ignored).
int factorCommand(const Command &self, char *args, void (*operation)(Image &, float)) {
    char *number = splitWord(args);
    float factor;
    if (!number || sscanf(number, "%g", &factor) != 1) return self.usageError();
    Image *image = lookupImage(args);
    if (image) operation(*image, factor);
    return 1;
}

int darken(const Command &self, char *args) { return factorCommand(self, args, darkenImage); }
int dissolve(const Command &self, char *args) { return factorCommand(self, args, dissolveImage); }

int difference(const Command &self, char *args) {
    char *secondName = splitWord(args);
    char *number = splitWord(secondName);
    long double threshold;
    if (!number || sscanf(number, "%Lg", &threshold) != 1) return self.usageError();
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

} // namespace

FunctionCommand darkenCommand("darken", "darken R FACTOR", "multiplies every channel of R by FACTOR", darken);
FunctionCommand dissolveCommand("dissolve", "dissolve R FACTOR",
    "multiplies the coverage (alpha) of R by FACTOR", dissolve);
FunctionCommand differenceCommand("difference", "difference R1 R2 THRESHOLD",
    "replaces R1 by a matte of where it differs from R2", difference);
