// The commands copy, crop and solid.
#include <cstdio>

#include "core/command.h"
#include "core/console.h"
#include "core/registers.h"
#include "crop.h"

namespace {

int copy(const Command &, char *args) {
    char *destinationName = splitWord(args); // the whole rest, blanks included
    Image *source = lookupImage(args);
    Image *destination = lookupRegister(destinationName);
    if (!source || !destination) return 1;
    if (!copyImage(*source, *destination)) return memoryError();
    return 1;
}

int crop(const Command &self, char *args) {
    char *numbers = splitWord(args);
    int x, y, width, height;
    if (!numbers || sscanf(numbers, "%d %d %d %d", &x, &y, &width, &height) != 4)
        return self.usageError();
    Image *image = lookupImage(args);
    if (!image) return 1;
    switch (cropImage(*image, x, y, width, height)) {
    case CropResult::Done:
        break;
    case CropResult::StartOutside:
        consolePrintRed("Couldn't crop image!  Starting location outside image!\n");
        consolePrintRed("Error occurred when cropping image\n");
        break;
    case CropResult::NoMemory:
        memoryError();
        break;
    }
    return 1;
}

bool isChannel(int value) { return value >= 0 && value <= 255; }

int solid(const Command &self, char *args) {
    char *numbers = splitWord(args);
    int width, height, red, green, blue, alpha;
    if (!numbers ||
        sscanf(numbers, "%d %d %d %d %d %d", &width, &height, &red, &green, &blue, &alpha) != 6 ||
        width < 0 || height < 0 || !isChannel(red) || !isChannel(green) || !isChannel(blue) || !isChannel(alpha))
        return self.usageError();
    Image *image = lookupRegister(args);
    if (!image) return 1;
    if (!fillSolid(*image, width, height, red, green, blue, alpha)) return memoryError();
    return 1;
}

} // namespace

FunctionCommand copyCommand("copy", "copy R1 R2", "copies register R1 into R2", copy);
FunctionCommand cropCommand("crop", "crop R X Y WIDTH HEIGHT", "keeps a rectangle of R", crop);
FunctionCommand solidCommand("solid", "solid R WIDTH HEIGHT RED GREEN BLUE ALPHA (sizes 0 or more, colour and alpha 0 to 255)",
    "fills R with one colour", solid);
