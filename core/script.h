// Running script files: one command line per line.
#pragma once

#include <cstdio>

// Reads and runs lines until end of file, an unreadable line or a command
// that returns 0. A line longer than 254 characters runs in pieces.
void runScriptLines(FILE *in);
