#include "script.h"

#include "command.h"
#include "console.h"

void runScriptLines(FILE *in) {
    char line[256];
    while (!feof(in)) {
        if (!fgets(line, 255, in)) return;
        if (!runCommand(line)) return;
    }
}

namespace {

int script(char *args) {
    splitWord(args);
    FILE *in = fopen(args, "r");
    if (!in) {
        consolePrintRed("Can't open script `%s'\n", args);
        return 1;
    }
    runScriptLines(in);
    fclose(in);
    return 1;
}

FunctionCommand scriptCommand("script", script);

} // namespace
