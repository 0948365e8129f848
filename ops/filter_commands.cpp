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
int blur(char *args) {
    const char *rest = splitWord(args);
    int type = 0;
    if (rest) sscanf(rest, "%d ", &type);
    Image *image = lookupImage(args);
    if (!image || (type != 1 && type != 2)) return 1;
    return reportFilter(convolveImage(*image, type == 1 ? Kernel::Blur5 : Kernel::Blur7), args);
}

// sharpen R and unsharpmask R may be followed by a number; it changes nothing.
int sharpen(char *args) {
    splitWord(args);
    Image *image = lookupImage(args);
    return image ? reportFilter(convolveImage(*image, Kernel::Sharpen), args) : 1;
}

int unsharpMask(char *args) {
    splitWord(args);
    Image *image = lookupImage(args);
    return image ? reportFilter(unsharpMaskImage(*image), args) : 1;
}

// edgedetect R: the rest of the line is ignored.
int edgeDetect(char *args) {
    splitWord(args);
    Image *image = lookupImage(args);
    return image ? reportFilter(convolveImage(*image, Kernel::Edge), args) : 1;
}

FunctionCommand blurCommand("blur", blur);
FunctionCommand sharpenCommand("sharpen", sharpen);
FunctionCommand edgeDetectCommand("edgedetect", edgeDetect);
FunctionCommand unsharpMaskCommand("unsharpmask", unsharpMask);

} // namespace
