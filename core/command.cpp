#include "command.h"

#include <strings.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>

#include "console.h"
#include "registers.h"

namespace {

Command *registryHead = nullptr;

// Commands in registration order; the registry lists them in reverse, so
// whatever order the static objects are built in, lookup and Help see the
// same list.
const char *const registrationOrder[] = {
    "read", "write", "show", "script", "bluescreen", "blur", "composite", "copy",
    "crop", "darken", "difference", "dissolve", "BW", "grays", "primary", "pastel",
    "double", "edgedetect", "half", "rotate", "scale", "sharpen", "Sample", "Help",
    "solid", "image-to-map", "painter", "painter2", "painter3", "open", "IW", "unsharpmask",
};

int registrationRank(const char *name) {
    const int count = sizeof registrationOrder / sizeof registrationOrder[0];
    for (int i = 0; i < count; ++i)
        if (strcasecmp(registrationOrder[i], name) == 0) return i;
    return count;
}

// Bytes 0 to 32 are blanks; bytes from 0x80 up belong to words, so names in
// UTF-8 or any other 8-bit encoding stay whole.
inline bool isBlank(char c) { return (unsigned char)c <= 32; }

// Holds the colour prefix, at most 94 characters of the line and the zero.
constexpr size_t kEchoBytes = 100;
constexpr size_t kFormattedBytes = 500;

int help(char *) {
    for (Command *c = registryHead; c; c = c->next) consolePrint("%s, ", c->name);
    consolePrint("stop\n");
    return 1;
}

int sample(char *args) {
    consolePrint("Sample Command on params `%s'\n", args);
    return 1;
}

FunctionCommand helpCommand("Help", help);
FunctionCommand sampleCommand("Sample", sample);

} // namespace

Command::Command(const char *name) : name(name) {
    const int rank = registrationRank(name);
    Command **link = &registryHead;
    while (*link && registrationRank((*link)->name) > rank) link = &(*link)->next;
    next = *link;
    *link = this;
}

Command *firstCommand() { return registryHead; }

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
    char buffer[kEchoBytes];
    snprintf(buffer, sizeof buffer, CONSOLE_BLUE "%s", line ? line : "");
    consoleAddLine(buffer);

    char *text = buffer + sizeof CONSOLE_BLUE - 1;
    char *end = text + strlen(text);
    while (end > text && (unsigned char)end[-1] < 32) *--end = '\0';
    char *args = splitWord(text);
    if (!args) return 1;
    if (strcasecmp(text, "stop") == 0) exit(1);

    for (Command *c = registryHead; c; c = c->next) {
        if (strcasecmp(text, c->name) != 0) continue;
        clock_t start = clock();
        // Commands allocate their pictures with malloc and check it; memory
        // that a container cannot get ends the command, never the program.
        int result = 1;
        try {
            result = c->execute(args);
        } catch (const std::bad_alloc &) {
            memoryError();
        }
        clock_t stop = clock();
        consolePrintRed("-- %s : %5.2f sec\n", text, (double)(stop - start) / CLOCKS_PER_SEC);
        return result;
    }
    consolePrintRed("Command `%s' not implemented!\n", text);
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
