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

FunctionCommand blurCommand("blur", "blur R TYPE (1 for 5 x 5, 2 for 7 x 7)", blur);
FunctionCommand sharpenCommand("sharpen", "sharpen R", sharpen);
FunctionCommand edgeDetectCommand("edgedetect", "edgedetect R", edgeDetect);
FunctionCommand unsharpMaskCommand("unsharpmask", "unsharpmask R", unsharpMask);
