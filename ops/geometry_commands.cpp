// The commands that resize and turn images: scale, half, double, rotate.
#include <cmath>
#include <cstdio>

#include "core/command.h"
#include "core/console.h"
#include "core/registers.h"
#include "resample.h"
#include "rotate.h"

namespace {

int scaleRegister(const char *name, double sx, double sy) {
    Image *image = lookupImage(name);
    if (!image) return 1;
    const Resized result = scaleImage(*image, sx, sy);
    if (result == Resized::NoMemory) return memoryError();
    if (result == Resized::TooLarge)
        consolePrintRed("Can't scale %s by %g %g: the result would be too large\n", name, sx, sy);
    return 1;
}

// scale R SX SY: both factors are required and must be finite.
int scale(const Command &self, char *args) {
    const char *rest = splitWord(args);
    long double sx, sy;
    if (!rest || sscanf(rest, "%Lg %Lg ", &sx, &sy) != 2) return self.usageError();
    if (!std::isfinite((double)sx) || !std::isfinite((double)sy)) {
        consolePrintRed("scale: factors must be finite numbers\n");
        return 1;
    }
    return scaleRegister(args, (double)sx, (double)sy);
}

// half R and double R may be followed by a number; it changes nothing.
int half(const Command &, char *args) {
    splitWord(args);
    return scaleRegister(args, 0.5, 0.5);
}

int twice(const Command &, char *args) {
    splitWord(args);
    return scaleRegister(args, 2.0, 2.0);
}

// rotate R DEGREES: further numbers (the window's slider sends two) are
// ignored. The angle is also echoed on standard output.
int rotate(const Command &self, char *args) {
    const char *rest = splitWord(args);
    long double angle;
    if (!rest || sscanf(rest, "%Lg ", &angle) != 1) return self.usageError();
    const double degrees = (double)angle;
    if (!std::isfinite(degrees)) {
        consolePrintRed("rotate: the angle must be a finite number\n");
        return 1;
    }
    Image *image = lookupImage(args);
    if (!image) return 1;
    printf("angle rotate is getting is %g\n", degrees);
    const Resized result = rotateImage(*image, degrees);
    if (result == Resized::NoMemory) return memoryError();
    if (result == Resized::TooLarge)
        consolePrintRed("Can't rotate %s by %g: the result would be too large\n", args, degrees);
    return 1;
}

} // namespace

FunctionCommand scaleCommand("scale", "scale R SX SY",
    "resizes R by SX across and SY down with bilinear sampling", scale);
FunctionCommand halfCommand("half", "half R", "halves both sides of R", half);
FunctionCommand doubleCommand("double", "double R", "doubles both sides of R", twice);
FunctionCommand rotateCommand("rotate", "rotate R DEGREES", "turns R counter-clockwise about its centre", rotate);
