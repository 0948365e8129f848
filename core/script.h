// Running script files: one command line per line.
#pragma once

#include <cstdio>

// Opens a script file for reading. Null when it cannot be opened or is a
// folder, which fopen opens but which has no lines to read.
FILE *openScript(const char *path);

// Reads and runs lines until end of file, an unreadable line or a command
// that returns 0. Each line is read whole.
void runScriptLines(FILE *in);
