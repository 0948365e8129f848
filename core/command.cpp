#include "command.h"

#include <strings.h>

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>

#include "console.h"
#include "registers.h"

namespace {

// Built on first use, so that commands can be registered from any file's
// static initialisation.
std::vector<Command *> &registry() {
    static std::vector<Command *> commands;
    return commands;
}

void (*commandWatcher)(bool running) = nullptr;

// Bytes 0 to 32 are blanks; bytes from 0x80 up belong to words, so names in
// UTF-8 or any other 8-bit encoding stay whole.
inline bool isBlank(char c) { return (unsigned char)c <= 32; }

// A formatted line: the longest line that runs, with room for a newline.
constexpr size_t kFormattedBytes = kMostLineBytes + 2;

int help(const Command &, char *) {
    for (const Command *c : registry()) consolePrint("%s, ", c->name);
    consolePrint("stop\n");
    return 1;
}

int sample(const Command &, char *args) {
    consolePrint("Sample Command on params `%s'\n", args);
    return 1;
}

} // namespace

FunctionCommand helpCommand("Help", nullptr, "lists the commands", help);
FunctionCommand sampleCommand("Sample", "Sample ANY TEXT", "shows its argument text as a command receives it", sample);

int Command::usageError() const {
    consolePrintRed("Usage: %s\n", usage);
    return 1;
}

void registerCommands(std::initializer_list<Command *> commands) {
    registry().insert(registry().end(), commands.begin(), commands.end());
}

const std::vector<Command *> &registeredCommands() { return registry(); }

void watchCommands(void (*watch)(bool running)) { commandWatcher = watch; }

Command *findCommand(const char *word) {
    for (Command *c : registry())
        if (strcasecmp(word, c->name) == 0) return c;
    return nullptr;
}

char *splitWord(char *s) {
    if (!s || !*s) return nullptr;
    char *end = s;
    while (*end && !isBlank(*end)) ++end;
    char *rest = end;
    while (*rest && isBlank(*rest)) ++rest;
    *end = '\0';
    return rest;
}

int runCommand(const char *line) {
    if (!line) line = "";
    size_t length = strlen(line);
    while (length > 0 && (unsigned char)line[length - 1] < 32) --length;
    // The echo shows the line as it came, its newline say; a line too long
    // to run shows its first kMostLineBytes bytes and one more.
    char buffer[sizeof CONSOLE_BLUE + kMostLineBytes + 1];
    snprintf(buffer, sizeof buffer, CONSOLE_BLUE "%s", line);
    consoleAddLine(buffer);
    if (length > kMostLineBytes) {
        consolePrintRed("Command line of %zu bytes not run: the most is %zu\n", length, kMostLineBytes);
        return 1;
    }
    char *text = buffer + sizeof CONSOLE_BLUE - 1;
    text[length] = '\0';
    char *args = splitWord(text);
    if (!args) return 1;
    if (strcasecmp(text, "stop") == 0) exit(1);

    Command *command = findCommand(text);
    if (!command) {
        consolePrintRed("Command `%s' not implemented!\n", text);
        return 1;
    }
    if (commandWatcher) commandWatcher(true);
    clock_t start = clock();
    // Out of memory, operations change nothing and return false; a list
    // that cannot grow where no operation catches it ends the command,
    // never the program.
    int result = 1;
    try {
        result = command->execute(args);
    } catch (const std::bad_alloc &) {
        memoryError();
    }
    clock_t stop = clock();
    if (commandWatcher) commandWatcher(false);
    consolePrintRedResult("-- %s : %5.2f sec\n", text, (double)(stop - start) / CLOCKS_PER_SEC);
    return result;
}

int runCommandLine(const Command &command, const char *format, ...) {
    char line[kFormattedBytes];
    size_t n = 0;
    for (const char *c = command.name; *c && n < sizeof line / 2; ++c) line[n++] = (char)tolower((unsigned char)*c);
    line[n] = '\0';
    if (format) {
        line[n++] = ' ';
        va_list args;
        va_start(args, format);
        vsnprintf(line + n, sizeof line - n, format, args);
        va_end(args);
    }
    runCommand(line);
    return 1;
}

int runFormatted(const char *format, ...) {
    char line[kFormattedBytes];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    runCommand(line);
    return 1;
}
