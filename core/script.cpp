#include "script.h"

#include <sys/stat.h>

#include <cstdlib>

#include "command.h"
#include "console.h"

FILE *openScript(const char *path) {
    FILE *in = fopen(path, "r");
    struct stat info;
    if (in && (fstat(fileno(in), &info) != 0 || S_ISDIR(info.st_mode))) {
        fclose(in);
        return nullptr;
    }
    return in;
}

void runScriptLines(FILE *in) {
    // Each line is read whole, however long: one too long to run is refused
    // as a whole by runCommand, and the script goes on at the next line.
    char *line = nullptr;
    size_t capacity = 0;
    while (getline(&line, &capacity, in) >= 0)
        if (!runCommand(line)) break;
    free(line);
}

namespace {

// Scripts that run scripts nest one open file and a few stack frames per
// level; past this depth a nested script is refused as if its file could
// not be opened, long before the stack could run out.
constexpr int kMaxScriptDepth = 200;
int scriptDepth = 0;

int script(const Command &, char *args) {
    splitWord(args);
    FILE *in = scriptDepth < kMaxScriptDepth ? openScript(args) : nullptr;
    if (!in) {
        consolePrintRed("Can't open script `%s'\n", args);
        return 1;
    }
    ++scriptDepth;
    runScriptLines(in);
    --scriptDepth;
    fclose(in);
    return 1;
}

} // namespace

FunctionCommand scriptCommand("script", "script FILE", "runs the lines of FILE as commands", script);
