#include "console.h"

#include <FL/Fl_Multi_Browser.H>

#include <cstdarg>
#include <cstring>

Fl_Multi_Browser *consoleOutput = nullptr;

namespace {

constexpr size_t kLineBytes = 500;
constexpr size_t kPrefixLength = sizeof CONSOLE_BLUE - 1;

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
    va_start(args, format);
    printColoured(CONSOLE_RED, format, args);
    va_end(args);
    return 1;
}

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
