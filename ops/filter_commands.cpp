// The filter commands: blur, sharpen, edgedetect, unsharpmask.
#include <cstdio>

#include "core/command.h"
#include "core/console.h"
#include "core/registers.h"
#include "filter.h"

namespace {

int reportFilter(bool done, const char *name) {
    if (!done) consolePrintRed("Not enough memory to filter %s\n", name);
    return 1;
}

// blur R TYPE: type 1 smooths with the 5x5 kernel, type 2 with the 7x7 one;
// any other type, or none, leaves the image as it is.
int blur(const Command &, char *args) {
    const char *rest = splitWord(args);
    int type = 0;
    if (rest) sscanf(rest, "%d ", &type);
    Image *image = lookupImage(args);
    if (!image || (type != 1 && type != 2)) return 1;
    return reportFilter(convolveImage(*image, type == 1 ? Kernel::Blur5 : Kernel::Blur7), args);
}

// sharpen R and unsharpmask R may be followed by a number; it changes nothing.
int sharpen(const Command &, char *args) {
    splitWord(args);
    Image *image = lookupImage(args);
    return image ? reportFilter(convolveImage(*image, Kernel::Sharpen), args) : 1;
}

int unsharpMask(const Command &, char *args) {
    splitWord(args);
    Image *image = lookupImage(args);
    return image ? reportFilter(unsharpMaskImage(*image), args) : 1;
}

// edgedetect R: the rest of the line is ignored.
int edgeDetect(const Command &, char *args) {
    splitWord(args);
    Image *image = lookupImage(args);
    return image ? reportFilter(convolveImage(*image, Kernel::Edge), args) : 1;
}

} // namespace

FunctionCommand blurCommand("blur", "blur R TYPE", "smooths R with a 5 x 5 (TYPE 1) or 7 x 7 (TYPE 2) kernel", blur);
FunctionCommand sharpenCommand("sharpen", "sharpen R", "sharpens R with a 3 x 3 kernel", sharpen);
FunctionCommand edgeDetectCommand("edgedetect", "edgedetect R", "replaces R by its edges", edgeDetect);
FunctionCommand unsharpMaskCommand("unsharpmask", "unsharpmask R",
    "sharpens R by subtracting part of a 3 x 3 blur", unsharpMask);
