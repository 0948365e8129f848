// The command bluescreen.
#include <cstdio>

#include "bluescreen.h"
#include "core/command.h"
#include "core/registers.h"

namespace {

int bluescreen(const Command &self, char *args) {
    char *numbers = splitWord(args);
    int bk;
    long double mu1Read, mu2Read;
    if (!numbers || sscanf(numbers, "%d %Lg %Lg", &bk, &mu1Read, &mu2Read) != 3)
        return self.usageError();
    Image *image = lookupImage(args);
    if (!image) return 1;
    const double mu1 = (double)mu1Read, mu2 = (double)mu2Read;
    // The parameters the matte is pulled with go to the program's own
    // output, never to the console window.
    printf("bk %d mu1 %Lg mu2 %Lg\n", bk, (long double)mu1, (long double)mu2);
    bluescreenMatte(*image, bk, mu1, mu2);
    return 1;
}

} // namespace

FunctionCommand bluescreenCommand("bluescreen", "bluescreen R BK MU1 MU2 (a whole number and two numbers)",
    "pulls a matte from a picture shot against blue", bluescreen);
