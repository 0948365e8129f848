#include "script.h"

#include <sys/stat.h>

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
    char line[256];
    while (!feof(in)) {
        if (!fgets(line, 255, in)) return;
        if (!runCommand(line)) return;
    }
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
