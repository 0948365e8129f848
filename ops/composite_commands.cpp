// The command composite.
#include <cstdio>

#include "composite.h"
#include "core/command.h"
#include "core/console.h"
#include "core/registers.h"

namespace {

// The next word of the line; the empty word at its end.
char *nextWord(char *word) {
    static char none[] = "";
    char *rest = splitWord(word);
    return rest ? rest : none;
}

int composite(const Command &, char *args) {
    char *opWord = nextWord(args);
    char *secondName = nextWord(opWord);
    char *offsets = nextWord(secondName);
    int x = 0, y = 0; // missing offsets place A at B's top-left corner
    sscanf(offsets, "%d %d", &x, &y);

    Image *a = lookupRegister(args);
    Image *b = lookupRegister(secondName);
    if (!a || !b) {
        consolePrintRed("%s not a valid image\n", a ? secondName : args);
        return 1;
    }
    int op = parseCompositeOp(opWord);
    if (op < 0) {
        consolePrintRed("%s not a valid composite operation\n", opWord);
        return 1;
    }
    compositeImages(*a, *b, op, x, y);
    return 1;
}

} // namespace

FunctionCommand compositeCommand("composite", "composite R1 OP R2 [X Y]",
    "combines R1 into R2 with a compositing operator", composite);
