// Console output: coloured lines in the console window's list, or plain text
// on standard output while there is no console (script mode).
#pragma once

#include <cstdio>

class Fl_Multi_Browser;

// The console's output list; null until the windowed mode builds the console.
extern Fl_Multi_Browser *consoleOutput;

// Browser format prefixes that colour a console line.
#define CONSOLE_BLUE "@C4@."
#define CONSOLE_BLACK "@C0@."
#define CONSOLE_RED "@C1@."

// One black (notes, listings) or red (errors, results, timing) line; always 1.
int consolePrint(const char *format, ...) __attribute__((format(printf, 1, 2)));
int consolePrintRed(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Adds a line, prefix included, to the console list without scrolling it.
void consoleAddLine(const char *line);

// Writes every echoed command line of the console as a replayable script.
void writeCommandHistory(FILE *out);
