// Program entry: no argument starts the windowed mode, one runs a script.
#include <cstdio>

#include "console.h"
#include "script.h"
#include "ui/gui.h"

int main(int argc, char **argv) {
    if (argc == 1) {
        if (!runGui()) return 1;
    } else if (argc == 2) {
        FILE *in = openScript(argv[1]);
        if (in) {
            consolePrintRed("=== Reading from file:%s ===\n", argv[1]);
            runScriptLines(in);
            fclose(in);
        } else {
            consolePrintRed("=== FAILED TO OPEN FILE: %s ===\n", argv[1]);
        }
    } else {
        consolePrintRed("=== FAILED: %s doesn't know what to do with %d args! ===\n", argv[0], argc - 1);
    }
    consolePrintRed("=== DONE! ===\n");
    return 0;
}
