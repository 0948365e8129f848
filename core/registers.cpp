#include "registers.h"

#include "console.h"

namespace {
Image registerBank[kRegisterCount];
}

Image *lookupRegister(const char *name) {
    if (!name || !*name) {
        consolePrintRed("No register name!\n");
        return nullptr;
    }
    if (name[1]) {
        consolePrintRed("Register name `%s' is bad - must have 1 character!\n", name);
        return nullptr;
    }
    if (name[0] >= 'A' && name[0] <= 'Z') return &registerBank[name[0] - 'A'];
    if (name[0] >= 'a' && name[0] <= 'z') return &registerBank[name[0] - 'a'];
    consolePrintRed("Bad register name `%s'\n", name);
    return nullptr;
}

Image *registerAt(int index) { return &registerBank[index]; }

int firstFreeRegister() {
    for (int i = 0; i < kRegisterCount - 1; ++i)
        if (registerBank[i].empty()) return i;
    return kRegisterCount - 1;
}

Image *lookupImage(const char *name) {
    Image *image = lookupRegister(name);
    if (image && image->empty()) {
        consolePrintRed("%s not a valid image\n", name);
        return nullptr;
    }
    return image;
}

int memoryError() {
    consolePrintRed("Not enough memory for the new image!\n");
    return 1;
}
