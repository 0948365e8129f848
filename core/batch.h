// Batch runs: one script applied to many pictures, each in a process of its
// own, as `compositor --each SCRIPT --output DIR ... PICTURE...`.
#pragma once

#include <cstdio>

// Runs the batch the program's arguments describe. Returns the exit status:
// 0 when every picture succeeded, 1 when any failed or the run was
// interrupted, 2 for wrong arguments.
int runBatch(int argc, char **argv);

// Every form of the program's command line, one a line, and where the
// manual is.
void printUsage(FILE *out);
