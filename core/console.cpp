#include "console.h"

#include <FL/Fl_Multi_Browser.H>

#include <cstdarg>
#include <cstring>

#include "command.h"

Fl_Multi_Browser *consoleOutput = nullptr;

namespace {

// Room for a message that names the longest path a command line can hold.
constexpr size_t kLineBytes = kMostLineBytes + 512;
constexpr size_t kPrefixLength = sizeof CONSOLE_BLUE - 1;
bool errorPrinted = false;
char firstError[512];

int printColoured(const char *prefix, const char *format, va_list args) {
    if (!consoleOutput) {
        vprintf(format, args);
        return 1;
    }
    char line[kLineBytes];
    memcpy(line, prefix, kPrefixLength);
    vsnprintf(line + kPrefixLength, sizeof line - kPrefixLength, format, args);
    consoleOutput->add(line);
    consoleOutput->bottomline(consoleOutput->size());
    return 1;
}

} // namespace

int consolePrint(const char *format, ...) {
    va_list args;
    va_start(args, format);
    printColoured(CONSOLE_BLACK, format, args);
    va_end(args);
    return 1;
}

int consolePrintRed(const char *format, ...) {
    va_list args;
    if (!errorPrinted) {
        va_start(args, format);
        vsnprintf(firstError, sizeof firstError, format, args);
        va_end(args);
        firstError[strcspn(firstError, "\n")] = '\0';
        errorPrinted = true;
    }
    va_start(args, format);
    printColoured(CONSOLE_RED, format, args);
    va_end(args);
    return 1;
}

int consolePrintRedResult(const char *format, ...) {
    va_list args;
    va_start(args, format);
    printColoured(CONSOLE_RED, format, args);
    va_end(args);
    return 1;
}

bool consoleErrorPrinted() { return errorPrinted; }

const char *consoleFirstError() { return firstError; }

void consoleAddLine(const char *line) {
    if (consoleOutput) consoleOutput->add(line);
}

void writeCommandHistory(FILE *out) {
    if (!consoleOutput) return;
    for (int i = 1; i <= consoleOutput->size(); ++i) {
        const char *text = consoleOutput->text(i);
        if (text && strncmp(text, CONSOLE_BLUE, 3) == 0 && strlen(text) >= kPrefixLength)
            fprintf(out, "%s\n", text + kPrefixLength);
    }
}
