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

// One black (notes, listings) or red (errors) line; always 1.
int consolePrint(const char *format, ...) __attribute__((format(printf, 1, 2)));
int consolePrintRed(const char *format, ...) __attribute__((format(printf, 1, 2)));
// A red line that reports no error: a timing line, a file written, the
// script's start and end; always 1.
int consolePrintRedResult(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Whether any error line (consolePrintRed) has been printed so far: the
// exit status of a script run says whether every command did what it was
// asked.
bool consoleErrorPrinted();
// The first error line printed, without its newline; empty when none was.
const char *consoleFirstError();

// Adds a line, prefix included, to the console list without scrolling it.
void consoleAddLine(const char *line);

// Writes every echoed command line of the console as a replayable script.
void writeCommandHistory(FILE *out);
