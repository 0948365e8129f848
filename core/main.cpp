// Program entry: no argument starts the windowed mode, pictures open in it,
// one script runs headless, and --each runs a script on many pictures.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "batch.h"
#include "console.h"
#include "image/image_file.h"
#include "script.h"
#include "ui/gui.h"

namespace {

// Runs the script file; 0 when every command did what it was asked, 1 when
// one reported an error, 2 when the file cannot be opened.
int runScriptFile(const char *path) {
    FILE *in = openScript(path);
    if (!in) {
        consolePrintRed("=== FAILED TO OPEN FILE: %s ===\n", path);
        return 2;
    }
    consolePrintRedResult("=== Reading from file:%s ===\n", path);
    runScriptLines(in);
    fclose(in);
    return consoleErrorPrinted() ? 1 : 0;
}

} // namespace

int main(int argc, char **argv) {
    const char *first = argc > 1 ? argv[1] : "";
    if (strcmp(first, "--help") == 0) {
        printUsage(stdout);
        return 0;
    }
    if (strcmp(first, "--version") == 0) {
        printf("compositor %s\n", COMPOSITOR_VERSION);
        return 0;
    }
    if (strncmp(first, "--", 2) == 0) return runBatch(argc, argv);
    if (first[0] == '-') {
        fprintf(stderr, "compositor: unknown option %s\n", first);
        printUsage(stderr);
        return 2;
    }

    std::vector<std::string> pictures;
    for (int i = 1; i < argc; ++i)
        if (isPictureFile(argv[i])) pictures.push_back(argv[i]);
    int status = 0;
    if (argc == 1 || (int)pictures.size() == argc - 1) {
        if (!runGui(pictures)) return 1;
    } else if (argc == 2) {
        status = runScriptFile(argv[1]);
    } else {
        consolePrintRed("=== FAILED: %s doesn't know what to do with %d args! ===\n", argv[0], argc - 1);
        status = 2;
    }
    consolePrintRedResult("=== DONE! ===\n");
    return status;
}
